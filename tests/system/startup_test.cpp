#include <csignal>
#include <thread>

#include "board_fixture.h"

namespace systest {
namespace {

TEST_F(BoardTest, WithoutTheAdcStartUpFailsWithStatus1) {
    vxboard::BoardConfig cfg;
    cfg.with_mem = false;
    vxboard::Board& b = start(cfg);
    const auto st = b.wait_exit(START_TIMEOUT);
    ASSERT_TRUE(st) << dump();
    EXPECT_TRUE(WIFEXITED(*st));
    EXPECT_EQ(WEXITSTATUS(*st), 1);
    const std::vector<std::string> want = {NORMAL_REGS, BOOT_NORMAL,
                                           "keys: ADC open fail — launcher martwy na wejsciu\n"};
    EXPECT_EQ(b.settle(Millis(100), Millis(2000)), want);
}

class Termination : public BoardTest, public ::testing::WithParamInterface<int> {};

TEST_P(Termination, EndsWithStatus0) {
    app("one");
    vxboard::Board& b = start_ready();
    b.signal_launcher(GetParam());
    const auto st = b.wait_exit(Millis(5000));
    ASSERT_TRUE(st) << dump();
    ASSERT_TRUE(WIFEXITED(*st)) << "killed by signal " << WTERMSIG(*st);
    EXPECT_EQ(WEXITSTATUS(*st), 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, Termination, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) {
                             return info.param == SIGTERM ? "SIGTERM" : "SIGINT";
                         });

TEST_F(BoardTest, StartUpLogsBannerThenCount) {
    app("one");
    vxboard::Board& b = start_ready();
    const std::vector<std::string> want = {NORMAL_REGS, BOOT_NORMAL, BANNER,
                                           "scan done: 1 apps (mode=1)\n"};
    EXPECT_EQ(b.settle(Millis(300), Millis(2000)), want);
}

// The idle loop sleeps 40 ms a pass; over one second that is about 25 passes, fewer when a
// pass itself takes time (under qemu-arm).
TEST_F(BoardTest, IdleLoopPollsEvery40Ms) {
    vxboard::Board& b = start_ready();
    const uint64_t before = b.state().sleeps.calls.load();
    std::this_thread::sleep_for(Millis(1000));
    const uint64_t passes = b.state().sleeps.calls.load() - before;
    EXPECT_GE(passes, 12u);
    EXPECT_LE(passes, 26u);
    EXPECT_GT(b.state().sleeps.last_us.load(), 39000u);
    EXPECT_LE(b.state().sleeps.last_us.load(), 40000u);
}

// The reader takes a second conversion only at 115 counts and above, and drops a sample
// whose control register lost its value meanwhile.
TEST_F(BoardTest, SettleReadOnlyFromThe115CountThreshold) {
    vxboard::Board& b = start_ready();
    b.state().adc.ctrl0_losses.store(3);
    b.set_adc_raw(114);
    std::this_thread::sleep_for(Millis(400));
    EXPECT_EQ(b.state().adc.ctrl0_lost.load(), 0u);
    b.set_adc_raw(115);
    for (int i = 0; i < 100 && b.state().adc.ctrl0_lost.load() < 3; ++i)
        std::this_thread::sleep_for(Millis(20));
    EXPECT_EQ(b.state().adc.ctrl0_lost.load(), 3u);
    EXPECT_EQ(b.state().adc.ctrl0_losses.load(), 0u);
}

} // namespace
} // namespace systest
