#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "apps/running.h"
#include "apps/service.h"
#include "process_support.h"

namespace fs = std::filesystem;

namespace {

TEST(PidText, ReadsTheLeadingNumberWithoutOverflow) {
    struct Case {
        const char* text;
        int ok;
        int32_t pid;
    } cases[] = {
        {"123\n", 1, 123},
        {"  \t\v\f\r\n42 trailing", 1, 42},
        {"7junk", 1, 7},
        {"0x10", 1, 0},
        {"+7", 1, 7},
        {"-5\n", 1, -5},
        {"2147483647", 1, INT32_MAX},
        {"-2147483648", 1, INT32_MIN},
        {"000000000000002147483647", 1, INT32_MAX},
        {"2147483648", 0, 0},
        {"-2147483649", 0, 0},
        {"4294967297", 0, 0},           // 2^32 + 1: 1 once wrapped to 32 bits
        {"18446744073709551621", 0, 0}, // 2^64 + 5: 5 once wrapped to 64 bits
        {"", 0, 0},
        {"   ", 0, 0},
        {"abc", 0, 0},
        {"+", 0, 0},
        {"- 5", 0, 0},
        {"+-5", 0, 0},
    };
    for (const Case& c : cases) {
        int32_t pid = 12345;
        EXPECT_EQ(parse_pid_text(c.text, &pid), c.ok) << "[" << c.text << "]";
        EXPECT_EQ(pid, c.ok ? c.pid : 12345) << "[" << c.text << "]";
    }
}

// The state letter ('T' stopped, 'Z' ended) and parent of a process, from /proc/PID/stat.
char proc_state(pid_t pid, pid_t* ppid = nullptr) {
    const std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
    const size_t paren = stat.rfind(')');
    char state = 0;
    int parent = -1;
    if (paren != std::string::npos)
        std::sscanf(stat.c_str() + paren + 1, " %c %d", &state, &parent);
    if (ppid != nullptr) *ppid = parent;
    return state;
}

pid_t parent_of(pid_t pid) {
    pid_t ppid = -1;
    proc_state(pid, &ppid);
    return ppid;
}

int count_my_children() {
    int n = 0;
    for (const auto& de : fs::directory_iterator("/proc")) {
        const std::string name = de.path().filename().string();
        if (name[0] >= '0' && name[0] <= '9' && parent_of(std::stoi(name)) == getpid()) ++n;
    }
    return n;
}

// A child that only waits, under `name`, killed should the test process die.
pid_t spawn_sleeper(const char* name = nullptr) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (name != nullptr) prctl(PR_SET_NAME, name);
        close(ready[1]); // named now
        for (;;)
            pause();
    }
    close(ready[1]);
    char c;
    while (read(ready[0], &c, 1) < 0 && errno == EINTR) {
    }
    close(ready[0]);
    return pid;
}

void end_child(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

class TempDir : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx-running-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        g_running = RunningApp{};
    }
    void TearDown() override {
        for (pid_t pid : children_)
            end_child(pid);
        g_running = RunningApp{};
        fs::remove_all(dir_);
    }
    pid_t spawn(const char* name = nullptr) {
        children_.push_back(spawn_sleeper(name));
        return children_.back();
    }
    std::string stderr_of(const std::function<void()>& body) {
        return ::stderr_of(dir_ / "stderr", body);
    }
    fs::path dir_;
    std::vector<pid_t> children_;
};

using AnyRunning = TempDir;

TEST_F(AnyRunning, OnlyALiveProcessOtherThanTheLauncherCounts) {
    const std::string live = std::to_string(spawn());
    const pid_t dead = fork();
    if (dead == 0) _exit(0);
    waitpid(dead, nullptr, 0);
    struct Case {
        const char* file;
        std::string text;
        int32_t want;
    } cases[] = {
        {"live.pid", live + "\n", 1},
        {"spaced.pid", " \t" + live + " and more", 1},
        {"own.pid", std::to_string(getpid()) + "\n", 0},
        {"zero.pid", "0\n", 0},
        {"one.pid", "1\n", 0},
        {"group.pid", "-" + live + "\n", 0},
        {"dead.pid", std::to_string(dead) + "\n", 0},
        {"huge.pid", "4294967296" + live, 0},
        {"words.pid", "pid " + live, 0},
        {".pid", live + "\n", 0},
        {"live.txt", live + "\n", 0},
        {"live.PID", live + "\n", 0},
    };
    for (const Case& c : cases) {
        std::ofstream(dir_ / c.file) << c.text;
        EXPECT_EQ(any_app_running_in(dir_.c_str()), c.want) << c.file;
        EXPECT_TRUE(fs::exists(dir_ / c.file)) << "pid files are only read, stale or not";
        fs::remove(dir_ / c.file);
    }
}

TEST_F(AnyRunning, FifosLinksAndForeignDirectoriesAreNotRead) {
    const pid_t live = spawn();
    std::ofstream(dir_ / "outside") << live << "\n";
    ASSERT_EQ(mkfifo((dir_ / "fifo.pid").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo((dir_ / "fed.pid").c_str(), 0644), 0);
    const int feeder = open((dir_ / "fed.pid").c_str(), O_RDWR); // a FIFO with a live pid in it
    const std::string fed = std::to_string(live) + "\n";
    ASSERT_EQ(write(feeder, fed.data(), fed.size()), ssize_t(fed.size()));
    fs::create_symlink(dir_ / "outside", dir_ / "link.pid");
    fs::create_directory(dir_ / "sub.pid");
    alarm(5); // should the FIFO's open block, the alarm ends the test
    EXPECT_EQ(any_app_running_in(dir_.c_str()), 0);
    alarm(0);
    close(feeder);

    // The same live pid file, in directories the launcher would not stage into.
    std::ofstream(dir_ / "real.pid") << live << "\n";
    for (mode_t mode : {0777, 0775, 0755}) {
        chmod(dir_.c_str(), mode);
        EXPECT_EQ(any_app_running_in(dir_.c_str()), mode == 0755 ? 1 : 0) << std::oct << mode;
    }
    fs::create_directory_symlink(dir_, dir_.string() + "-link");
    EXPECT_EQ(any_app_running_in((dir_.string() + "-link").c_str()), 0);
    fs::remove(dir_.string() + "-link");
    EXPECT_EQ(any_app_running_in((dir_ / "missing").c_str()), 0);
}

using Reap = TempDir;

TEST_F(Reap, NoticesTheEndOnceWithoutBlocking) {
    const pid_t child = spawn();
    g_running.pid = child;
    std::snprintf(g_running.name, sizeof g_running.name, "%s", "demo");
    std::ofstream(dir_ / "demo.pid") << child << "\n";
    std::ofstream(dir_ / "other.pid") << child << "\n";
    const std::string err = stderr_of([&] {
        alarm(5); // a blocking wait would hang here
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(reap_running_app_in(dir_.c_str()), 0);
        alarm(0);
        EXPECT_TRUE(fs::exists(dir_ / "demo.pid"));
        kill(child, SIGKILL);
        EXPECT_TRUE(wait_until([&] { return reap_running_app_in(dir_.c_str()) == 1; }));
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(reap_running_app_in(dir_.c_str()), 0);
    });
    EXPECT_EQ(err, "child demo exited\n");
    EXPECT_EQ(g_running.pid, -1);
    EXPECT_STREQ(g_running.name, "demo");
    EXPECT_FALSE(fs::exists(dir_ / "demo.pid"));
    EXPECT_TRUE(fs::exists(dir_ / "other.pid")) << "only the child's own pid file goes";
}

TEST_F(Reap, WithoutAChildNothingIsWaitedFor) {
    // An ended child of the launcher's that is not the app (a watchdog, say) stays unwaited.
    const pid_t other = fork();
    if (other == 0) _exit(0);
    ASSERT_TRUE(wait_until([&] { return proc_state(other) == 'Z'; }));
    std::ofstream(dir_ / ".pid") << other; // what a reap with an empty name would remove
    const std::string err = stderr_of([&] {
        for (int32_t pid : {-1, 0}) {
            g_running.pid = pid;
            EXPECT_EQ(reap_running_app_in(dir_.c_str()), 0) << pid;
            EXPECT_EQ(g_running.pid, pid);
        }
    });
    EXPECT_EQ(err, "");
    EXPECT_TRUE(fs::exists(dir_ / ".pid"));
    EXPECT_EQ(waitpid(other, nullptr, WNOHANG), other);
}

// A directory laid out like /proc whose comm files name real children of the test.
class Service : public TempDir {
  protected:
    void SetUp() override {
        TempDir::SetUp();
        g_service = ServiceControl{};
        baseline_ = count_my_children();
    }
    void TearDown() override {
        resume_goggle_service();
        g_service = ServiceControl{};
        TempDir::TearDown();
    }
    pid_t spawn_listed(const char* name) {
        const pid_t pid = spawn(name);
        fs::create_directories(dir_ / std::to_string(pid));
        std::ofstream(dir_ / std::to_string(pid) / "comm")
            << slurp("/proc/" + std::to_string(pid) + "/comm");
        return pid;
    }
    void pause_service() { pause_goggle_service_in(dir_.c_str()); }
    static bool stopped(pid_t pid) {
        return wait_until([&] { return proc_state(pid) == 'T'; });
    }
    static bool running(pid_t pid) {
        return wait_until([&] { return proc_state(pid) != 'T'; });
    }
    int watchdogs() const { return count_my_children() - baseline_ - int(children_.size()); }
    int baseline_ = 0;
};

TEST_F(Service, StopsOnlyTheServiceAndResumeContinuesIt) {
    const pid_t near_misses[] = {spawn_listed("fpv_grd_servic"), spawn_listed("FPV_GRD_SERVICE"),
                                 spawn_listed("fpv_grd_servicf")};
    const pid_t service = spawn_listed("fpv_grd_service");
    fs::create_directories(dir_ / "4194304"); // no comm file

    pause_service();
    EXPECT_EQ(g_service.service_pid, service);
    ASSERT_TRUE(stopped(service));
    for (pid_t pid : near_misses)
        EXPECT_NE(proc_state(pid), 'T') << pid;
    const int32_t watchdog = g_service.watchdog_pid;
    ASSERT_GT(watchdog, 0);
    EXPECT_TRUE(wait_until([&] { return getsid(watchdog) == watchdog; })) << "own session";
    EXPECT_EQ(watchdogs(), 1);

    resume_goggle_service();
    EXPECT_TRUE(running(service));
    EXPECT_EQ(g_service.watchdog_pid, -1);
    EXPECT_EQ(g_service.service_pid, service) << "kept for the next pause";
    EXPECT_EQ(kill(watchdog, 0), -1) << "killed and waited for";
}

TEST_F(Service, TwoPausesStopTwiceWithOneWatchdog) {
    const pid_t service = spawn_listed("fpv_grd_service");
    pause_service();
    ASSERT_TRUE(stopped(service));
    const int32_t watchdog = g_service.watchdog_pid;
    kill(service, SIGCONT); // continued behind the launcher's back
    ASSERT_TRUE(running(service));
    pause_service();
    EXPECT_TRUE(stopped(service));
    EXPECT_EQ(g_service.watchdog_pid, watchdog);
    EXPECT_EQ(watchdogs(), 1);
}

TEST_F(Service, WithoutAPauseOrAServiceNothingHappens) {
    const pid_t held = spawn_listed("fpv_grd_servic");
    kill(held, SIGSTOP);
    ASSERT_TRUE(stopped(held));
    resume_goggle_service();
    for (const fs::path& proc : {dir_, dir_ / "missing"})
        pause_goggle_service_in(proc.c_str());
    resume_goggle_service();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(proc_state(held), 'T') << "nobody was continued";
    EXPECT_EQ(g_service.service_pid, -1);
    EXPECT_EQ(g_service.watchdog_pid, -1);
    EXPECT_EQ(watchdogs(), 0);
}

TEST_F(Service, TheCachedPidIsUsedUntilTheServiceRestarts) {
    const pid_t first = spawn_listed("fpv_grd_service");
    pause_service();
    resume_goggle_service();
    fs::remove_all(dir_ / std::to_string(first)); // only the cached pid can find it now
    pause_service();
    EXPECT_TRUE(stopped(first));
    resume_goggle_service();

    end_child(first);
    const pid_t second = spawn_listed("fpv_grd_service");
    pause_service();
    EXPECT_EQ(g_service.service_pid, second);
    EXPECT_TRUE(stopped(second));
}

} // namespace
