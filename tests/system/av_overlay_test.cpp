// The overlay driver against the board's OSD controller: every cell confirmed by read-back,
// only changed cells written again, a cell that never takes its character retried and
// counted, a busy controller waited for.
#include "board_fixture.h"

namespace systest {
namespace {

class AvTest : public BoardTest {
  protected:
    vxboard::Board& open_overlay(std::function<void(vxboard::BoardState&)> faults = nullptr) {
        vxboard::BoardConfig cfg = stepped(MODE_AV);
        cfg.before_launch = std::move(faults);
        vxboard::Board& b = start_ready(cfg);
        hold_play_until("menu OSD open (av, ");
        return b;
    }
    // The listed entry the marker is on, by its first two letters.
    std::string marked() const {
        const Lines rows = board_->osd_text();
        for (int r = 2; r <= 6; ++r)
            if (rows[r][0] == '%') return rows[r].substr(3, 2);
        return "none";
    }
    uint32_t writes() const { return board_->state().osd.char_writes.load(); }
    // Passes one at a time until a line containing `needle` appears at or after line `from`;
    // the longest of them, in ms of the launcher's clock (-1 when the line never came).
    int64_t longest_pass_to(const std::string& needle, size_t from) {
        vxboard::Board& b = *board_;
        int64_t longest = 0;
        for (const int64_t end = b.virtual_ms() + 60000; !logged(needle, from);) {
            const int64_t before = b.virtual_ms();
            if (before > end || !b.step()) return -1;
            longest = std::max(longest, b.virtual_ms() - before);
        }
        return longest;
    }
};

// Opening blanks and confirms all 256 cells, then writes the page's characters; the window
// and the enable bit are set as the controller needs them.
TEST_F(AvTest, OpeningConfirmsEveryCell) {
    app("alpha", "modes=av\n");
    app("bravo_x-1", "modes=normal,av\n");
    vxboard::Board& b = open_overlay();
    int ink = 0;
    for (const std::string& r : b.osd_text())
        for (char c : r)
            ink += c != ' ';
    const int want = 256 + ink;
    EXPECT_TRUE(logged("osd menu open (writes=" + std::to_string(want) + " fail=0)\n")) << dump();
    EXPECT_EQ(writes(), static_cast<uint32_t>(want));
    EXPECT_EQ(b.state().osd.raw_clears.load(), 256u);
    EXPECT_EQ(b.state().osd.control.load() & 1u, 1u);
    const uint8_t window[8] = {0x91, 0x02, 0xB2, 0x04, 0x91, 0x01, 0xB2, 0x02};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(b.state().osd.window[i], window[i]) << i;
    EXPECT_EQ(b.state().fb.pans.load(), 0u) << "the framebuffer is not used in AV mode";
}

// A move rewrites the two marker cells and nothing else; a press too long for a tap writes
// nothing at all.
TEST_F(AvTest, MovesWriteOnlyTheCellsThatChange) {
    app("a1", "modes=av\n");
    app("b2", "modes=hdmi\n");
    app("c3", "modes=av\n");
    vxboard::Board& b = open_overlay();
    for (int i = 0; i < 3; ++i) {
        const std::string before = marked();
        const uint32_t from = writes();
        b.tap(DOWN, TAP);
        EXPECT_NE(marked(), before);
        EXPECT_EQ(writes() - from, 2u);
    }
    const uint32_t from = writes();
    b.tap(DOWN, Millis(700));
    EXPECT_EQ(writes(), from);
}

// The marker's cell on row 2 drops every write: four attempts, counted, the cell left as it
// was; once it takes writes again, the next draw that wants the marker there puts it.
TEST_F(AvTest, ACellThatNeverConfirmsIsRetriedAndCounted) {
    app("aa", "modes=av\n");
    app("bb", "modes=av\n");
    vxboard::Board& b = open_overlay([](vxboard::BoardState& s) {
        s.osd.bad_row = 2;
        s.osd.bad_col = 0;
        s.osd.bad_count = vxboard::OSD_FOREVER;
    });
    // The second entry is selected: row 2's marker cell only needs the blank it has.
    EXPECT_TRUE(logged(" fail=0)\n")) << dump();
    const uint32_t from = writes();
    b.tap(UP, TAP);
    EXPECT_EQ(writes() - from, 4u + 1u) << "four attempts on row 2, one write on row 3";
    EXPECT_EQ(b.osd_text()[2][0], ' ');
    b.state().osd.bad_count = 0;
    b.tap(DOWN, TAP);
    b.tap(UP, TAP);
    EXPECT_EQ(b.osd_text()[2][0], '%');
}

TEST_F(AvTest, ABusyControllerIsWaitedFor) {
    app("one", "modes=av\n");
    vxboard::Board& b = open_overlay([](vxboard::BoardState& s) { s.osd.busy_polls = 2; });
    EXPECT_TRUE(logged(" fail=0)\n")) << dump();
    // Two busy answers and the ready one for every character written, the raw clear's four
    // reads a row, and the read that found the controller there.
    EXPECT_EQ(b.state().osd.status_reads.load(), 3 * writes() + 4 * 8 + 1);
}

// A controller that stops answering, answers for one cell in two or never clears its busy bit
// costs the wearer at most about a second at any moment the overlay is written: the budget of
// failed attempts' waits (1000 ms, and the one attempt of at most 120 ms that crosses it), a
// beep (100 ms), the pass's own sleep and the ADC's settle wait. The launcher then goes on as
// without an overlay.
constexpr int64_t LONGEST_PASS_MS = 1250;

struct Silence {
    const char* name;
    std::function<void(vxboard::BoardState&, bool on)> inject; // the fault, or its end
    bool switchable; // the control register still answers: the overlay can be switched off
    friend void PrintTo(const Silence& c, std::ostream* os) { *os << c.name; }
};

class SilentController : public AvTest, public ::testing::WithParamInterface<Silence> {
  protected:
    void SetUp() override {
        AvTest::SetUp();
        app("aa", "modes=av\n");
        app("bb", "modes=av\n");
    }
    // The goggles have their service back, and no menu over the video where the controller
    // could be told (blanked, or switched off when it could not be blanked in time); with the
    // controller well again, the next hold opens the overlay.
    void expect_the_goggles_back() {
        EXPECT_TRUE(service_runs());
        if (GetParam().switchable) {
            EXPECT_EQ(board_->osd_text()[0], OSD_BLANK[0]);
        }
        GetParam().inject(board_->state(), false);
        hold_play_until("menu OSD open (av, 2 apps)");
        EXPECT_EQ(board_->osd_text()[0], "        VORNA X LAUNCHER        ");
    }
};

TEST_P(SilentController, RefusesTheMenuAtOnceAtAHold) {
    vxboard::Board& b = start_ready(stepped(MODE_AV));
    const size_t from = b.lines().size();
    b.press(PLAY);
    // The mode is read at the press: the controller goes quiet after it.
    ASSERT_TRUE(run_to_line("hold: keys blocked", from)) << dump();
    GetParam().inject(b.state(), true);
    EXPECT_LE(longest_pass_to("osd menu open fail\n", from), LONGEST_PASS_MS) << dump();
    b.release();
    ASSERT_TRUE(b.run_passes(3));
    EXPECT_EQ(line(b.lines().size() - 2), "keys resumed\n") << dump();
    EXPECT_FALSE(logged("menu OSD open", from));
    expect_the_goggles_back();
}

TEST_P(SilentController, LaunchesAndGivesTheGogglesBackAfterTheApp) {
    vxboard::Board& b = open_overlay();
    GetParam().inject(b.state(), true);
    const size_t from = b.lines().size();
    b.press(MIDDLE);
    ASSERT_TRUE(b.run_passes(4));
    b.release();
    // The launch closes the overlay. Back from the app the overlay does not open, or the mode
    // cannot be read at all. An app that ends at once may be collected in the pass that
    // started it: that pass then closes the overlay and tries to open it again.
    const int64_t launch_pass = longest_pass_to("launched aa pid=", from);
    ASSERT_GE(launch_pass, 0) << dump();
    // The app ends on the real clock: the stepped launcher must not run out its passes first.
    const size_t at = line_at("launched aa pid=", from, Millis(0));
    ASSERT_TRUE(b.wait_ended(static_cast<pid_t>(number_after(line(at), "pid=")), APP_REAL_MAX));
    const int64_t return_pass = longest_pass_to("keys resumed\n", from);
    ASSERT_GE(return_pass, 0) << dump();
    EXPECT_LE(std::max(launch_pass, return_pass), 2 * LONGEST_PASS_MS) << dump();
    EXPECT_TRUE(logged("child ", from)) << dump();
    EXPECT_TRUE(logged(GetParam().switchable ? "osd menu open fail po child\n" : " po child", from))
        << dump();
    expect_the_goggles_back();
}

TEST_P(SilentController, ClosesWithinTheHold) {
    vxboard::Board& b = open_overlay();
    GetParam().inject(b.state(), true);
    const size_t from = b.lines().size();
    b.press(PLAY);
    EXPECT_LE(longest_pass_to(LOG_MENU_CLOSED.c_str(), from), LONGEST_PASS_MS) << dump();
    b.release();
    ASSERT_TRUE(b.run_passes(3));
    expect_the_goggles_back();
}

const Silence SILENCES[] = {
    {"missing", [](vxboard::BoardState& s, bool on) { s.osd.missing = on; }, false},
    {"every_transfer_failing", [](vxboard::BoardState& s, bool on) { s.i2c.fail_all = on; }, false},
    {"one_cell_in_two", [](vxboard::BoardState& s, bool on) { s.osd.half_cells = on; }, true},
    {"busy_for_good", [](vxboard::BoardState& s, bool on) { s.osd.busy_stuck = on; }, true},
};

INSTANTIATE_TEST_SUITE_P(Faults, SilentController, ::testing::ValuesIn(SILENCES),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace systest
