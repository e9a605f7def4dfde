#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdio>
#include <set>

#include "apps/launch.h"
#include "apps/running.h"
#include "process_support.h"

namespace {

TEST(SplitArgs, WordsAtSpacesWithinTheSlotsGiven) {
    using Words = std::vector<std::string>;
    const Words eight = {"1", "2", "3", "4", "5", "6", "7", "8"};
    const struct {
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
        {"1 2 3 4 5 6 7 8 9 10", LAUNCH_ARGV_SLOTS, eight},
        {"1  2 3 4 5 6 7 8   ", LAUNCH_ARGV_SLOTS, eight},
        {"a b c", 4, {"a", "b"}},
        {"a b c", 2, {}},
        {"a b c", 1, {}},
        {"a b c", 0, {}},
    };
    char* const untouched = reinterpret_cast<char*>(0x1);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("[") + c.text + "] in " + std::to_string(c.slots));
        char text[128];
        std::snprintf(text, sizeof text, "%s", c.text);
        char* argv[LAUNCH_ARGV_SLOTS + 2];
        std::fill(std::begin(argv), std::end(argv), untouched);
        const int n = launch_split_args(text, argv, c.slots);
        ASSERT_EQ(n, int(c.want.size()));
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(argv[1 + i], c.want[i]);
        EXPECT_EQ(c.slots < 2 ? nullptr : argv[1 + n], nullptr);
        EXPECT_EQ(argv[0], untouched) << "argv[0] is the caller's";
        for (int i = c.slots < 2 ? 1 : 2 + n; i < LAUNCH_ARGV_SLOTS + 2; ++i)
            EXPECT_EQ(argv[i], untouched) << "wrote argv[" << i << "]";
    }
}

std::string proc(pid_t pid, const std::string& what) {
    return "/proc/" + std::to_string(pid) + "/" + what;
}

class Launch : public ProcessScratch {
  protected:
    fs::path stage() const { return dir_ / "stage"; }
    fs::path source(const std::string& name) const { return dir_ / "apps" / name / "app"; }
    void write_app(const std::string& name, const std::string& content) {
        fs::create_directories(source(name).parent_path());
        std::ofstream(source(name), std::ios::trunc) << content;
        chmod(source(name).c_str(), 0755);
    }
    int32_t launch(const std::string& name, const char* args = "", RunningApp* running = nullptr) {
        AppEntry e{};
        std::snprintf(e.name, sizeof e.name, "%s", name.c_str());
        std::snprintf(e.args, sizeof e.args, "%s", args);
        RunningApp scratch;
        return launch_app(e, (dir_ / "apps").c_str(), stage().c_str(),
                          running != nullptr ? running : &scratch);
    }
    // Launches and waits: the app's exit status, or -100 when the launch failed.
    int run(const std::string& name) {
        const int32_t pid = launch(name);
        return pid > 0 ? exit_status(pid) : -100;
    }
};

// A shell resets signals and opens files of its own; a copy of sleep keeps exactly what the
// launch gave it, for the test to look at from outside. The launcher then notices its end
// by polling, never blocking.
TEST_F(Launch, TheAppRunsItsCopyInASessionOfItsOwnWithOnlyItsLog) {
    fs::create_directories(source("sleeper").parent_path());
    fs::copy_file(fs::exists("/bin/sleep") ? "/bin/sleep" : "/usr/bin/sleep", source("sleeper"));
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
    int32_t pid = -1;
    std::string err =
        stderr_of([&] { pid = launch("sleeper", "  29  1 2 3 4 5 6 7 8 9 ", &running); });
    signal(SIGCHLD, SIG_DFL);
    for (int fd : held)
        close(fd);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(err, "launched sleeper pid=" + std::to_string(pid) + "\n");
    EXPECT_EQ(running.pid, pid);
    EXPECT_STREQ(running.name, "sleeper");
    EXPECT_EQ(slurp(stage() / "sleeper.pid"), std::to_string(pid) + "\n");

    const fs::path app_dir = stage() / "sleeper", staged = app_dir / "app";
    // The executable changes before the new command line and environment are in place.
    ASSERT_TRUE(wait_until([&] {
        std::error_code ec;
        return fs::read_symlink(proc(pid, "exe"), ec) == fs::canonical(staged) &&
               !slurp(proc(pid, "cmdline")).empty();
    }));
    std::string cmdline = staged.string() + '\0';
    for (const char* word : {"29", "1", "2", "3", "4", "5", "6", "7"})
        cmdline += std::string(word) + '\0';
    EXPECT_EQ(slurp(proc(pid, "cmdline")), cmdline);
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
    const std::string status = slurp(proc(pid, "status"));
    const uint64_t ignored = std::stoull(status.substr(status.find("SigIgn:") + 7), nullptr, 16);
    EXPECT_NE(ignored & (1ull << (SIGHUP - 1)), 0u) << "SIGHUP ignored";
    EXPECT_EQ(ignored & (1ull << (SIGCHLD - 1)), 0u) << "SIGCHLD at its default";

    EXPECT_EQ(any_app_running_in(stage().c_str()), 1);
    g_running = running;
    err = stderr_of([&] {
        alarm(5); // a blocking wait would hang here
        EXPECT_EQ(reap_running_app_in(stage().c_str()), 0);
        alarm(0);
        EXPECT_TRUE(fs::exists(stage() / "sleeper.pid"));
        kill(pid, SIGKILL);
        EXPECT_TRUE(wait_until([&] { return reap_running_app_in(stage().c_str()) == 1; }));
        EXPECT_EQ(reap_running_app_in(stage().c_str()), 0);
    });
    EXPECT_EQ(err, "child sleeper exited\n");
    EXPECT_EQ(g_running.pid, -1);
    EXPECT_FALSE(fs::exists(stage() / "sleeper.pid"));
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
            _exit(run("stdio"));
        }
        EXPECT_EQ(exit_status(launcher), 0);
        EXPECT_EQ(slurp(stage() / "stdio.log"),
                  "cwd=" + fs::canonical(stage() / "stdio").string() + "\nout\nerr\n");
    }
}

// Each launch stages a fresh copy through a temporary file and a rename, so that an earlier
// copy (which may still run) is replaced whole or not at all. Links planted where the
// temporary copy and the pid file go are removed or refused, never written through. A full
// /tmp makes the copy's write come up short: the file size limit stands in for it, in a
// child so that the limit ends with it.
TEST_F(Launch, EachLaunchReplacesTheCopyWholeOrNotAtAll) {
    const std::string first = "#!/bin/sh\necho a first run with a long line of output\n";
    const std::string second = "#!/bin/sh\necho second\n";
    write_app("again", first);
    ASSERT_EQ(run("again"), 0);
    fs::create_hard_link(stage() / "again" / "app", dir_ / "first-copy");
    write_app("again", second);
    std::ofstream(dir_ / "precious") << "keep me";
    for (const char* planted : {"again/app.tmp", "again.pid"}) {
        fs::remove(stage() / planted);
        fs::create_symlink(dir_ / "precious", stage() / planted);
    }
    EXPECT_EQ(run("again"), 0);
    EXPECT_EQ(slurp(stage() / "again" / "app"), second);
    EXPECT_EQ(slurp(dir_ / "first-copy"), first);
    EXPECT_EQ(slurp(stage() / "again.log"), "second\n");
    EXPECT_EQ(slurp(dir_ / "precious"), "keep me");

    write_app("again", "#!/bin/sh\n" + std::string(3 * LAUNCH_COPY_BYTES, '#') + "\n");
    const std::string err = stderr_of([&] {
        const pid_t child = fork();
        if (child == 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{LAUNCH_COPY_BYTES + 100, LAUNCH_COPY_BYTES + 100};
            setrlimit(RLIMIT_FSIZE, &limit);
            _exit(launch("again") == -1 ? 0 : 1);
        }
        EXPECT_EQ(exit_status(child), 0);
    });
    EXPECT_EQ(err, "launch failed: again\n");
    EXPECT_FALSE(fs::exists(stage() / "again" / "app.tmp"));
    EXPECT_EQ(slurp(stage() / "again" / "app"), second);

    // A copy that is no program ends its child, not the launch.
    write_app("again", std::string(64, '\x7f') + "not a program");
    EXPECT_EQ(run("again"), 127);
}

// Every way the parent can fail: one log line, nothing recorded, no temporary copy, and
// nothing outside the staging area touched. Each case plants something where the launch
// looks: 'f' a FIFO, 'd' a directory, 'l' a link to a file outside, 'L' a link to a
// directory outside, 'g' a directory the group may write, 'o' a directory of another user
// (for a test run as root), '-' nothing at all.
TEST_F(Launch, FailuresLogOnceAndLeaveNoTemporaryCopy) {
    const fs::path precious = dir_ / "precious", elsewhere = dir_ / "elsewhere";
    const struct {
        std::string name, at;
        char what;
    } cases[] = {
        {"missing-source", "apps/missing-source/app", '-'},
        {"source-fifo", "apps/source-fifo/app", 'f'},
        {"source-dir", "apps/source-dir/app", 'd'},
        {"staged-name-taken", "stage/staged-name-taken/app", 'd'},
        {"log-link", "stage/log-link.log", 'l'},
        {"log-fifo", "stage/log-fifo.log", 'f'},
        {"stage-link", "stage", 'L'},
        {"app-dir-link", "stage/app-dir-link", 'L'},
        {"stage-shared", "stage", 'g'},
        {"app-dir-shared", "stage/app-dir-shared", 'g'},
        {"app-dir-foreign", "stage/app-dir-foreign", 'o'},
        {"../out", "", ' '},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.what == 'o' && geteuid() != 0) continue;
        fs::remove_all(stage());
        fs::remove_all(elsewhere);
        fs::create_directory(stage());
        chmod(stage().c_str(), 0755);
        fs::create_directory(elsewhere);
        std::ofstream(precious, std::ios::trunc) << "keep me";
        if (c.name[0] != '.') write_app(c.name, "#!/bin/sh\nexit 0\n");
        const fs::path at = dir_ / c.at;
        if (c.what != ' ') fs::remove_all(at);
        ASSERT_TRUE(c.what != 'f' || mkfifo(at.c_str(), 0644) == 0);
        if (c.what == 'd') fs::create_directories(at / "x");
        if (c.what == 'l' || c.what == 'L')
            fs::create_symlink(c.what == 'l' ? precious : elsewhere, at);
        if (c.what == 'g' || c.what == 'o') fs::create_directory(at);
        if (c.what == 'g') chmod(at.c_str(), 0775);
        ASSERT_TRUE(c.what != 'o' || chown(at.c_str(), 65534, 65534) == 0);

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
        EXPECT_FALSE(fs::exists(dir_ / "out"));
    }
}

} // namespace
