// The core's decisions, run from tables of key events against the recording world of
// fake_layers: what the launcher does, in order, for every gesture, tap, notice, return from
// an app and termination. Every case runs twice: once with the clock far from its wrap, once
// with the 32-bit millisecond count wrapping in the middle of the script.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <functional>

#include "base/clock.h"
#include "base/log_lines.h"
#include "base/timings.h"
#include "base/version.h"
#include "core/escape.h"
#include "core/hold.h"
#include "core/launcher.h"
#include "core/menu_nav.h"
#include "core/state.h"
#include "fake_layers.h"
#include "hw/keys_logic.h"
#include "hw/osd.h"

namespace {

using fake::press;
using fake::release;
using fake::video;
using fake::w;
using Effects = std::vector<std::string>;

constexpr int32_t NORMAL = 1, HDMI = 2, AV = 3;
constexpr uint32_t AV_ONLY = APP_MODE_AV, BOTH = APP_MODE_NORMAL | APP_MODE_AV;
// 700 ms into every script the millisecond count wraps.
constexpr int32_t ORIGINS[] = {10000, INT32_MAX - 699};

// The launcher started with `args` after its name; its status. The termination handlers it
// installs are taken back: the test's end is not theirs.
int launch(std::vector<const char*> args) {
    args.insert(args.begin(), "vornax-launcher");
    const int status = launcher_start(static_cast<int>(args.size()), args.data());
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    return status;
}

// The launcher up in `mode` with `apps` on disk; the start-up's own effects dropped.
void start(int32_t mode, std::vector<AppEntry> apps, int32_t origin) {
    fake::reset(origin);
    w.mode = mode;
    w.catalogue = std::move(apps);
    ASSERT_EQ(launch({}), 0);
    w.effects.clear();
}

// Plays a script from now on, until `until_ms` of it.
void play(std::vector<fake::KeyStep> script, int32_t until_ms) {
    w.origin = w.now;
    w.script = std::move(script);
    w.next_step = 0;
    fake::run_until(until_ms);
}

// A 1.6 s PLAY hold opens the menu; its effects dropped.
void open_menu() {
    play({press(0, KEY_PLAY), release(1600)}, 1700);
    ASSERT_EQ(g_launcher.ui_state, UI_MENU);
    w.effects.clear();
}

const std::vector<AppEntry> TWO = {fake::app("alpha"), fake::app("bravo")};

struct Gesture {
    const char* name;
    int32_t mode;
    std::vector<AppEntry> apps;
    std::function<void()> setup; // after start-up (and the menu, if open), before the script
    std::vector<fake::KeyStep> script;
    int32_t until_ms;
    Effects effects;
    int32_t ui_after;
    friend void PrintTo(const Gesture& c, std::ostream* os) { *os << c.name; }
};

class Gestures : public ::testing::TestWithParam<std::tuple<Gesture, int32_t>> {
  protected:
    void run(bool in_the_menu) {
        const auto& [c, origin] = GetParam();
        start(c.mode, c.apps, origin);
        if (in_the_menu) open_menu();
        if (c.setup) c.setup();
        play(c.script, c.until_ms);
        EXPECT_EQ(w.effects, c.effects);
        EXPECT_EQ(g_launcher.ui_state, c.ui_after);
    }
};

TEST_P(Gestures, FromIdle) {
    run(false);
}

class InTheMenu : public Gestures {};

TEST_P(InTheMenu, FromTheOpenMenu) {
    run(true);
}

// An idle hold's passes come every POLL_IDLE_US from the press: the pass that acts on a
// threshold is the first at or after it, and a release at script time t is seen in the pass
// at t, after the pass before it.
constexpr int32_t IDLE_PASS_MS = static_cast<int32_t>(POLL_IDLE_US / 1000);
constexpr int32_t pass_at_or_after(int32_t ms) {
    return (ms + IDLE_PASS_MS - 1) / IDLE_PASS_MS * IDLE_PASS_MS;
}
constexpr int32_t pass_before(int32_t ms) {
    return (ms - 1) / IDLE_PASS_MS * IDLE_PASS_MS;
}
constexpr int32_t BLOCKED_AT = pass_at_or_after(HOLD_BLOCK_MS);
constexpr int32_t OPENED_AT = pass_at_or_after(HOLD_OPEN_MS);
// "[panel FIRST-LAST]": the progress panel drawn on every pass from the one that blocked the
// buttons to the one before `until`.
std::string panels(int32_t until) {
    return "[panel " + std::to_string(BLOCKED_AT) + "-" + std::to_string(pass_before(until)) + "]";
}
const std::string KEYS_BLOCKED = "hold: keys blocked at " + std::to_string(BLOCKED_AT) + " ms";

const Effects BLOCKED = {"[mode 1]", "[tone start 0]", "[pause]", KEYS_BLOCKED};
const Effects AV_BLOCKED = {"[mode 3]", "[tone start 0]", "[pause]", KEYS_BLOCKED};

Effects then(Effects a, const Effects& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// clang-format off
const Gesture OPENING[] = {
    {"released before the buttons are taken", NORMAL, TWO, nullptr,
     {press(0, KEY_PLAY), release(400)}, 1000,
     {"[mode 1]", "[tone start 0]", "[tone stop]", "hold aborted (release, 400 ms)"}, UI_IDLE},
    {"released in the panel's window", NORMAL, TWO, nullptr,
     {press(0, KEY_PLAY), release(1000)}, 2000,
     then(BLOCKED, {panels(1000), "[tone stop]", "[resume]", "keys resumed", "[pan back]",
                    "hold aborted (release, 1000 ms)"}),
     UI_IDLE},
    {"another button before the buttons are taken", NORMAL, TWO, nullptr,
     {press(0, KEY_PLAY), press(300, KEY_MIDDLE), release(400)}, 1000,
     {"[mode 1]", "[tone start 0]", "[tone stop]", "hold aborted (key, 0 ms)"}, UI_IDLE},
    {"another button once the panel shows", NORMAL, TWO, nullptr,
     {press(0, KEY_PLAY), press(800, KEY_UP), release(900)}, 1600,
     then(BLOCKED, {panels(800), "[tone stop]", "[resume]", "keys resumed", "[pan back]",
                    "hold aborted (key, 0 ms)"}),
     UI_IDLE},
    {"held on opens the framebuffer menu", NORMAL, TWO, nullptr,
     {press(0, KEY_PLAY), release(2000)}, 2500,
     then(BLOCKED, {panels(HOLD_OPEN_MS), "[scan 1]", "[menu sel=0]", "[beep 0]",
                    "menu open (hold play, 2 apps)"}),
     UI_MENU},
    {"AV: no panel, the overlay from the second allowed entry", AV,
     {fake::app("a", AV_ONLY), fake::app("b", BOTH), fake::app("c")}, nullptr,
     {press(0, KEY_PLAY), release(2000)}, 2500,
     then(AV_BLOCKED, {"[scan 3]", "[osd open sel=1]", "[beep 0]", "menu OSD open (av, 3 apps)"}),
     UI_MENU},
    {"AV: only the first entry allowed keeps it", AV,
     {fake::app("a", AV_ONLY), fake::app("b"), fake::app("c")}, nullptr,
     {press(0, KEY_PLAY)}, 1600,
     then(AV_BLOCKED, {"[scan 3]", "[osd open sel=0]", "[beep 0]", "menu OSD open (av, 3 apps)"}),
     UI_MENU},
    {"HDMI refuses", HDMI, TWO, nullptr, {press(0, KEY_PLAY), release(2000)}, 2500,
     {"[mode 2]", "menu refused: mode=2"}, UI_IDLE},
    {"an unknown mode refuses", 0, TWO, nullptr, {press(0, KEY_PLAY)}, 2000,
     {"[mode 0]", "menu refused: mode=0"}, UI_IDLE},
    {"no hold while an app runs", NORMAL, TWO, [] { w.app_alive = true; },
     {press(0, KEY_PLAY)}, 2000, {}, UI_IDLE},
    {"an app comes up before the buttons are taken", NORMAL, TWO, [] { w.alive_from_ms = 300; },
     {press(0, KEY_PLAY)}, 2000,
     {"[mode 1]", "[tone start 0]", "[tone stop]", "hold cancelled: app started mid-hold"},
     UI_IDLE},
    {"an app comes up once the panel shows", NORMAL, TWO, [] { w.alive_from_ms = 700; },
     {press(0, KEY_PLAY)}, 2000,
     then(BLOCKED, {panels(700), "[tone stop]", "hold cancelled: app started mid-hold",
                    "[resume]", "keys resumed", "[pan back]"}),
     UI_IDLE},
    {"no framebuffer: no panel, the menu refused", NORMAL, TWO,
     [] {
         w.fb_open = false;
         w.fb_opens = false;
     },
     {press(0, KEY_PLAY)}, 1600,
     then(BLOCKED, {"[fb open fails] x" + std::to_string((OPENED_AT - BLOCKED_AT) / IDLE_PASS_MS),
                    "[scan 1]", "[fb open fails]", "[tone stop]",
                    "[resume]", "fb0 init fail — menu refused"}),
     UI_IDLE},
    {"no overlay: the menu refused", AV, TWO, [] { w.osd_opens = false; },
     {press(0, KEY_PLAY)}, 1600,
     then(AV_BLOCKED, {"[scan 3]", "[osd open fails]", "[tone stop]", "[resume]",
                       "keys resumed", "osd menu open fail"}),
     UI_IDLE},
};
// clang-format on

std::string case_name(const ::testing::TestParamInfo<std::tuple<Gesture, int32_t>>& info) {
    std::string n = std::get<0>(info.param).name;
    for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n + (std::get<1>(info.param) == ORIGINS[0] ? "" : "_at_wrap");
}

// Every case of a table, from both origins.
template <size_t N> auto from_both_origins(const Gesture (&cases)[N]) {
    return ::testing::Combine(::testing::ValuesIn(cases), ::testing::ValuesIn(ORIGINS));
}

INSTANTIATE_TEST_SUITE_P(Opening, Gestures, from_both_origins(OPENING), case_name);

const std::vector<AppEntry> AV_TWO = {fake::app("alpha", BOTH), fake::app("bravo", BOTH)};
// A log line as the stand-in keeps it, without its line feed.
std::string logged(const char* form) {
    const std::string l = form;
    return l.substr(0, l.size() - 1);
}
const Effects CLOSED = {"[beep 1]", "[resume]", "keys resumed", "[pan back]",
                        logged(LOG_MENU_CLOSED.c_str())};

// clang-format off
const Gesture CLOSING[] = {
    {"3 s closes", NORMAL, TWO, nullptr, {press(0, KEY_PLAY), release(3300)}, 3600,
     then({"[tone start 1]"}, CLOSED), UI_IDLE},
    {"closed, a new hold takes the buttons anew", NORMAL, TWO, nullptr,
     {press(0, KEY_PLAY), release(3300), press(3400, KEY_PLAY), release(4000)}, 4200,
     then(then({"[tone start 1]"}, CLOSED),
          then(BLOCKED, {panels(600), "[tone stop]", "[resume]", "keys resumed", "[pan back]",
                         "hold aborted (release, 600 ms)"})),
     UI_IDLE},
    {"released at 2 s keeps the menu", NORMAL, TWO, nullptr,
     {press(0, KEY_PLAY), release(2000)}, 4000,
     {"[tone start 1]", "[tone stop]", "hold aborted (menu release, 2010 ms)"}, UI_MENU},
    {"sliding onto UP ends it, and the tap moves", NORMAL, TWO, nullptr,
     {press(0, KEY_PLAY), press(600, KEY_UP), release(750)}, 4000,
     {"[tone start 1]", "[tone stop]", "hold aborted (menu release, 600 ms)", "[menu sel=1]"},
     UI_MENU},
    {"AV: 3 s closes the overlay", AV, AV_TWO, nullptr, {press(0, KEY_PLAY)}, 3100,
     {"[tone start 1]", "[beep 1]", "[osd close]", "[resume]", "keys resumed",
      logged(LOG_MENU_CLOSED.c_str())},
     UI_IDLE},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Closing, InTheMenu, from_both_origins(CLOSING), case_name);

// On the framebuffer the selection visits every entry; on the overlay only the allowed ones.
const std::vector<AppEntry> MIXED = {fake::app("a"), fake::app("b", AV_ONLY), fake::app("c")};
const std::vector<AppEntry> AV_MIXED = {fake::app("a", AV_ONLY), fake::app("b"),
                                        fake::app("c", AV_ONLY)};

std::vector<fake::KeyStep> taps(std::vector<int32_t> keys) {
    std::vector<fake::KeyStep> s;
    for (size_t i = 0; i < keys.size(); ++i) {
        const int32_t at = static_cast<int32_t>(i) * 300;
        s.push_back(press(at, keys[i]));
        s.push_back(release(at + 150));
    }
    return s;
}

// clang-format off
const Gesture NAVIGATION[] = {
    {"taps move with wrap-around", NORMAL, MIXED, nullptr,
     taps({KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_UP}), 1500,
     {"[menu sel=1]", "[menu sel=2]", "[menu sel=0]", "[menu sel=2]"}, UI_MENU},
    {"a press longer than a tap does nothing", NORMAL, MIXED, nullptr,
     {press(0, KEY_DOWN), release(480), press(600, KEY_DOWN), release(1050)}, 1500,
     {"[menu sel=1]"}, UI_MENU},
    {"a refused start shows the notice for 1.5 s", NORMAL, MIXED, nullptr,
     taps({KEY_DOWN, KEY_MIDDLE}), 3000,
     {"[menu sel=1]", "[menu sel=1 notice]", "[menu sel=1]"}, UI_MENU},
    {"BACK and PLAY taps do not navigate", NORMAL, MIXED, nullptr,
     taps({KEY_BACK, KEY_PLAY}), 1000,
     {"[tone start 1]", "[tone stop]", "hold aborted (menu release, 150 ms)"}, UI_MENU},
    {"an empty catalogue: moves redraw, MIDDLE does nothing", NORMAL, {}, nullptr,
     taps({KEY_MIDDLE, KEY_DOWN, KEY_UP}), 1200, {"[menu sel=0]", "[menu sel=-1]"}, UI_MENU},
    {"overlay: moves among the allowed entries", AV, AV_MIXED, nullptr,
     taps({KEY_DOWN, KEY_DOWN, KEY_UP}), 1200,
     {"[osd rows sel=0]", "[osd rows sel=2]", "[osd rows sel=0]"}, UI_MENU},
    {"overlay with nothing allowed: rows only, MIDDLE does nothing", AV, TWO, nullptr,
     taps({KEY_DOWN, KEY_MIDDLE, KEY_UP}), 1200, {"[osd rows sel=0] x2"},
     UI_MENU},
    {"a failed launch keeps the menu as it was", NORMAL, TWO, [] { w.launch_pid = -1; },
     taps({KEY_MIDDLE}), 600, {"[launch alpha fails]"}, UI_MENU},
    {"a failed launch from the overlay shows it again", AV, AV_TWO, [] { w.launch_pid = -1; },
     taps({KEY_MIDDLE}), 600, {"[osd close]", "[launch bravo fails]", "[osd open sel=1]"},
     UI_MENU},
    {"...and with the overlay gone gives the goggles back", AV, AV_TWO,
     [] {
         w.launch_pid = -1;
         w.osd_opens = false;
     },
     taps({KEY_MIDDLE}), 600,
     {"[osd close]", "[launch bravo fails]", "[osd open fails]", "osd menu open fail", "[resume]",
      "keys resumed"},
     UI_IDLE},
    {"the menu comes back in AV mode on the next allowed entry", AV, AV_TWO, nullptr,
     taps({KEY_MIDDLE}), 1000,
     {"[osd close]", "[launch bravo]", "[reaped bravo]", "[buzzer off]", "[mode 3]", "[scan 3]",
      "[osd open sel=0]", "menu OSD open po child (2 apps)", "[pause]"},
     UI_MENU},
    {"...and without the overlay the goggles get everything back", AV, AV_TWO,
     [] { w.osd_opens = false; }, taps({KEY_MIDDLE}), 1000,
     {"[osd close]", "[launch bravo]", "[reaped bravo]", "[buzzer off]", "[mode 3]", "[scan 3]",
      "[osd open fails]", "osd menu open fail po child", "[resume]", "keys resumed"},
     UI_IDLE},
    {"an app ending in NORMAL mode after AV opens the framebuffer", AV, AV_TWO, nullptr,
     {press(0, KEY_MIDDLE), release(150), video(300, NORMAL)}, 1000,
     {"[osd close]", "[launch bravo]", "[reaped bravo]", "[buzzer off]", "[mode 1]", "[scan 1]", "[fb open]",
      "[menu sel=1]", "[pause]"},
     UI_MENU},
    {"...or gives everything back when it cannot", AV, AV_TWO, [] { w.fb_opens = false; },
     {press(0, KEY_MIDDLE), release(150), video(300, NORMAL)}, 1000,
     {"[osd close]", "[launch bravo]", "[reaped bravo]", "[buzzer off]", "[mode 1]", "[scan 1]",
      "[fb open fails]", "menu skip po child (mode=1)", "[resume]", "keys resumed"},
     UI_IDLE},
    {"an app ending with the mode unknown", NORMAL, TWO, nullptr,
     {press(0, KEY_MIDDLE), release(150), video(300, 0)}, 1000,
     {"[launch alpha]", "[reaped alpha]", "[buzzer off]", "[mode 0]", "[scan 0]", "menu skip po child (mode=0)",
      "[resume]", "keys resumed", "[pan back]"},
     UI_IDLE},
};
// clang-format on

// A press begun while an app runs stays the app's, even when the app ends before its
// release and the menu is back by then: the release moves nothing and starts nothing. The
// app runs from 150 ms to 550 ms; the key goes down at 450.
const Effects BACK_IN_NORMAL = {"[launch alpha]", "[reaped alpha]", "[buzzer off]", "[mode 1]",
                                "[scan 1]",       "[menu sel=0]",   "[pause]"};
// clang-format off
const Gesture ACROSS_THE_END[] = {
    {"MIDDLE pressed in the app starts nothing in the menu", NORMAL, TWO,
     [] { w.app_runs_ms = 400; },
     {press(0, KEY_MIDDLE), release(150), press(450, KEY_MIDDLE), release(650)}, 1500,
     BACK_IN_NORMAL, UI_MENU},
    {"PLAY pressed in the app starts no hold in the menu", NORMAL, TWO,
     [] { w.app_runs_ms = 400; },
     {press(0, KEY_MIDDLE), release(150), press(450, KEY_PLAY), release(4000)}, 4500,
     BACK_IN_NORMAL, UI_MENU},
    {"DOWN pressed in the app moves nothing, a tap begun in the menu after the return acts",
     NORMAL, TWO, [] { w.app_runs_ms = 400; },
     {press(0, KEY_MIDDLE), release(150), press(450, KEY_DOWN), release(650),
      press(800, KEY_DOWN), release(950)},
     1500, then(BACK_IN_NORMAL, {"[menu sel=1]"}), UI_MENU},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(AcrossTheAppsEnd, InTheMenu, from_both_origins(ACROSS_THE_END), case_name);

// The way out of a hung app: PLAY held 10 s while it runs.
// The app starts in the pass of MIDDLE's release and PLAY is seen down 150 ms later: an app
// that runs 10141 to 10170 ms is first seen ended in the pass where the hold reaches 10 s.
constexpr int32_t APP_ENDS_AT_THE_ESCAPE_MS = 10160;
std::string stopped(const char* app) {
    char line[128];
    std::snprintf(line, sizeof line, LOG_APP_STOPPED.c_str(), app);
    return logged(line);
}
const Effects STOPPED = {"[launch alpha]", "[signal app TERM]", stopped("alpha"), "[beep 1]"};
const Effects BACK = {"[reaped alpha]", "[buzzer off]", "[mode 1]",
                      "[scan 1]",       "[menu sel=0]", "[pause]"};
const Effects KILLED = then(then(STOPPED, {"[signal app KILL]"}), BACK);
// MIDDLE starts the app; PLAY goes down 150 ms later and comes up at `up_ms`.
std::vector<fake::KeyStep> play_held_in_app(int32_t up_ms) {
    return {press(0, KEY_MIDDLE), release(150), press(300, KEY_PLAY), release(up_ms)};
}
// An app that runs until it is ended; one that ignores the escape's SIGTERM as well; one that
// dies of it while a program it started ignores it.
void runs_on() {
    w.app_runs_ms = 60000;
}
void ignores_term() {
    runs_on();
    w.app_ignores_term = true;
}
void wraps_stubborn() {
    runs_on();
    w.app_wraps_stubborn = true;
}
// clang-format off
const Gesture ESCAPES[] = {
    {"PLAY held 10 s ends the app", NORMAL, TWO, runs_on, play_held_in_app(12000), 13000,
     then(STOPPED, BACK), UI_MENU},
    {"an app that ignores SIGTERM is killed 2 s later", NORMAL, TWO, ignores_term,
     play_held_in_app(12000), 13000, KILLED, UI_MENU},
    {"a wrapper whose program ignores SIGTERM is collected after the group's SIGKILL", NORMAL,
     TWO, wraps_stubborn, play_held_in_app(12000), 13000, KILLED, UI_MENU},
    {"a shorter hold is the app's own", NORMAL, TWO, runs_on, play_held_in_app(10280), 13000,
     {"[launch alpha]"}, UI_APP},
    {"sliding off PLAY is letting it go", NORMAL, TWO, runs_on,
     {press(0, KEY_MIDDLE), release(150), press(300, KEY_PLAY), press(5000, KEY_DOWN),
      release(12000)},
     13000, {"[launch alpha]"}, UI_APP},
    {"the next app, with the same pid, owes nothing to the last one's escape", NORMAL, TWO,
     ignores_term,
     {press(0, KEY_MIDDLE), release(150), press(300, KEY_PLAY), release(10400),
      press(13000, KEY_MIDDLE), release(13150)},
     16000, then(KILLED, {"[launch alpha]"}), UI_APP},
    {"an app that ends by itself at 9 s is not signalled", NORMAL, TWO,
     [] { w.app_runs_ms = 9000; }, play_held_in_app(12000), 13000,
     then({"[launch alpha]"}, BACK), UI_MENU},
    {"an app that ends by itself in the pass PLAY reaches 10 s is not signalled", NORMAL, TWO,
     [] { w.app_runs_ms = APP_ENDS_AT_THE_ESCAPE_MS; }, play_held_in_app(12000), 13000,
     then({"[launch alpha]"}, BACK), UI_MENU},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Escape, InTheMenu, from_both_origins(ESCAPES), case_name);

INSTANTIATE_TEST_SUITE_P(Navigation, InTheMenu, from_both_origins(NAVIGATION), case_name);

// The tap limit, to the millisecond: the loop's passes cannot place a release there.
TEST(Taps, LastUpTo450Ms) {
    start(NORMAL, TWO, ORIGINS[0]);
    open_menu();
    g_launcher.press_in_menu = true;
    nav_on_release(KEY_DOWN, 451);
    EXPECT_EQ(w.effects, Effects{});
    nav_on_release(KEY_DOWN, 450);
    EXPECT_EQ(w.effects, Effects{"[menu sel=1]"});
}

// Each threshold takes effect at the first pass at or after it: passes placed one
// millisecond either side of them.
TEST(Hold, ThresholdsToTheMillisecond) {
    struct Step {
        int32_t e;
        Effects effects;
    };
    const std::string at_block = std::to_string(HOLD_BLOCK_MS);
    const std::vector<Step> opening = {
        {HOLD_BLOCK_MS - 1, {}},
        {HOLD_BLOCK_MS,
         {"[pause]", "hold: keys blocked at " + at_block + " ms", "[panel " + at_block + "]"}},
        {HOLD_PANEL_LAST_MS, {"[panel " + std::to_string(HOLD_PANEL_LAST_MS) + "]"}},
        {HOLD_OPEN_MS, {"[scan 1]", "[menu sel=0]", "[beep 0]", "menu open (hold play, 2 apps)"}},
    };
    // The passes 1 ms before and at `threshold` ms after `from`, through `advance`: nothing,
    // then `effects`.
    const auto edge = [](const char* what, int32_t from, int32_t threshold, void (*advance)(),
                         const Effects& effects) {
        for (const int32_t e : {threshold - 1, threshold}) {
            w.effects.clear();
            w.now = ms_after(from, e);
            advance();
            EXPECT_EQ(w.effects, e < threshold ? Effects{} : effects) << what << ", " << e << " ms";
        }
    };
    for (int32_t origin : ORIGINS) {
        start(NORMAL, TWO, origin);
        hold_on_press_idle(KEY_PLAY);
        const int32_t t0 = w.now;
        for (const Step& step : opening) {
            w.effects.clear();
            w.now = ms_after(t0, step.e);
            hold_advance();
            EXPECT_EQ(w.effects, step.effects) << "opening, " << step.e << " ms";
        }
        hold_on_press_menu(KEY_PLAY);
        edge("closing", w.now, HOLD_CLOSE_MS, hold_advance, CLOSED);
        // The escape from an app, pressed at t2, after a pass in the menu as the loop makes.
        escape_advance();
        w.launch_pid = 99;
        g_launcher.press_in_menu = true;
        nav_on_release(KEY_MIDDLE, 100);
        ignores_term();
        escape_on_press(KEY_PLAY);
        const int32_t t2 = w.now;
        edge("escape", t2, ESCAPE_HOLD_MS, escape_advance,
             Effects(STOPPED.begin() + 1, STOPPED.end()));
        // ...and the SIGKILL for an app that ignores the SIGTERM, counted from the SIGTERM.
        edge("kill", ms_after(t2, ESCAPE_HOLD_MS), ESCAPE_KILL_AFTER_MS, escape_advance,
             {"[signal app KILL]"});
    }
}

// The rising tone follows the hold pass by pass, from the pass of the press; the loop sleeps
// 40 ms a pass while idle and 30 ms from the pass that opens the menu.
TEST(Passes, ToneEveryPassAndTheLoopsSleep) {
    start(NORMAL, TWO, ORIGINS[1]);
    play({press(0, KEY_PLAY)}, OPENED_AT + 200);
    // Idle sleeps after each pass before the one that opens the menu.
    std::vector<uint32_t> tones, sleeps(OPENED_AT / IDLE_PASS_MS, POLL_IDLE_US);
    for (int32_t e = 0; e <= OPENED_AT; e += IDLE_PASS_MS)
        tones.push_back(static_cast<uint32_t>(e));
    EXPECT_EQ(w.tone_elapsed, tones);
    sleeps.resize(w.sleeps_us.size(), POLL_ACTIVE_US);
    EXPECT_EQ(w.sleeps_us, sleeps);
}

struct Termination {
    const char* name;
    int32_t mode;
    std::vector<fake::KeyStep> script; // from idle, to the state the signal finds
    int32_t at_ms;
    Effects effects;
    friend void PrintTo(const Termination& c, std::ostream* os) { *os << c.name; }
};

class Terminated : public ::testing::TestWithParam<Termination> {};

TEST_P(Terminated, GivesBackWhatTheLauncherHolds) {
    const Termination& c = GetParam();
    start(c.mode, AV_TWO, ORIGINS[0]);
    play(c.script, c.at_ms);
    w.effects.clear();
    release_for_exit();
    EXPECT_EQ(w.effects, c.effects);
}

// clang-format off
const Termination TERMINATIONS[] = {
    {"idle", NORMAL, {}, 0, {"[buzzer off]", "[resume]"}},
    {"the progress panel on screen", NORMAL, {press(0, KEY_PLAY)}, 800,
     {"[buzzer off]", "[pan back]", "[resume]"}},
    {"the framebuffer menu", NORMAL, {press(0, KEY_PLAY), release(1700)}, 1800,
     {"[buzzer off]", "[pan back]", "[resume]"}},
    {"the overlay menu", AV, {press(0, KEY_PLAY), release(1700)}, 1800,
     {"[buzzer off]", "[close transport 7]", "[resume]"}},
    {"an app on the display", NORMAL,
     {press(0, KEY_PLAY), release(1700), press(1800, KEY_MIDDLE), release(1900)}, 2000,
     {"[buzzer off]", "[resume]"}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(States, Terminated, ::testing::ValuesIn(TERMINATIONS));

struct StartUp {
    const char* name;
    std::vector<const char*> args;
    std::function<void()> setup;
    int status;
    Effects effects;
    friend void PrintTo(const StartUp& c, std::ostream* os) { *os << c.name; }
};

class StartingUp : public ::testing::TestWithParam<StartUp> {};

TEST_P(StartingUp, InItsOrder) {
    const StartUp& c = GetParam();
    fake::reset();
    w.catalogue = TWO;
    if (c.setup) c.setup();
    EXPECT_EQ(launch(c.args), c.status);
    EXPECT_EQ(w.effects, c.effects);
}

const std::string BANNER =
    std::string("VornaX-Launcher v") + VERSION + " started (adc=1 yoff=0 fb=";
const Effects UP_NORMAL = {"[mode 1]",  "boot mode=1 (0=? 1=NORMAL 2=HDMI 3=AV)",
                           "[fb open]", BANNER + "1)",
                           "[scan 1]",  "scan done: 2 apps (mode=1)"};

// clang-format off
const StartUp START_UPS[] = {
    {"NORMAL", {}, nullptr, 0, UP_NORMAL},
    {"AV leaves the framebuffer alone", {}, [] { w.mode = AV; }, 0,
     {"[mode 3]", "boot mode=3 (0=? 1=NORMAL 2=HDMI 3=AV)", BANNER + "0)", "[scan 3]",
      "scan done: 2 apps (mode=3)"}},
    {"no framebuffer ends it", {}, [] { w.fb_opens = false; }, 1,
     {"[mode 1]", "boot mode=1 (0=? 1=NORMAL 2=HDMI 3=AV)", "[fb open fails]"}},
    {"no ADC ends it", {}, [] { w.adc = false; }, 1,
     {"[mode 1]", "boot mode=1 (0=? 1=NORMAL 2=HDMI 3=AV)", "[fb open]",
      "keys: ADC open fail — launcher martwy na wejsciu"}},
    {"no buzzer is said and borne", {}, [] { w.buzzer = false; }, 0,
     {"[mode 1]", "boot mode=1 (0=? 1=NORMAL 2=HDMI 3=AV)", "[fb open]",
      "beep: brak buzzera — audio-feedback wyciszony", BANNER + "1)", "[scan 1]",
      "scan done: 2 apps (mode=1)"}},
    {"--menu opens at once, without a tone", {"--menu"}, nullptr, 0,
     then(UP_NORMAL, {"[pause]", "rendering menu", "menu rendered, flipping", "[menu sel=0]",
                      "menu open via --menu (2 apps)"})},
    {"--menu in AV mode is dropped", {"--menu"}, [] { w.mode = AV; }, 0,
     {"[mode 3]", "boot mode=3 (0=? 1=NORMAL 2=HDMI 3=AV)", BANNER + "0)", "[scan 3]",
      "scan done: 2 apps (mode=3)"}},
    {"--menu while an app runs is dropped", {"--menu"}, [] { w.app_alive = true; }, 0,
     UP_NORMAL},
    {"only --menu itself counts", {"--menux"}, nullptr, 0, UP_NORMAL},
    {"only the first argument counts", {"-v", "--menu"}, nullptr, 0, UP_NORMAL},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, StartingUp, ::testing::ValuesIn(START_UPS));

} // namespace
