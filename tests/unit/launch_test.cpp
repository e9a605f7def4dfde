#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "apps/launch.h"
#include "apps/running.h"

namespace fs = std::filesystem;

namespace {

TEST(PidText, ParsesLikeScanfWithoutOverflow) {
    struct Case {
        const char* text;
        int ok;
        int32_t pid;
    } cases[] = {
        {"123\n", 1, 123},
        {"  \t42 trailing", 1, 42},
        {"+7", 1, 7},
        {"-5\n", 1, -5},
        {"2147483647", 1, INT32_MAX},
        {"-2147483648", 1, INT32_MIN},
        {"2147483648", 0, 0},
        {"-2147483649", 0, 0},
        {"99999999999999999999", 0, 0},
        {"", 0, 0},
        {"abc", 0, 0},
        {"- 5", 0, 0},
        {"\n\n", 0, 0},
    };
    for (const Case& c : cases) {
        int32_t pid = 0;
        EXPECT_EQ(parse_pid_text(c.text, &pid), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(pid, c.pid) << c.text;
        }
    }
}

std::vector<std::string> split(const char* text) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%s", text);
    char* argv[LAUNCH_ARGV_SLOTS];
    argv[0] = const_cast<char*>("app");
    const int n = launch_split_args(buf, argv);
    std::vector<std::string> out;
    for (int i = 1; i <= n; ++i)
        out.emplace_back(argv[i]);
    EXPECT_EQ(argv[n + 1], nullptr);
    return out;
}

TEST(SplitArgs, SpacesOnlyAndAtMostEightWords) {
    using V = std::vector<std::string>;
    EXPECT_EQ(split(""), V{});
    EXPECT_EQ(split("   "), V{});
    EXPECT_EQ(split("  a   b  "), (V{"a", "b"}));
    EXPECT_EQ(split("\"two words\" 'q'"), (V{"\"two", "words\"", "'q'"}));
    EXPECT_EQ(split("1 2 3 4 5 6 7 8 9 10"), (V{"1", "2", "3", "4", "5", "6", "7", "8"}));
}

class Staging : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx-launch-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        fs::create_directories(root_ / "apps");
        chmod(root_.c_str(), 0755);
    }
    void TearDown() override { fs::remove_all(root_); }

    std::string staging() const { return (root_ / "stage").string(); }
    std::string apps() const { return (root_ / "apps").string(); }

    AppEntry entry(const std::string& name, const std::string& script, const char* args = "") {
        fs::create_directories(root_ / "apps" / name);
        std::ofstream(root_ / "apps" / name / "app") << script;
        chmod((root_ / "apps" / name / "app").c_str(), 0755);
        AppEntry e;
        std::memset(&e, 0, sizeof e);
        std::snprintf(e.name, sizeof e.name, "%s", name.c_str());
        std::snprintf(e.args, sizeof e.args, "%s", args);
        e.modes = 1;
        e.allowed = 1;
        return e;
    }

    int wait_status(pid_t pid) {
        int st = 0;
        EXPECT_EQ(waitpid(pid, &st, 0), pid);
        return st;
    }

    static std::string slurp(const fs::path& p) {
        std::ifstream in(p);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    fs::path root_;
};

TEST_F(Staging, StagesRunsAndReaps) {
    const AppEntry e = entry("demo", "#!/bin/sh\necho \"$0|$*|$(pwd)|$PATH\"\n", "x  y");
    RunningApp running;
    const int32_t pid = launch_app(e, apps().c_str(), staging().c_str(), &running);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(running.pid, pid);
    EXPECT_STREQ(running.name, "demo");
    EXPECT_EQ(slurp(root_ / "stage" / "demo.pid"), std::to_string(pid) + "\n");
    EXPECT_EQ(slurp(root_ / "stage" / "demo" / "app"), slurp(root_ / "apps" / "demo" / "app"));
    EXPECT_EQ(any_app_running_in(staging().c_str()), 1);

    g_running = running;
    int32_t reaped = 0;
    for (int i = 0; i < 500 && !reaped; ++i) {
        reaped = reap_running_app_in(staging().c_str());
        if (!reaped) usleep(10000);
    }
    ASSERT_EQ(reaped, 1);
    EXPECT_EQ(g_running.pid, -1);
    EXPECT_FALSE(fs::exists(root_ / "stage" / "demo.pid"));
    EXPECT_EQ(reap_running_app_in(staging().c_str()), 0);
    const std::string st = staging();
    EXPECT_EQ(slurp(root_ / "stage" / "demo.log"),
              st + "/demo/app|x y|" + st + "/demo|/bin:/usr/bin:/local/usr/bin\n");
}

TEST_F(Staging, RefusesLinksPlantedInTheStagingArea) {
    const AppEntry e = entry("victim", "#!/bin/sh\nexit 0\n");
    const fs::path target = root_ / "precious";
    std::ofstream(target) << "keep me";
    fs::create_directories(root_ / "stage" / "victim");
    chmod((root_ / "stage").c_str(), 0755);
    struct Case {
        const char* what;
        fs::path link;
    } cases[] = {
        {"log", root_ / "stage" / "victim.log"},
        {"temporary copy", root_ / "stage" / "victim" / "app.tmp"},
    };
    for (const Case& c : cases) {
        fs::remove(c.link);
        fs::create_symlink(target, c.link);
        RunningApp running;
        const int32_t pid = launch_app(e, apps().c_str(), staging().c_str(), &running);
        if (pid > 0) wait_status(pid);
        EXPECT_EQ(slurp(target), "keep me") << c.what;
        fs::remove(c.link);
    }
    // A staging directory that is a link to somewhere else is not used at all.
    fs::remove_all(root_ / "stage");
    fs::create_directories(root_ / "elsewhere");
    fs::create_symlink(root_ / "elsewhere", root_ / "stage");
    RunningApp running;
    EXPECT_EQ(launch_app(e, apps().c_str(), staging().c_str(), &running), -1);
    EXPECT_TRUE(fs::is_empty(root_ / "elsewhere"));
}

TEST_F(Staging, FailuresLeaveNoTemporaryCopy) {
    AppEntry missing = entry("gone", "");
    fs::remove(root_ / "apps" / "gone" / "app");
    AppEntry fifo = entry("fifo", "");
    fs::remove(root_ / "apps" / "fifo" / "app");
    ASSERT_EQ(mkfifo((root_ / "apps" / "fifo" / "app").c_str(), 0755), 0);
    for (const AppEntry* e : {&missing, &fifo}) {
        RunningApp running;
        alarm(5); // a blocking open of the FIFO would hang here
        EXPECT_EQ(launch_app(*e, apps().c_str(), staging().c_str(), &running), -1) << e->name;
        alarm(0);
        EXPECT_EQ(running.pid, -1);
        EXPECT_FALSE(fs::exists(root_ / "stage" / e->name / "app.tmp")) << e->name;
        EXPECT_FALSE(fs::exists(root_ / "stage" / e->name / "app")) << e->name;
    }
}

TEST_F(Staging, ExecFailureEndsWith127) {
    const AppEntry e = entry("junk", std::string(32, '\x7f') + "junk");
    RunningApp running;
    const int32_t pid = launch_app(e, apps().c_str(), staging().c_str(), &running);
    ASSERT_GT(pid, 0);
    const int st = wait_status(pid);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 127);
}

TEST_F(Staging, PidFilesThatDoNotCount) {
    fs::create_directories(root_ / "stage");
    const pid_t child = fork();
    if (child == 0) {
        pause();
        _exit(0);
    }
    const pid_t dead = fork();
    if (dead == 0) _exit(0);
    wait_status(dead);
    struct Case {
        const char* file;
        std::string text;
        int32_t want;
    } cases[] = {
        {"own.pid", std::to_string(getpid()) + "\n", 0},
        {"zero.pid", "0\n", 0},
        {"one.pid", "1\n", 0},
        {"dead.pid", std::to_string(dead) + "\n", 0},
        {".pid", std::to_string(child) + "\n", 0},
        {"live.txt", std::to_string(child) + "\n", 0},
        {"live.pid", "  " + std::to_string(child) + " extra", 1},
    };
    for (const Case& c : cases) {
        std::ofstream(root_ / "stage" / c.file) << c.text;
        EXPECT_EQ(any_app_running_in(staging().c_str()), c.want) << c.file;
        fs::remove(root_ / "stage" / c.file);
    }
    ASSERT_EQ(mkfifo((root_ / "stage" / "fifo.pid").c_str(), 0644), 0);
    alarm(5);
    EXPECT_EQ(any_app_running_in(staging().c_str()), 0);
    alarm(0);
    kill(child, SIGKILL);
    wait_status(child);
}

} // namespace
