// The launcher as a process: how a signal ends it, what it gives back, what outlives it.
#include <csignal>

#include "board_fixture.h"

namespace systest {
namespace {

struct TermCase {
    const char* name;
    int sig;
    std::function<void(BoardTest&, vxboard::Board&)> reach; // bring the launcher to its state
    bool app_on_display; // the app keeps the display, and lives on
    friend void PrintTo(const TermCase& c, std::ostream* os) { *os << c.name; }
};

class TerminationIn : public BoardTest, public ::testing::WithParamInterface<TermCase> {};

TEST_P(TerminationIn, GivesTheGogglesBack) {
    const TermCase& c = GetParam();
    probe("sleeper", "args=--sleep-ms 4000\n");
    vxboard::Board& b = start_ready();
    c.reach(*this, b);
    b.signal_launcher(c.sig);
    const auto st = b.wait_exit(Millis(3000));
    ASSERT_TRUE(st) << dump();
    if (c.sig == SIGKILL) {
        EXPECT_TRUE(WIFSIGNALED(*st));
        // The watchdog notices within about a second that the launcher is gone.
        EXPECT_TRUE(wait_until([&] { return b.service_state() != 'T'; }, Millis(1800)));
        return;
    }
    ASSERT_TRUE(WIFEXITED(*st));
    EXPECT_EQ(WEXITSTATUS(*st), 0);
    EXPECT_TRUE(wait_until([&] { return b.service_state() != 'T'; }, Millis(300)));
    EXPECT_EQ(b.screen_row() != 0, c.app_on_display) << "the launcher's page went with it";
    bool app_alive = false;
    for (const auto& p : b.processes())
        app_alive = app_alive || p.comm == "app";
    EXPECT_EQ(app_alive, c.app_on_display);
    b.release();
}

void reach_menu(BoardTest& t, vxboard::Board& b) {
    b.tap(PLAY, OPEN_HOLD);
    t.line_at("menu open (hold play");
}

const TermCase TERMS[] = {
    {"progress_panel_sigint", SIGINT,
     [](BoardTest& t, vxboard::Board& b) {
         b.press(PLAY);
         t.line_at("hold: keys blocked at ");
         std::this_thread::sleep_for(Millis(100));
     },
     false},
    {"menu", SIGTERM, reach_menu, false},
    {"app", SIGTERM,
     [](BoardTest& t, vxboard::Board& b) {
         reach_menu(t, b);
         b.tap(MIDDLE, TAP);
         t.line_at("launched sleeper pid=");
     },
     true},
    {"sigkill_in_menu", SIGKILL, reach_menu, false},
};

INSTANTIATE_TEST_SUITE_P(States, TerminationIn, ::testing::ValuesIn(TERMS),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace systest
