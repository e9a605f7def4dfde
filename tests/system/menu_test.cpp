// The framebuffer menu as the wearer sees it on the board, read off the page on screen: how
// long a refused start's notice stays, whatever redraws the menu meanwhile.
#include "board_fixture.h"

namespace systest {
namespace {

// The notice comes with the pass that sees MIDDLE's release, stays through every redraw
// before 1500 ms of the launcher's clock (under whichever refused entry is selected, late
// in its span too), and goes with the first pass at or after 1500 ms: a pass is the loop's
// 30 ms sleep, no more.
TEST_F(BoardTest, RefusedStartShowsItsNoticeForOnePointFiveSeconds) {
    app("av_one", "modes=av\n");
    app("av_two", "modes=hdmi\n");
    vxboard::Board& b = open_menu(stepped());
    ASSERT_EQ(vxboard::notice_slot(b), -1);
    b.press(MIDDLE);
    ASSERT_TRUE(b.run_passes(4));
    b.release();
    while (vxboard::notice_slot(b) < 0)
        ASSERT_TRUE(b.step()) << dump();
    const int64_t shown_at = b.virtual_ms();
    EXPECT_EQ(vxboard::notice_slot(b), 0);
    b.tap(DOWN, TAP);
    EXPECT_EQ(vxboard::notice_slot(b), 1) << "moving does not clear it";
    ASSERT_TRUE(b.run_for(Millis(700)));
    b.tap(UP, TAP);
    EXPECT_EQ(vxboard::notice_slot(b), 0);
    ASSERT_LT(b.virtual_ms() - shown_at, 1450) << "the taps took too long to test the notice";
    while (vxboard::notice_slot(b) >= 0)
        ASSERT_TRUE(b.step()) << dump();
    const int64_t shown_for = b.virtual_ms() - shown_at;
    EXPECT_GE(shown_for, 1500);
    EXPECT_LT(shown_for, 1530);
    EXPECT_TRUE(menu_shown());
    EXPECT_EQ(b.lines().size(), line_at("menu open (hold play, 2 apps)") + 1)
        << "a refused start is not logged\n"
        << dump();
}

} // namespace
} // namespace systest
