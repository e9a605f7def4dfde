// The overlay driver against the board's OSD controller: every cell confirmed by read-back,
// only changed cells written again, a cell that never takes its character retried and
// counted, a busy controller waited for.
#include "board_fixture.h"

namespace systest {
namespace {

class AvTest : public BoardTest {
  protected:
    vxboard::Board& open_overlay(std::function<void(vxboard::BoardState&)> faults = nullptr) {
        vxboard::BoardConfig cfg;
        cfg.video_mode = 3;
        cfg.before_launch = std::move(faults);
        vxboard::Board& b = start_stepped(cfg);
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
    // Two busy answers and the ready one for every character written, and the raw clear's
    // four reads a row.
    EXPECT_EQ(b.state().osd.status_reads.load(), 3 * writes() + 4 * 8);
}

} // namespace
} // namespace systest
