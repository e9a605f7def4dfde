// The menu on the AV path's OSD controller, as the wearer reads it off the overlay.
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "flow_fixture.h"

namespace systest {
namespace {

constexpr const char* TITLE_ROW = "        VORNA X LAUNCHER        ";
constexpr const char* FOOTER_ROW = "      MID:START PLAY3:EXIT      ";
const std::string BLANK(32, ' ');

std::string list_row(const std::string& name, bool marked) {
    std::string row = (marked ? "%  " : "   ") + name;
    return row + std::string(32 - row.size(), ' ');
}

class AvTest : public FlowTest {
  protected:
    vxboard::BoardConfig av(vxboard::BoardConfig cfg = {}) {
        cfg.video_mode = 3;
        return cfg;
    }
    // Non-blank cells of the page the overlay shows.
    static int ink(const std::vector<std::string>& rows) {
        int n = 0;
        for (const std::string& r : rows)
            for (char c : r)
                n += c != ' ';
        return n;
    }
    vxboard::Board& open_overlay(vxboard::BoardConfig cfg = {}) {
        vxboard::Board& b = start_ready(av(std::move(cfg)));
        from_ = b.lines().size();
        b.tap(PLAY, OPEN_HOLD);
        EXPECT_TRUE(b.wait_line("menu OSD open (av, ", Millis(5000), from_)) << dump();
        return b;
    }
    void make_app_sleeping(const std::string& name, const std::string& manifest) {
        vxboard::make_app(apps_, name, "#!/bin/sh\nsleep 0.5\n", manifest);
    }
    void wait_quiet() { board_->settle(Millis(250), Millis(3000)); }
    size_t from_ = 0;
};

// Opening by a hold: at 1500 ms, the second allowed entry selected when the first is
// allowed, every cell blanked and checked, then the page.
TEST_F(AvTest, HoldOpensTheOverlayWithEveryCellConfirmed) {
    app("alpha", "modes=av\n");
    app("bravo", "modes=normal,av\n");
    app("charlie_x-1", "modes=av,normal\n");
    app("delta", "modes=av\n");
    vxboard::Board& b = open_overlay();
    const size_t blocked = line_at("hold: keys blocked at ", from_);
    const size_t open = line_at("osd menu open (writes=", from_);
    const size_t menu = line_at("menu OSD open (av, 4 apps)\n", from_);
    EXPECT_LT(blocked, open);
    EXPECT_EQ(open + 1, menu);

    // The catalogue keeps the directory's order: the allowed entries are listed in it and,
    // the first entry being allowed whatever that order, the second of them is selected.
    std::vector<std::string> want = b.osd_text();
    std::vector<std::string> listed;
    for (int r = 2; r <= 5; ++r)
        listed.push_back(want[r].substr(3));
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{list_row("ALPHA", false).substr(3),
                                                list_row("BRAVO", false).substr(3),
                                                list_row("CHARLIE X 1", false).substr(3),
                                                list_row("DELTA", false).substr(3)}));
    EXPECT_EQ(want[2][0], ' ');
    EXPECT_EQ(want[3][0], '%');
    EXPECT_EQ(want[4][0], ' ');
    EXPECT_EQ(want[5][0], ' ');
    for (int r : {1, 6})
        EXPECT_EQ(want[r], BLANK) << r;
    EXPECT_EQ(want[0], TITLE_ROW);
    EXPECT_EQ(want[7], FOOTER_ROW);
    const int writes = 256 + ink(want);
    EXPECT_EQ(line(open), "osd menu open (writes=" + std::to_string(writes) + " fail=0)\n");
    EXPECT_EQ(b.state().osd.char_writes.load(), static_cast<uint32_t>(writes));
    EXPECT_EQ(b.state().osd.raw_clears.load(), 256u);
    EXPECT_EQ(b.state().osd.control.load() & 1u, 1u);
    const uint8_t window[8] = {0x91, 0x02, 0xB2, 0x04, 0x91, 0x01, 0xB2, 0x02};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(b.state().osd.window[i], window[i]) << i;
    EXPECT_EQ(b.service_state(), 'T');
    // The framebuffer is not used in AV mode.
    EXPECT_EQ(b.state().fb.pans.load(), 0u);
    EXPECT_TRUE(logged("menu OSD open (av, 4 apps)\n"));
}

// Taps move over allowed entries only, with wrap-around; each move rewrites only the
// cells that change, and a redraw that changes nothing writes none.
TEST_F(AvTest, NavigationVisitsAllowedEntriesAndWritesOnlyChangedCells) {
    app("a1", "modes=av\n");
    app("b2", "modes=hdmi\n");
    app("c3", "modes=av\n");
    vxboard::Board& b = open_overlay();
    wait_quiet();
    auto marked = [&] {
        const auto rows = b.osd_text();
        for (int r = 2; r <= 6; ++r)
            if (rows[r][0] == '%') return rows[r].substr(3, 2);
        return std::string("none");
    };
    EXPECT_EQ(marked(), "C3");
    struct Step {
        Key key;
        const char* marked;
    } steps[] = {{DOWN, "A1"}, {DOWN, "C3"}, {UP, "A1"}, {UP, "C3"}};
    for (const Step& s : steps) {
        const uint32_t writes = b.state().osd.char_writes.load();
        const uint32_t commits = b.state().osd.commits.load();
        b.tap(s.key, TAP);
        EXPECT_TRUE(
            wait_until([&] { return b.state().osd.commits.load() == commits + 1; }, Millis(2000)));
        EXPECT_EQ(marked(), s.marked);
        // The marker leaves one row and lands on another: two cells.
        EXPECT_EQ(b.state().osd.char_writes.load() - writes, 2u);
    }

    // MIDDLE on nothing allowed cannot happen here; a 700 ms press moves nothing and
    // writes nothing.
    const uint32_t writes = b.state().osd.char_writes.load();
    b.tap(DOWN, Millis(700));
    wait_quiet();
    EXPECT_EQ(b.state().osd.char_writes.load(), writes);
    EXPECT_EQ(marked(), "C3");
}

TEST_F(AvTest, OneAllowedEntryKeepsItsPlaceAndARedrawWritesNothing) {
    app("solo", "modes=av\n");
    app("other", "modes=normal\n");
    vxboard::Board& b = open_overlay();
    wait_quiet();
    const uint32_t writes = b.state().osd.char_writes.load();
    const uint32_t commits = b.state().osd.commits.load();
    b.tap(DOWN, TAP);
    EXPECT_TRUE(
        wait_until([&] { return b.state().osd.commits.load() == commits + 1; }, Millis(2000)));
    wait_quiet();
    EXPECT_EQ(b.state().osd.char_writes.load(), writes);
    EXPECT_EQ(b.osd_text()[2], list_row("SOLO", true));
}

TEST_F(AvTest, EmptyCatalogueAndNothingAllowed) {
    {
        vxboard::Board& b = open_overlay();
        const auto rows = b.osd_text();
        EXPECT_EQ(rows[4], "     BRAK APEK DLA TRYBU AV     ");
        for (int r : {2, 3, 5, 6})
            EXPECT_EQ(rows[r], BLANK) << r;
        EXPECT_EQ(rows[0], TITLE_ROW);
        EXPECT_EQ(rows[7], FOOTER_ROW);
        EXPECT_TRUE(logged("menu OSD open (av, 0 apps)\n"));
    }
    board_.reset();
    app("normal_only", "modes=normal\n");
    vxboard::Board& b = open_overlay();
    const auto rows = b.osd_text();
    for (int r = 2; r <= 6; ++r)
        EXPECT_EQ(rows[r], BLANK) << r;
    // MIDDLE on an entry that is not allowed does nothing on the overlay.
    const size_t n = b.lines().size();
    b.tap(MIDDLE, TAP);
    wait_quiet();
    EXPECT_EQ(b.lines().size(), n) << dump();
}

// A launch closes the overlay (blank grid, transport released) and the app's exit opens it
// again with the next allowed entry selected.
TEST_F(AvTest, LaunchClosesTheOverlayAndTheExitReopensIt) {
    make_app_sleeping("first", "modes=av\n");
    make_app_sleeping("second", "modes=av\n");
    app("third", "modes=normal\n");
    vxboard::Board& b = open_overlay();
    wait_quiet();
    EXPECT_EQ(b.osd_text()[3], list_row("SECOND", true));
    const size_t at = b.lines().size();
    b.tap(MIDDLE, TAP);
    line_at("launched second pid=", at);
    for (const std::string& r : b.osd_text())
        EXPECT_EQ(r, BLANK);
    EXPECT_EQ(b.state().osd.control.load() & 1u, 1u); // left enabled, with an empty grid
    line_at("child second exited\n", at, Millis(5000));
    const size_t reopened = line_at("menu OSD open po child (3 apps)\n", at);
    EXPECT_NE(line(reopened - 1).find("osd menu open (writes="), std::string::npos);
    const auto rows = b.osd_text();
    EXPECT_EQ(rows[2], list_row("FIRST", true));
    EXPECT_EQ(rows[3], list_row("SECOND", false));
    EXPECT_EQ(rows[0], TITLE_ROW);
}

// A failed launch from the overlay puts the menu back on the overlay; the framebuffer,
// never opened in AV mode, is not touched.
TEST_F(AvTest, FailedLaunchShowsTheOverlayAgain) {
    app("broken", "modes=av\n");
    vxboard::Board& b = open_overlay();
    wait_quiet();
    std::filesystem::remove(apps_ + "/broken/app");
    const size_t at = b.lines().size();
    b.tap(MIDDLE, TAP);
    line_at("launch failed: ", at);
    wait_quiet();
    EXPECT_EQ(b.osd_text()[2], list_row("BROKEN", true));
    EXPECT_EQ(b.osd_text()[0], TITLE_ROW);
    EXPECT_EQ(b.state().fb.pans.load(), 0u);
    EXPECT_EQ(b.state().fb.put_vars.load(), 0u);
}

// A cell that never confirms is counted and given up; the next draw that wants another
// character there tries it again.
TEST_F(AvTest, CellThatNeverConfirmsIsCountedAndRetried) {
    app("aa", "modes=av\n");
    app("bb", "modes=av\n");
    vxboard::BoardConfig cfg;
    cfg.before_launch = [](vxboard::BoardState& s) {
        // Column 0 of row 2: the marker's cell for the first listed entry.
        s.osd.bad_row = 2;
        s.osd.bad_col = 0;
        s.osd.bad_count = vxboard::OSD_FOREVER;
    };
    vxboard::Board& b = open_overlay(cfg);
    // bb is selected (row 3): row 2's marker cell is only blanked, which the raw clear
    // has already done, so the read-back matches.
    EXPECT_TRUE(logged("osd menu open (writes="));
    EXPECT_TRUE(logged(" fail=0)\n"));
    wait_quiet();
    const uint32_t before = b.state().osd.char_writes.load();
    b.tap(UP, TAP);
    wait_quiet();
    // The marker could not land on row 2: four attempts there, one write on row 3.
    EXPECT_EQ(b.state().osd.char_writes.load() - before, 4u + 1u);
    EXPECT_EQ(b.osd_text()[2][0], ' ');
    const uint32_t again = b.state().osd.char_writes.load();
    b.state().osd.bad_count = 0;
    b.tap(DOWN, TAP); // marker to row 3; row 2 wants a blank, which it already shows
    wait_quiet();
    b.tap(UP, TAP);
    wait_quiet();
    EXPECT_EQ(b.osd_text()[2][0], '%');
    EXPECT_GE(b.state().osd.char_writes.load() - again, 3u);
}

TEST_F(AvTest, BusyControllerIsWaitedFor) {
    app("one", "modes=av\n");
    vxboard::BoardConfig cfg;
    cfg.before_launch = [](vxboard::BoardState& s) { s.osd.busy_polls = 2; };
    vxboard::Board& b = open_overlay(cfg);
    EXPECT_TRUE(logged(" fail=0)\n")) << dump();
    EXPECT_EQ(b.osd_text()[2], list_row("ONE", true));
    // Two busy answers and the ready one for every character written.
    EXPECT_EQ(b.state().osd.status_reads.load(),
              3 * b.state().osd.char_writes.load() + 4 * 8 /* the raw clear's reads */);
}

// The closing hold blanks the overlay, releases it and gives the buttons back.
TEST_F(AvTest, ThreeSecondHoldClosesTheOverlay) {
    app("one", "modes=av\n");
    vxboard::Board& b = open_overlay();
    wait_quiet();
    const size_t at = b.lines().size();
    b.tap(PLAY, CLOSE_HOLD);
    const size_t resumed = line_at("keys resumed\n", at);
    const size_t closed = line_at("menu closed (hold play 3 s)\n", at);
    EXPECT_LT(resumed, closed);
    for (const std::string& r : b.osd_text())
        EXPECT_EQ(r, BLANK);
    EXPECT_TRUE(wait_until([&] { return b.service_state() != 'T'; }, Millis(1000)));
}

// The termination handler only drops the transport: the overlay keeps its text, the
// goggles get their service back, and the process ends with status 0.
TEST_F(AvTest, TerminationLeavesTheOverlayAsItWas) {
    app("one", "modes=av\n");
    vxboard::Board& b = open_overlay();
    wait_quiet();
    const std::vector<std::string> shown = b.osd_text();
    const uint32_t commits = b.state().osd.commits.load();
    b.signal_launcher(SIGTERM);
    const auto status = b.wait_exit(Millis(3000));
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_EQ(b.osd_text(), shown);
    EXPECT_EQ(b.state().osd.commits.load(), commits);
    EXPECT_TRUE(wait_until([&] { return b.service_state() != 'T'; }, Millis(1000)));
}

} // namespace
} // namespace systest
