#include "fake_layers.h"

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "apps/launch.h"
#include "apps/manifest.h"
#include "apps/running.h"
#include "apps/service.h"
#include "base/clock.h"
#include "base/log.h"
#include "core/launcher.h"
#include "core/state.h"
#include "display/fb.h"
#include "display/hold_panel.h"
#include "display/menu.h"
#include "hw/buzzer.h"
#include "hw/keys.h"
#include "hw/osd_menu.h"
#include "hw/remote_i2c.h"
#include "hw/video_mode.h"

AppTable g_apps;
OsdState g_osd;
RunningApp g_running;

namespace fake {

World w;

namespace {

constexpr int32_t OSD_FD = 7;

// The picture being drawn into the back page, until it is panned on screen.
std::string g_frame;

// A call repeated pass after pass makes one entry, "[call] xN".
void effect(const std::string& e) {
    const std::string entry = "[" + e + "]";
    std::string* last = w.effects.empty() ? nullptr : &w.effects.back();
    if (last != nullptr && (*last == entry || last->rfind(entry + " x", 0) == 0)) {
        const int n = *last == entry ? 1 : std::stoi(last->substr(entry.size() + 2));
        *last = entry + " x" + std::to_string(n + 1);
        return;
    }
    w.effects.push_back(entry);
}

// Panels drawn pass after pass make one entry, "[panel FIRST-LAST]".
void panel_shown(int32_t e) {
    const std::string last = w.effects.empty() ? "" : w.effects.back();
    if (last.rfind("[panel ", 0) == 0) {
        const std::string first = std::to_string(std::stoi(last.substr(7)));
        w.effects.back() = "[panel " + first + "-" + std::to_string(e) + "]";
        return;
    }
    effect("panel " + std::to_string(e));
}

bool launched_app_runs() {
    return g_running.pid >= 1 && script_ms() - w.app_started_at < w.app_runs_ms;
}

} // namespace

void reset(int32_t origin) {
    w = World{};
    w.now = w.origin = origin;
    g_launcher = LauncherState{};
    g_apps = AppTable{};
    g_osd = OsdState{};
    g_running = RunningApp{};
    g_frame.clear();
}

AppEntry app(const char* name, uint32_t modes) {
    AppEntry e{};
    std::snprintf(e.name, sizeof e.name, "%s", name);
    std::snprintf(e.version, sizeof e.version, "1");
    e.modes = modes;
    return e;
}

int32_t script_ms() {
    return ms_elapsed(w.now, w.origin);
}

void run_until(int32_t until_ms) {
    while (script_ms() < until_ms)
        loop_pass();
}

} // namespace fake

using fake::effect;
using fake::w;

// ---- base ------------------------------------------------------------------------------

int32_t now_ms() {
    return w.now;
}

void sleep_us(uint32_t us) {
    w.sleeps_us.push_back(us);
    w.now = ms_after(w.now, static_cast<int32_t>(us / 1000));
}

void log_line(const char* fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    std::string line(buf);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    w.effects.push_back(line);
}

// ---- hw --------------------------------------------------------------------------------

int keys_open() {
    return w.adc ? 0 : -1;
}

int keys_ready() {
    return w.adc ? 1 : 0;
}

int32_t keys_poll(int32_t* duration_ms) {
    auto due = [] {
        return w.next_step < w.script.size() && fake::script_ms() >= w.script[w.next_step].at_ms;
    };
    while (due() && w.script[w.next_step].mode >= 0)
        w.mode = w.script[w.next_step++].mode;
    if (!due()) return 0;
    const fake::KeyStep step = w.script[w.next_step++];
    if (step.key >= 0) {
        w.held_key = step.key;
        w.pressed_at = w.now;
        *duration_ms = 0;
        return step.key + 1;
    }
    const int32_t key = w.held_key;
    w.held_key = -1;
    *duration_ms = ms_elapsed(w.now, w.pressed_at);
    return ~key;
}

int32_t video_mode_read() {
    effect("mode " + std::to_string(w.mode));
    return w.mode;
}

int buzzer_open() {
    return w.buzzer ? 0 : -1;
}

void buzzer_off() {
    effect("buzzer off");
}

void buzzer_stop() {
    effect("tone stop");
}

void hold_tone_start(HoldTone* tone, HoldKind kind) {
    tone->kind = kind;
    effect("tone start " + std::to_string(kind));
}

void hold_tone_update(HoldTone*, uint32_t elapsed_ms) {
    w.tone_elapsed.push_back(elapsed_ms);
}

void hold_tone_confirm(HoldTone* tone) {
    effect("beep " + std::to_string(tone->kind));
    w.now = ms_after(w.now, static_cast<int32_t>(TONE_CONFIRM_MS)); // the beep blocks the loop
}

int osd_menu_open() {
    if (!w.osd_opens) {
        effect("osd open fails");
        return -1;
    }
    g_osd.fd = fake::OSD_FD;
    g_osd.active = true;
    effect("osd open sel=" + std::to_string(g_apps.selected));
    return 0;
}

void osd_menu_draw(int full) {
    effect(std::string(full ? "osd page" : "osd rows") + " sel=" + std::to_string(g_apps.selected));
}

void osd_menu_close() {
    if (g_osd.fd < 0) return;
    effect("osd close");
    g_osd.fd = -1;
    g_osd.active = false;
}

int remote_i2c_close(int fd) {
    effect("close transport " + std::to_string(fd));
    return 0;
}

// ---- display ---------------------------------------------------------------------------

int fb_open() {
    if (!w.fb_opens) {
        effect("fb open fails");
        return -1;
    }
    w.fb_open = true;
    effect("fb open");
    return 0;
}

bool fb_is_open() {
    return w.fb_open;
}
bool fb_is_panned() {
    return w.panned;
}
int fb_ready() {
    return w.fb_open ? 1 : 0;
}
int32_t fb_boot_yoffset() {
    return 0;
}
Canvas fb_canvas() {
    return Canvas{nullptr};
}

void fb_begin_frame() {
    fake::g_frame = "cleared page";
}

void fb_begin_frame_no_clear() {
    fake::g_frame = "page";
}

void render_menu(Canvas, const AppTable& apps, int32_t notice_deadline, int32_t (*clock)()) {
    fake::g_frame = "menu sel=" + std::to_string(apps.selected);
    if (notice_deadline != 0 && ms_elapsed(clock(), notice_deadline) < 0)
        fake::g_frame += " notice";
}

void draw_hold_panel(Canvas, int32_t elapsed_ms) {
    fake::g_frame = "panel " + std::to_string(elapsed_ms);
}

void fb_present() {
    w.panned = true;
    if (fake::g_frame.rfind("panel ", 0) == 0)
        fake::panel_shown(std::stoi(fake::g_frame.substr(6)));
    else
        effect(fake::g_frame);
}

void fb_restore() {
    w.panned = false;
    effect("pan back");
}

void fb_follow_screen() {}
void fb_clear_beyond_canvas() {}

void fb_restore_from_signal() {
    w.panned = false;
    effect("pan back");
}

// ---- apps ------------------------------------------------------------------------------

void scan_apps(int32_t video_mode) {
    effect("scan " + std::to_string(video_mode));
    g_apps.count = 0;
    for (const AppEntry& e : w.catalogue) {
        if (g_apps.count == MAX_APPS) break;
        AppEntry& slot = g_apps.entries[g_apps.count++];
        slot = e;
        slot.allowed = app_allowed_in_mode(e.modes, video_mode);
    }
    if (g_apps.selected >= g_apps.count || g_apps.selected < 0)
        g_apps.selected = g_apps.selected < 0 || g_apps.count == 0 ? 0 : g_apps.count - 1;
}

int32_t any_app_running() {
    return w.app_alive || (w.alive_from_ms >= 0 && fake::script_ms() >= w.alive_from_ms) ||
           fake::launched_app_runs();
}

int32_t launch_app(const AppEntry& entry, const char*, const char*, RunningApp* running) {
    if (w.launch_pid < 0) {
        effect(std::string("launch ") + entry.name + " fails");
        return -1;
    }
    effect(std::string("launch ") + entry.name);
    running->pid = w.launch_pid;
    std::snprintf(running->name, sizeof running->name, "%s", entry.name);
    w.app_started_at = fake::script_ms();
    w.group_lingers = w.app_wraps_stubborn;
    return w.launch_pid;
}

int32_t reap_running_app() {
    if (g_running.pid < 1 || fake::launched_app_runs()) return 0;
    effect(std::string("reaped ") + g_running.name);
    g_running.pid = -1;
    return 1;
}

int32_t signal_running_app(int sig) {
    if (g_running.pid < 2) return -1;
    effect(std::string("signal app ") + (sig == SIGKILL ? "KILL" : sig == SIGTERM ? "TERM" : "?"));
    // The app ends at once, unless it ignores what it was sent.
    if (sig == SIGKILL || !w.app_ignores_term) w.app_runs_ms = fake::script_ms() - w.app_started_at;
    if (sig == SIGKILL) w.group_lingers = false;
    return 0;
}

int32_t running_app_ended() {
    return g_running.pid >= 1 && !fake::launched_app_runs();
}

int32_t running_app_group_lingers(const char*) {
    return g_running.pid >= 1 && w.group_lingers;
}

void pause_goggle_service() {
    effect("pause");
}

void resume_goggle_service() {
    effect("resume");
}
