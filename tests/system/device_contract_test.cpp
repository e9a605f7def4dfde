// The launcher against the devices' own rules, as the board holds them: the ADC's settling
// and its control register, what the OSD controller shows and when it acknowledges a cell,
// the PWM core's refusals, and an app reached through a symbolic link. The board runs
// stepped: the launcher's passes run on a virtual clock as fast as the test grants them.
#include <algorithm>
#include <filesystem>

#include "board/pwm_history.h"
#include "hw/keys_logic.h"

#include "board_fixture.h"

namespace systest {
namespace {

using ContractTest = PreloadedBoardTest;

// Every sample of a held button reads the line unsettled first, one band too high (PLAY as
// BACK): only the second conversion, 9 ms later, reads PLAY, and the hold starts on it.
TEST_F(ContractTest, ButtonsAreReadFromTheConversionAfterTheSettleWait) {
    vxboard::Board& b = start_stepped();
    const vxboard::SleepStats& st = b.state().sleeps;
    const uint32_t waits_from = st.hw_count.load();
    const size_t from = b.lines().size();
    b.tap(PLAY, Millis(700));
    EXPECT_TRUE(logged("hold: keys blocked at ", from)) << dump();
    EXPECT_TRUE(logged("hold aborted (release, ", from)) << dump();
    std::vector<uint32_t> waits; // the lengths of the launcher's waits inside its passes
    for (uint32_t i = waits_from; i != st.hw_count.load(); ++i)
        waits.push_back(st.hw_us[i % vxboard::HW_SLEEP_RING].load());
    EXPECT_GE(waits.size(), 10u);
    EXPECT_TRUE(std::all_of(waits.begin(), waits.end(), [](uint32_t us) { return us == 9000; }))
        << "waits inside a pass (us): " << ::testing::PrintToString(waits);
}

// A sample whose control register lost its value during the conversion is dropped, however
// plainly it reads as a button: PLAY held through such samples never presses.
TEST_F(ContractTest, SamplesThatLostTheControlRegisterAreDropped) {
    vxboard::Board& b = start_stepped();
    vxboard::AdcLine& adc = b.state().adc;
    adc.ctrl0_losses = 1u << 30;
    const uint32_t tones = b.state().pwm.accesses.load();
    const size_t from = b.lines().size();
    b.press(PLAY);
    ASSERT_TRUE(b.run_for(Millis(2000)));
    EXPECT_GE(adc.ctrl0_lost.load(), 20u);
    EXPECT_FALSE(logged("hold", from)) << dump();
    EXPECT_EQ(b.state().pwm.accesses.load(), tones) << "no hold tone";
    adc.ctrl0_losses = 0;
    EXPECT_TRUE(run_to_line("hold: keys blocked at ", from)) << dump();
}

// A corrupted conversion can hold any count. Those whose millivolts pass 2^32 by a button's
// band centre read as that button through a 32-bit narrowing anywhere between the sample
// register and the bands: on the line as long as a tap, each is no button. Nothing is
// logged, nothing sounds, the menu does not move.
TEST_F(ContractTest, CountsWhoseMillivoltsPassTwoToThe32AreNoButton) {
    app("a");
    app("b");
    auto count_past_the_wrap = [](int key) {
        uint64_t centre_mv = 0;
        for (const KeyBand& band : KEY_BANDS)
            if (band.code == key) centre_mv = static_cast<uint64_t>(band.centre_mv);
        return static_cast<uint32_t>(
            ((uint64_t{1} << 32) + centre_mv) * ADC_FULL_SCALE_COUNTS / ADC_FULL_SCALE_MV + 1);
    };
    vxboard::Board& b = start_stepped();
    const struct {
        int key;
        bool in_menu;
    } cases[] = {{PLAY, false}, {UP, true}, {DOWN, true}, {MIDDLE, true}};
    for (const auto& c : cases) {
        if (c.in_menu && !menu_shown()) hold_play_until("menu open (hold play, 2 apps)\n");
        const uint32_t raw = count_past_the_wrap(c.key);
        const size_t lines = b.lines().size();
        const uint32_t pans = b.state().fb.pans.load(), tones = b.state().pwm.accesses.load();
        const int slot = highlighted_slot();
        b.set_adc_raw(raw);
        ASSERT_TRUE(b.run_passes(10));
        b.release();
        ASSERT_TRUE(b.run_passes(5));
        EXPECT_EQ(b.lines().size(), lines) << std::hex << raw << dump();
        EXPECT_EQ(b.state().fb.pans.load(), pans) << std::hex << raw;
        EXPECT_EQ(b.state().pwm.accesses.load(), tones) << std::hex << raw;
        EXPECT_EQ(highlighted_slot(), slot) << std::hex << raw;
    }
}

// What the wearer sees on the AV overlay: the page once the launcher has committed it, the
// marker moved, and nothing once the closing hold has blanked and committed every cell.
// Every cell access came inside a select's transaction and was confirmed.
TEST_F(ContractTest, OverlayShowsWhatWasCommittedInSelectedTransactions) {
    app("alpha", "modes=av\n");
    app("bravo", "modes=av\n");
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(apps_))
        names.push_back(e.path().filename() == "alpha" ? "ALPHA" : "BRAVO");
    vxboard::Board& b = start_ready(stepped(MODE_AV));
    auto page = [&](int marked) {
        Lines rows = OSD_BLANK;
        rows[0] = "        VORNA X LAUNCHER        ";
        rows[7] = "      MID:START PLAY3:EXIT      ";
        for (int i = 0; i < 2; ++i) {
            const std::string text = (i == marked ? "%  " : "   ") + names[i];
            rows[2 + i].replace(0, text.size(), text);
        }
        return rows;
    };
    EXPECT_EQ(b.osd_text(), OSD_BLANK);

    hold_play_until("menu OSD open (av, 2 apps)\n");
    EXPECT_EQ(b.osd_text(), page(1)) << "after the opening hold";
    b.tap(DOWN, TAP);
    EXPECT_EQ(b.osd_text(), page(0)) << "after a move";
    hold_play_until(LOG_MENU_CLOSED.c_str());
    EXPECT_EQ(b.osd_text(), OSD_BLANK) << "after the closing hold";

    EXPECT_TRUE(logged(" fail=0)\n")) << dump();
    EXPECT_EQ(b.state().osd.unselected.load(), 0u);
    EXPECT_EQ(b.state().i2c.failed.load(), 0u);
}

// On a channel exported by this run, which has no period yet, the first tone of a hold
// sounds from the pass that saw the press, and every write of it is taken.
TEST_F(ContractTest, FirstToneSoundsOnAFreshlyExportedChannel) {
    vxboard::Board& b = start_stepped();
    ASSERT_EQ(b.state().pwm.exported.load(), 1u);
    const uint32_t from = b.state().pwm.accesses.load();
    b.press(PLAY);
    ASSERT_TRUE(b.run_passes(3));
    const vxboard::PwmChip& c = b.state().pwm;
    EXPECT_EQ(vxboard::pwm_sounding_hz(c.period_ns.load(), c.duty_ns.load(), c.enabled.load()),
              550u);
    const std::vector<vxboard::PwmAccessRecord> all = vxboard::pwm_accesses(b.state());
    for (size_t i = all.size() - (b.state().pwm.accesses.load() - from); i < all.size(); ++i)
        EXPECT_EQ(all[i].error, 0)
            << "file " << all[i].file << (all[i].is_write ? " write" : " open");
}

// An app whose `app` is a symbolic link to an executable elsewhere is listed and launched
// from a copy of what the link points to.
TEST_F(ContractTest, AppBehindASymbolicLinkIsListedAndLaunches) {
    namespace fs = std::filesystem;
    fs::create_directories(apps_ + "/.store"); // a name the catalogue never lists
    fs::copy_file(VX_PROBE_APP_PATH, apps_ + "/.store/probe");
    fs::create_directories(apps_ + "/linked");
    fs::create_symlink("../.store/probe", apps_ + "/linked/app");
    vxboard::Board& b = open_menu(stepped());
    launch_and_reap("linked");
    EXPECT_EQ(slurp(b.sandbox_path(std::string(STAGING_DIR) + "/linked/app")),
              slurp(apps_ + "/.store/probe"));
    EXPECT_NE(slurp(b.sandbox_path(std::string(STAGING_DIR) + "/linked.log")).find("probe done\n"),
              std::string::npos);
}

} // namespace
} // namespace systest
