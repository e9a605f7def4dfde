// vx-scenario against the board: what it reads and refuses, what a failed expectation says,
// the reference pictures, and its exit status.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "../common/scratch.h"

#include "base/log_lines.h"
#include "base/paths.h"
#include "board/log_forms.h"
#include "png/png_io.h"
#include "scenario/record.h"
#include "scenario/scenario.h"

using vxscenario::Op;

namespace {

const std::string APPS = VX_SCENARIO_APPS;

class ScenarioTest : public ScratchDir {
  protected:
    vxscenario::Scenario parse(const std::string& text) {
        std::vector<vxscenario::ParseError> errors;
        vxscenario::Scenario s = vxscenario::parse(dir_ / "t.scn", text, errors);
        EXPECT_TRUE(errors.empty()) << vxscenario::to_string(errors.front());
        return s;
    }
    std::string write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ / name) << text;
        return dir_ / name;
    }
    int run_command(const std::string& args, std::string& out) {
        const fs::path file = dir_ / "out.txt";
        const int st = std::system(
            (std::string(VX_SCENARIO_BIN) + " " + args + " >" + file.string() + " 2>&1").c_str());
        out = slurp(file);
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
};

TEST_F(ScenarioTest, EveryBadLineIsReportedWithItsNumber) {
    const std::string text = "apps " + APPS +
                             "\ntap SIDEWAYS\n"
                             "wait 2 s\n"
                             "expect log menu\n"
                             "expect app x exited\n"
                             "expect app x killed SIGNOPE\n"
                             "expect app x exec-failed ENOPE\n"
                             "fault transport broken\n"
                             "compare menu.jpg\n"
                             "expect log \"open\n"
                             "hover UP\n"
                             "tap UP 2s 3s\n"
                             "board no-buzzer\n";
    const std::vector<std::string> want = {
        "t.scn:2: unknown key 'SIDEWAYS' (UP DOWN MIDDLE PLAY BACK)",
        "t.scn:3: '2' is not a duration (150ms, 2s, 1.5s)",
        "t.scn:4: expected a \"quoted text\"",
        "t.scn:5: missing an exit code",
        "t.scn:6: unknown signal 'SIGNOPE' (SIGSEGV, ...)",
        "t.scn:7: unknown errno name 'ENOPE' (ENOEXEC, ...)",
        "t.scn:8: its setting 'broken' is not one of ok|failing|gone",
        "t.scn:9: 'menu.jpg' does not end in .png",
        "t.scn:10: a quoted text without its closing \"",
        "t.scn:11: unknown step 'hover'",
        "t.scn:12: unexpected '3s' at the end",
        "t.scn:13: 'board' is set-up: it must come before the first action, when the board starts",
    };
    std::vector<vxscenario::ParseError> errors;
    vxscenario::parse(dir_ / "t.scn", text, errors);
    std::vector<std::string> got;
    for (const auto& e : errors)
        got.push_back(fs::path(vxscenario::to_string(e)).filename().string());
    EXPECT_EQ(got, want);
}

TEST_F(ScenarioTest, StepsReadAsWritten) {
    const vxscenario::Scenario s =
        parse("mode av\nargs --menu\ntap UP\nhold PLAY 1.5s  # a comment\n"
              "slide PLAY DOWN 200ms\nexpect osd 2 \"a \\\"b\\\"\"\n");
    EXPECT_EQ(s.setup.mode, MODE_AV);
    EXPECT_EQ(s.setup.args, std::vector<std::string>{"--menu"});
    std::vector<long> spans;
    for (const vxscenario::Step& step : s.steps)
        spans.push_back(static_cast<long>(step.span.count()));
    EXPECT_EQ(spans, (std::vector<long>{150, 1500, 200, 0}));
    EXPECT_EQ(s.steps[1].source, "hold PLAY 1.5s");
    EXPECT_EQ(s.steps[3].text, "a \"b\"");
}

// One board, a menu open and an app run: each expectation below fails, and says what it
// expected and what it found.
TEST_F(ScenarioTest, FailedExpectationsSayWhatTheyFound) {
    const vxscenario::Scenario s = parse("apps " + APPS +
                                         " greeter\nhold PLAY 2s\ntap MIDDLE\nwait-for app-exit\n"
                                         "expect log \"child greeter exited\"\n"
                                         "expect log \"menu open\"\n"
                                         "expect no-log \"greeter\"\n"
                                         "expect app-log greeter \"bye\"\n"
                                         "expect app-log gone \"bye\"\n"
                                         "expect service running\n"
                                         "expect screen goggles\n"
                                         "expect selected 1\n"
                                         "expect osd 2 \"X\"\n"
                                         "expect tone 550\n"
                                         "expect app greeter killed SIGSEGV\n"
                                         "expect app other running\n"
                                         "wait-for log \"never\" within 100ms\n");
    const std::vector<std::string> found = {
        "",
        "",
        "",
        "",
        "expected a line containing \"menu open\"\nfound    none from line 9 on",
        "expected no line containing \"greeter\" from line 9 on\nfound    line 9: child greeter "
        "exited",
        "expected greeter.log to contain \"bye\"\nfound    its last line \"greeter: hello from " +
            std::string(STAGING_DIR) + "/greeter\"",
        "expected gone.log to contain \"bye\"\nfound    no such log",
        "expected the service running\nfound    state T",
        "expected goggles\nfound    menu (a launcher page at row 2160)",
        "expected slot 1 highlighted\nfound    slot 0",
        "expected overlay row 2 \"X\"\nfound    \"\"",
        "expected 550 Hz\nfound    silence",
        "expected greeter killed by SIGSEGV\nfound    exited 0",
        "expected other running\nfound    never launched",
        "expected a line containing \"never\" within 100 ms\nfound    none from line 9 on",
    };
    ASSERT_EQ(s.steps.size(), found.size());
    vxscenario::Session session(s, {});
    for (size_t i = 0; i < found.size(); ++i)
        EXPECT_EQ(session.run(s.steps[i]).value_or(""), found[i]) << s.steps[i].source;
}

TEST_F(ScenarioTest, AcceptedReferencePassesAndAChangedScreenWritesItsDifference) {
    const std::string head = "apps " + APPS + " crasher\nhold PLAY 2s\n";
    const std::string ref = write("accept.scn", head + "compare ref.png\n");
    std::string out;
    ASSERT_EQ(run_command("--accept " + ref, out), 0) << out;
    ASSERT_TRUE(fs::exists(dir_ / "ref.png"));

    const std::string check =
        write("check.scn", head + "compare ref.png\ntap MIDDLE\nwait-for app-exit\n"
                                  "expect app crasher killed SIGSEGV\nhold PLAY 3.3s\n"
                                  "compare ref.png\n");
    EXPECT_EQ(run_command("--report " + (dir_ / "out/report.txt").string() + " " + check, out), 1)
        << out;
    EXPECT_NE(out.find("     3  compare ref.png"), std::string::npos) << out;
    EXPECT_NE(out.find("     6  expect app crasher killed SIGSEGV"), std::string::npos) << out;
    EXPECT_NE(out.find("FAILED " + check + " at line 8"), std::string::npos) << out;
    EXPECT_NE(out.find("pixels differ"), std::string::npos) << out;
    std::vector<uint32_t> px;
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(vxboard::read_png_argb(dir_ / "out/ref.diff.png", px, w, h));
    EXPECT_TRUE(std::count(px.begin(), px.end(), 0xFFFF0000u) > 0) << "differences in red";
    EXPECT_TRUE(fs::exists(dir_ / "out/check.line8.png")) << "the screen at the failure";
}

TEST_F(ScenarioTest, ExitStatusSaysWhetherAllPassedOneFailedOrNothingRan) {
    const std::string good =
        write("good.scn", "apps " + APPS + " greeter\nexpect screen goggles\n");
    const std::string bad = write("bad.scn", "expect screen sideways\n");
    const std::string failing = write("failing.scn", "apps " + APPS + "\nexpect screen menu\n");
    std::string out;
    EXPECT_EQ(run_command(good, out), 0) << out;
    EXPECT_EQ(run_command(good + " " + failing, out), 1) << out;
    EXPECT_NE(out.find("2 scenario(s): 1 passed, 1 failed: " + failing), std::string::npos) << out;
    EXPECT_EQ(run_command(good + " " + bad, out), 2) << out;
    EXPECT_EQ(out,
              bad + ":1: what the screen shows 'sideways' is not one of goggles|launcher|menu\n");
    EXPECT_EQ(run_command("--apps /no/such/dir " + good, out), 2) << out;
}

// What the emulated goggles cannot give is refused before any guest boots, naming it; what
// they can give is not refused, and no other target refuses anything. A refused scenario
// does not pass: the command's summary counts it and its status is 1.
TEST_F(ScenarioTest, TheEmulatedGogglesRefuseWhatOnlyTheFastBoardGives) {
    vxscenario::Options goggles;
    goggles.target = vxboard::Target::Goggles;
    goggles.realtime = true;
    const struct {
        const char* text;
        const char* refused; // nullptr: runs; else a part of the reason
    } cases[] = {
        {"hold PLAY 2s\nfault overlay missing\nfault transport failing\nkill-launcher\n", nullptr},
        {"recording a.ts 10 2026-05-01T10:00\nmode av\n", nullptr},
        {"apps samples battery_log\n", "run battery_log: the release archive does not ship it"},
        {"apps samples no-such-app\n", "run no-such-app"},
        {"board no-buzzer\n", "start without one of their devices"},
        {"args --menu\n", "give the launcher arguments"},
        {"hold PLAY 2s\nfault fb-pan on\n", "inject `fault fb-pan on` (line 3)"},
        {"hold PLAY 2s\nwait 1s\nfault transport gone\n", "inject `fault transport gone` (line 4)"},
    };
    for (const auto& c : cases) {
        // The release's apps aside, a scenario's own, on the line before the case's.
        const std::string text = std::string(c.text).rfind("apps ", 0) == 0
                                     ? c.text
                                     : "apps " + APPS + " greeter\n" + c.text;
        const vxscenario::Scenario s = parse(text);
        const std::string why = vxscenario::refusal(s, goggles);
        if (c.refused == nullptr) {
            EXPECT_EQ(why, "") << c.text;
        } else {
            EXPECT_EQ(why.rfind("the emulated goggles cannot ", 0), 0u) << why;
            EXPECT_NE(why.find(c.refused), std::string::npos) << c.text << ": " << why;
        }
        vxscenario::Options host = goggles;
        host.target = vxboard::Target::Host;
        EXPECT_EQ(vxscenario::refusal(s, host), "") << c.text;
    }
    vxscenario::Options stepped = goggles;
    stepped.realtime = false;
    EXPECT_NE(
        vxscenario::refusal(parse("hold PLAY 2s\n"), stepped).find("step the launcher's clock"),
        std::string::npos);

    const std::string refused = write("refused.scn", "apps samples battery_log\n");
    std::string out;
    EXPECT_EQ(run_command("--target goggles --realtime " + refused, out), 1) << out;
    EXPECT_NE(out.find("REFUSED " + refused + ": the emulated goggles cannot run battery_log"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("1 scenario(s): 0 passed, 0 failed; 1 refused: " + refused),
              std::string::npos)
        << out;
}

// The launcher's lines as the recorder reads them: each by its most literal form, and written
// for a replay's `expect log` up to what another run gives otherwise (a pid, a count of
// writes, a length in ms).
TEST(RecordedLines, ReadByTheirFormAndWrittenUpToTheirStablePart) {
    struct Case {
        const char* line;
        std::string_view form;
        const char* stable; // nullptr: the whole line
    };
    const Case CASES[] = {
        {"launched chatter pid=42", LOG_LAUNCHED, "launched chatter pid="},
        {"osd menu open (writes=15 fail=0)", LOG_OSD_OPEN, "osd menu open (writes="},
        {"hold: keys blocked at 512 ms", LOG_KEYS_BLOCKED, "hold: keys blocked at "},
        {"hold aborted (key, 0 ms)", LOG_HOLD_ABORTED, "hold aborted (key, "},
        {"hold aborted (menu release, 1200 ms)", LOG_CLOSING_HOLD_ABORTED,
         "hold aborted (menu release, "},
        {"menu open (hold play, 4 apps)", LOG_MENU_OPEN, nullptr},
        {"menu open via --menu (4 apps)", LOG_MENU_BY_REQUEST, nullptr},
        {"menu closed (hold play 3 s)", LOG_MENU_CLOSED.c_str(), nullptr},
        {"osd menu open fail po child", LOG_OSD_OPEN_FAIL_AFTER_APP, nullptr},
        {"mode: LT8668 B7=0x02 AD=0x02 AC=0x01", LOG_MODE_REGISTERS, nullptr},
        {"boot mode=1 (0=? 1=NORMAL 2=HDMI 3=AV)", LOG_BOOT_MODE.c_str(), nullptr},
        {"fb0: No such file or directory", "fb0: %s\n", nullptr},
        {"mode: LT8668 B7=0x2 AD=0x02 AC=0x01", "", nullptr},
        {"a line of an app, 40 ms", "", nullptr},
    };
    for (const Case& c : CASES) {
        const std::optional<vxboard::LogLine> l = vxboard::read_log_line(c.line);
        EXPECT_EQ(l ? l->form : "", c.form) << c.line;
        EXPECT_EQ(vxscenario::stable_part(c.line), c.stable ? c.stable : c.line);
    }
}

} // namespace
