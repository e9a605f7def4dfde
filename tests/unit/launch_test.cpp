#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "apps/launch.h"
#include "apps/running.h"
#include "process_support.h"

namespace fs = std::filesystem;
using Words = std::vector<std::string>;

namespace {

TEST(SplitArgs, WordsAtSpacesWithinTheSlotsGiven) {
    const Words nine = {"1", "2", "3", "4", "5", "6", "7", "8"};
    struct Case {
        const char* text;
        int slots;
        Words want;
    } cases[] = {
        {"", LAUNCH_ARGV_SLOTS, {}},
        {"   ", LAUNCH_ARGV_SLOTS, {}},
        {"  a   b  ", LAUNCH_ARGV_SLOTS, {"a", "b"}},
        {"\"two words\" 'q' back\\ x",
         LAUNCH_ARGV_SLOTS,
         {"\"two", "words\"", "'q'", "back\\", "x"}},
        {"tab\tinside", LAUNCH_ARGV_SLOTS, {"tab\tinside"}},
        {"1 2 3 4 5 6 7 8 9 10", LAUNCH_ARGV_SLOTS, nine},
        {"1  2 3 4 5 6 7 8   ", LAUNCH_ARGV_SLOTS, nine},
        {"a b c", 4, {"a", "b"}},
        {"a b c", 2, {}},
        {"a b c", 1, {}},
        {"a b c", 0, {}},
    };
    char* const untouched = reinterpret_cast<char*>(0x1);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("[") + c.text + "] in " + std::to_string(c.slots));
        char text[128];
        std::snprintf(text, sizeof text, "%s", c.text);
        char* argv[LAUNCH_ARGV_SLOTS + 2];
        for (char*& p : argv)
            p = untouched;
        const int n = launch_split_args(text, argv, c.slots);
        ASSERT_EQ(n, int(c.want.size()));
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(argv[1 + i], c.want[i]);
        if (c.slots >= 2) {
            EXPECT_EQ(argv[1 + n], nullptr);
        }
        EXPECT_EQ(argv[0], untouched) << "argv[0] is the caller's";
        for (int i = c.slots < 2 ? 1 : 2 + n; i < LAUNCH_ARGV_SLOTS + 2; ++i)
            EXPECT_EQ(argv[i], untouched) << "wrote argv[" << i << "]";
    }
}

std::string proc(pid_t pid, const std::string& what) {
    return "/proc/" + std::to_string(pid) + "/" + what;
}

mode_t mode_of(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(lstat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
}

mode_t current_umask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

class Launch : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx-launch-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        g_running = RunningApp{};
    }
    void TearDown() override {
        g_running = RunningApp{};
        fs::remove_all(root_);
    }

    fs::path stage() const { return root_ / "stage"; }
    void private_stage() {
        fs::create_directories(stage());
        chmod(stage().c_str(), 0755);
    }

    void write_app(const std::string& name, const std::string& content) {
        fs::create_directories(root_ / "apps" / name);
        std::ofstream(root_ / "apps" / name / "app", std::ios::binary | std::ios::trunc) << content;
        chmod((root_ / "apps" / name / "app").c_str(), 0755);
    }

    int32_t launch(const std::string& name, const char* args = "", RunningApp* running = nullptr) {
        AppEntry e;
        std::memset(&e, 0, sizeof e);
        std::snprintf(e.name, sizeof e.name, "%s", name.c_str());
        std::snprintf(e.args, sizeof e.args, "%s", args);
        RunningApp scratch;
        return launch_app(e, (root_ / "apps").c_str(), stage().c_str(),
                          running != nullptr ? running : &scratch);
    }

    std::string stderr_of(const std::function<void()>& body) {
        return ::stderr_of(root_ / "stderr", body);
    }

    static int exit_status(pid_t pid) {
        int st = 0;
        EXPECT_EQ(waitpid(pid, &st, 0), pid);
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }

    // The launcher's way of noticing the end: polled, never blocking.
    int32_t reap_within(const RunningApp& running) {
        g_running = running;
        int32_t reaped = 0;
        wait_until([&] { return (reaped = reap_running_app_in(stage().c_str())) == 1; });
        return reaped;
    }

    fs::path root_;
};

TEST_F(Launch, TheAppReportsItsArgumentsDirectoryAndEnvironmentInItsLog) {
    const std::string script = "#!/bin/sh\n"
                               "for a in \"$0\" \"$@\"; do printf 'arg=%s\\n' \"$a\"; done\n"
                               "printf 'cwd=%s\\n' \"$(pwd -P)\"\n"
                               "printf 'env='; cat /proc/$$/environ; printf '\\n'\n"
                               "echo on-stderr >&2\n";
    write_app("demo", script);
    const fs::path app_dir = stage() / "demo", log = stage() / "demo.log";
    RunningApp running;
    int32_t pid = -1;
    const std::string err = stderr_of([&] {
        pid = launch("demo", " a  b\"c 'd'  1 2 3 4 5 6 7 ", &running);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(running.pid, pid);
        EXPECT_STREQ(running.name, "demo");
        EXPECT_EQ(slurp(stage() / "demo.pid"), std::to_string(pid) + "\n");
        ASSERT_EQ(reap_within(running), 1);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(reap_running_app_in(stage().c_str()), 0);
    });
    EXPECT_EQ(err, "launched demo pid=" + std::to_string(pid) + "\nchild demo exited\n");
    EXPECT_FALSE(fs::exists(stage() / "demo.pid"));
    EXPECT_EQ(slurp(app_dir / "app"), script);
    EXPECT_EQ(mode_of(app_dir / "app"), 0755 & ~current_umask());
    EXPECT_EQ(mode_of(log), 0644 & ~current_umask());

    std::string want = "arg=" + (app_dir / "app").string() + "\n";
    for (const char* w : {"a", "b\"c", "'d'", "1", "2", "3", "4", "5"})
        want += std::string("arg=") + w + "\n";
    want += "cwd=" + fs::canonical(app_dir).string() + "\n";
    want += "env=" + std::string(LAUNCH_PATH_ENV) + '\0' + "\non-stderr\n";
    EXPECT_EQ(slurp(log), want);
}

// A shell resets signals and opens files of its own; a copy of sleep keeps exactly what the
// launch gave it, for the test to look at from outside.
TEST_F(Launch, TheAppStartsInItsOwnSessionWithOnlyItsLogAndDefaultSignals) {
    fs::create_directories(root_ / "apps" / "sleeper");
    fs::copy_file(fs::exists("/bin/sleep") ? "/bin/sleep" : "/usr/bin/sleep",
                  root_ / "apps" / "sleeper" / "app");
    // Descriptors the launcher holds without close-on-exec (its devices) must not reach the
    // app, up to the highest one closed; nor its own SIGCHLD setting.
    const int held[] = {43, LAUNCH_MAX_FD};
    const int devnull = open("/dev/null", O_RDONLY);
    for (int fd : held)
        ASSERT_EQ(dup2(devnull, fd), fd);
    close(devnull);
    signal(SIGHUP, SIG_DFL);
    signal(SIGCHLD, SIG_IGN);
    RunningApp running;
    const int32_t pid = launch("sleeper", "  29 1 ", &running);
    signal(SIGCHLD, SIG_DFL);
    for (int fd : held)
        close(fd);
    ASSERT_GT(pid, 0);

    const fs::path app_dir = stage() / "sleeper", staged = app_dir / "app";
    ASSERT_TRUE(wait_until([&] {
        std::error_code ec;
        return fs::read_symlink(proc(pid, "exe"), ec) == fs::canonical(staged);
    }));
    EXPECT_EQ(slurp(proc(pid, "cmdline")), staged.string() + '\0' + "29" + '\0' + "1" + '\0');
    EXPECT_EQ(slurp(proc(pid, "environ")), std::string(LAUNCH_PATH_ENV) + '\0');
    EXPECT_EQ(fs::read_symlink(proc(pid, "cwd")), fs::canonical(app_dir));
    std::set<std::string> fds, want_fds = {"1", "2"};
    if (fcntl(0, F_GETFD) != -1) want_fds.insert("0"); // 0 stays as the launcher had it
    // sleep opens files of its own as it starts (its locale): wait until it sleeps.
    wait_until([&] {
        fds.clear();
        for (const auto& de : fs::directory_iterator(proc(pid, "fd")))
            fds.insert(de.path().filename().string());
        return fds == want_fds;
    });
    EXPECT_EQ(fds, want_fds);
    for (const char* fd : {"1", "2"}) {
        EXPECT_EQ(fs::read_symlink(proc(pid, "fd/") + fd), fs::canonical(stage() / "sleeper.log"));
        const std::string info = slurp(proc(pid, "fdinfo/") + fd);
        const unsigned long flags = std::stoul(info.substr(info.find("flags:") + 6), nullptr, 8);
        EXPECT_EQ(flags & (O_NONBLOCK | O_APPEND | O_ACCMODE), unsigned(O_WRONLY)) << fd;
    }
    EXPECT_EQ(getsid(pid), pid) << "the app leads a session of its own";
    std::ifstream status(proc(pid, "status"));
    uint64_t ignored = 0;
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigIgn:", 0) == 0) ignored = std::stoull(line.substr(7), nullptr, 16);
    EXPECT_NE(ignored & (1ull << (SIGHUP - 1)), 0u) << "SIGHUP ignored";
    EXPECT_EQ(ignored & (1ull << (SIGCHLD - 1)), 0u) << "SIGCHLD at its default";
    EXPECT_EQ(any_app_running_in(stage().c_str()), 1);
    kill(pid, SIGKILL);
    ASSERT_EQ(reap_within(running), 1);
    EXPECT_EQ(any_app_running_in(stage().c_str()), 0);
}

// Started with some of descriptors 0 to 2 closed, the launcher gets them back from its own
// opens (staging directories, the log); the app must still get its log and directory.
TEST_F(Launch, TheLogReachesTheAppWhicheverStandardDescriptorsWereClosed) {
    write_app("stdio", "#!/bin/sh\nprintf 'cwd=%s\\n' \"$(pwd -P)\"\necho out\necho err >&2\n");
    for (const std::vector<int>& closed : {std::vector<int>{2}, {1, 2}, {0, 1, 2}, {0, 1}}) {
        SCOPED_TRACE("closed " + std::to_string(closed.front()) + ".." +
                     std::to_string(closed.back()));
        const pid_t launcher = fork();
        if (launcher == 0) {
            for (int fd : closed)
                close(fd);
            const int32_t pid = launch("stdio");
            _exit(pid > 0 ? exit_status(pid) : 100);
        }
        EXPECT_EQ(exit_status(launcher), 0);
        EXPECT_EQ(slurp(stage() / "stdio.log"),
                  "cwd=" + fs::canonical(stage() / "stdio").string() + "\nout\nerr\n");
    }
}

TEST_F(Launch, ASecondLaunchReplacesTheCopyAndEmptiesTheLog) {
    const std::string first = "#!/bin/sh\necho a first run with a long line of output\n";
    write_app("again", first);
    int32_t pid = launch("again");
    ASSERT_GT(pid, 0);
    EXPECT_EQ(exit_status(pid), 0);
    // A second name for the first copy shows whether it was replaced or written over.
    fs::create_hard_link(stage() / "again" / "app", root_ / "first-copy");
    write_app("again", "#!/bin/sh\necho second\n");
    pid = launch("again");
    ASSERT_GT(pid, 0);
    EXPECT_EQ(exit_status(pid), 0);
    EXPECT_EQ(slurp(stage() / "again" / "app"), slurp(root_ / "apps" / "again" / "app"));
    EXPECT_EQ(slurp(root_ / "first-copy"), first);
    EXPECT_EQ(slurp(stage() / "again.log"), "second\n");
}

TEST_F(Launch, ExecFormatErrorEndsTheChildWith127) {
    write_app("junk", std::string(64, '\x7f') + "not a program");
    int32_t pid = -1;
    const std::string err = stderr_of([&] { pid = launch("junk"); });
    ASSERT_GT(pid, 0);
    EXPECT_EQ(exit_status(pid), 127);
    EXPECT_EQ(err, "launched junk pid=" + std::to_string(pid) + "\n");
}

// Every way the parent can fail: one log line, nothing recorded, no temporary copy, and
// nothing outside the staging area touched.
TEST_F(Launch, FailuresLogOnceAndLeaveNoTemporaryCopy) {
    const fs::path precious = root_ / "precious", elsewhere = root_ / "elsewhere";
    const auto fifo = [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); };
    struct Case {
        std::string name;
        std::function<void(const fs::path& src)> setup;
    } cases[] = {
        {"missing-source", [](const fs::path& src) { fs::remove(src); }},
        {"source-fifo",
         [&](const fs::path& src) {
             fs::remove(src);
             fifo(src);
         }},
        {"source-dir",
         [](const fs::path& src) {
             fs::remove(src);
             fs::create_directory(src);
         }},
        {"staged-name-taken",
         [&](const fs::path&) { fs::create_directories(stage() / "staged-name-taken/app/x"); }},
        {"log-link",
         [&](const fs::path&) {
             private_stage();
             fs::create_symlink(precious, stage() / "log-link.log");
         }},
        {"log-fifo",
         [&](const fs::path&) {
             private_stage();
             fifo(stage() / "log-fifo.log");
         }},
        {"stage-link", [&](const fs::path&) { fs::create_directory_symlink(elsewhere, stage()); }},
        {"app-dir-link",
         [&](const fs::path&) {
             private_stage();
             fs::create_directory_symlink(elsewhere, stage() / "app-dir-link");
         }},
        {"stage-shared",
         [&](const fs::path&) {
             private_stage();
             chmod(stage().c_str(), 0777);
         }},
        {"app-dir-shared",
         [&](const fs::path&) {
             private_stage();
             fs::create_directory(stage() / "app-dir-shared");
             chmod((stage() / "app-dir-shared").c_str(), 0775);
         }},
        {"../out", [](const fs::path&) {}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(stage());
        fs::remove_all(elsewhere);
        fs::create_directory(elsewhere);
        std::ofstream(precious, std::ios::trunc) << "keep me";
        if (c.name[0] != '.') write_app(c.name, "#!/bin/sh\nexit 0\n");
        c.setup(root_ / "apps" / c.name / "app");

        RunningApp running;
        int32_t pid = 0;
        const std::string err = stderr_of([&] {
            alarm(5); // should a FIFO's open block, the alarm ends the test
            pid = launch(c.name, "", &running);
            alarm(0);
        });
        EXPECT_EQ(pid, -1);
        EXPECT_EQ(err, "launch failed: " + c.name + "\n");
        EXPECT_EQ(running.pid, -1);
        EXPECT_STREQ(running.name, "");
        EXPECT_FALSE(fs::exists(stage() / c.name / "app.tmp"));
        EXPECT_FALSE(fs::exists(stage() / (c.name + ".pid")));
        EXPECT_EQ(slurp(precious), "keep me");
        EXPECT_TRUE(fs::is_empty(elsewhere));
        EXPECT_FALSE(fs::exists(root_ / "out"));
    }
}

// Links left where the temporary copy and the pid file go are removed or refused, never
// written through; neither stops the launch.
TEST_F(Launch, PlantedLinksAreNotFollowed) {
    const fs::path precious = root_ / "precious";
    write_app("victim", "#!/bin/sh\nexit 0\n");
    for (const fs::path& link : {stage() / "victim" / "app.tmp", stage() / "victim.pid"}) {
        SCOPED_TRACE(link);
        fs::remove_all(stage());
        private_stage();
        fs::create_directory(stage() / "victim");
        std::ofstream(precious, std::ios::trunc) << "keep me";
        fs::create_symlink(precious, link);
        const int32_t pid = launch("victim");
        ASSERT_GT(pid, 0);
        EXPECT_EQ(exit_status(pid), 0);
        EXPECT_EQ(slurp(precious), "keep me");
        EXPECT_EQ(slurp(stage() / "victim" / "app"), slurp(root_ / "apps" / "victim" / "app"));
    }
}

// A full /tmp makes the copy's write come up short; the file size limit stands in for it, in
// a child so that the limit ends with it. The earlier copy survives whole.
TEST_F(Launch, AShortWriteKeepsTheEarlierCopy) {
    write_app("big", "#!/bin/sh\nexit 0\n");
    const int32_t pid = launch("big");
    ASSERT_GT(pid, 0);
    EXPECT_EQ(exit_status(pid), 0);
    const std::string small = slurp(stage() / "big" / "app");

    write_app("big", "#!/bin/sh\n" + std::string(3 * LAUNCH_COPY_BYTES, '#') + "\n");
    const std::string err = stderr_of([&] {
        const pid_t child = fork();
        if (child == 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{LAUNCH_COPY_BYTES + 100, LAUNCH_COPY_BYTES + 100};
            setrlimit(RLIMIT_FSIZE, &limit);
            _exit(launch("big") == -1 ? 0 : 1);
        }
        EXPECT_EQ(exit_status(child), 0);
    });
    EXPECT_EQ(err, "launch failed: big\n");
    EXPECT_FALSE(fs::exists(stage() / "big" / "app.tmp"));
    EXPECT_EQ(slurp(stage() / "big" / "app"), small);
}

} // namespace
