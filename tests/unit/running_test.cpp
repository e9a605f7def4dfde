#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>

#include "apps/running.h"
#include "apps/service.h"
#include "process_support.h"

namespace {

TEST(PidText, ReadsTheLeadingNumberWithoutOverflow) {
    const std::pair<const char*, int32_t> numbers[] = {{"123\n", 123},
                                                       {"  \t\v\f\r\n42 trailing", 42},
                                                       {"7junk", 7},
                                                       {"0x10", 0},
                                                       {"+7", 7},
                                                       {"-5\n", -5},
                                                       {"2147483647", INT32_MAX},
                                                       {"-2147483648", INT32_MIN},
                                                       {"000000000000002147483647", INT32_MAX}};
    for (const auto& [text, want] : numbers) {
        int32_t pid = 0;
        EXPECT_EQ(parse_pid_text(text, &pid), 1) << "[" << text << "]";
        EXPECT_EQ(pid, want) << "[" << text << "]";
    }
    // 4294967297 is 1 once wrapped to 32 bits, 18446744073709551621 is 5 once wrapped to 64.
    for (const char* text : {"2147483648", "-2147483649", "4294967297", "18446744073709551621", "",
                             "   ", "abc", "+", "- 5", "+-5"}) {
        int32_t pid = 12345;
        EXPECT_EQ(parse_pid_text(text, &pid), 0) << "[" << text << "]";
        EXPECT_EQ(pid, 12345) << "[" << text << "]";
    }
}

// The state letter ('T' stopped, 'Z' ended) of a process and its parent, from /proc/PID/stat.
char proc_state(pid_t pid, pid_t* ppid = nullptr) {
    const std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
    char state = 0;
    int parent = -1;
    if (const size_t paren = stat.rfind(')'); paren != std::string::npos)
        std::sscanf(stat.c_str() + paren + 1, " %c %d", &state, &parent);
    if (ppid != nullptr) *ppid = parent;
    return state;
}

using AnyRunning = ProcessScratch;

TEST_F(AnyRunning, OnlyALiveProcessOtherThanTheLauncherCounts) {
    const std::string live = std::to_string(spawn());
    const pid_t dead = fork();
    if (dead == 0) _exit(0);
    waitpid(dead, nullptr, 0);
    const struct {
        const char* file;
        std::string text;
        int32_t want;
    } cases[] = {{"live.pid", live + "\n", 1},
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
                 {"live.PID", live + "\n", 0}};
    for (const auto& c : cases) {
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
    fs::create_directory_symlink(dir_, dir_ / "link");
    EXPECT_EQ(any_app_running_in((dir_ / "link").c_str()), 0);
    EXPECT_EQ(any_app_running_in((dir_ / "missing").c_str()), 0);
}

// Another user's live process answers the probe with EPERM: it counts all the same.
TEST_F(AnyRunning, AProcessOfAnotherUserCounts) {
    if (geteuid() != 0) GTEST_SKIP() << "needs to become another user";
    std::ofstream(dir_ / "root.pid") << getpid() << "\n";
    ASSERT_EQ(chown(dir_.c_str(), 65534, 65534), 0);
    const pid_t child = fork();
    if (child == 0) _exit(setuid(65534) == 0 ? any_app_running_in(dir_.c_str()) : 9);
    EXPECT_EQ(exit_status(child), 1);
}

// An ended child that is not the app (a watchdog, say) stays unwaited.
TEST_F(AnyRunning, ReapingWithoutAChildWaitsForNothing) {
    const pid_t other = fork();
    if (other == 0) _exit(0);
    ASSERT_TRUE(wait_until([&] { return proc_state(other) == 'Z'; }));
    for (int32_t pid : {-1, 0}) {
        g_running = RunningApp{};
        g_running.pid = pid;
        EXPECT_EQ(reap_running_app_in(dir_.c_str()), 0) << pid;
        EXPECT_EQ(g_running.pid, pid);
    }
    EXPECT_EQ(waitpid(other, nullptr, WNOHANG), other);
}

// A directory laid out like /proc whose comm files name real children of the test.
class Service : public ProcessScratch {
  protected:
    void SetUp() override {
        ProcessScratch::SetUp();
        g_service = ServiceControl{};
        baseline_ = count_my_children();
    }
    void TearDown() override {
        resume_goggle_service();
        g_service = ServiceControl{};
        ProcessScratch::TearDown();
    }
    static int count_my_children() {
        int n = 0;
        for (const auto& de : fs::directory_iterator("/proc")) {
            const std::string name = de.path().filename().string();
            pid_t ppid = -1;
            if (std::isdigit(static_cast<unsigned char>(name[0])))
                proc_state(std::stoi(name), &ppid);
            n += ppid == getpid() ? 1 : 0;
        }
        return n;
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

TEST_F(Service, PausesStopOnlyTheServiceUnderOneWatchdogAndResumeContinuesIt) {
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
    kill(service, SIGCONT); // continued behind the launcher's back
    ASSERT_TRUE(running(service));
    pause_service();
    EXPECT_TRUE(stopped(service));
    EXPECT_EQ(g_service.watchdog_pid, watchdog);
    EXPECT_EQ(watchdogs(), 1);

    resume_goggle_service();
    EXPECT_TRUE(running(service));
    EXPECT_EQ(g_service.watchdog_pid, -1);
    EXPECT_EQ(kill(watchdog, 0), -1) << "killed and waited for";

    // The cached pid finds the service while it answers, the name once it has restarted.
    fs::remove_all(dir_ / std::to_string(service));
    pause_service();
    EXPECT_TRUE(stopped(service));
    resume_goggle_service();
    end_child(service);
    const pid_t restarted = spawn_listed("fpv_grd_service");
    pause_service();
    EXPECT_EQ(g_service.service_pid, restarted);
    EXPECT_TRUE(stopped(restarted));
}

// A pause that finds no service starts no watchdog; a resume without a pause continues
// nobody.
TEST_F(Service, WithoutAPauseOrAServiceNothingHappens) {
    const pid_t held = spawn_listed("fpv_grd_servic");
    kill(held, SIGSTOP);
    ASSERT_TRUE(stopped(held));
    resume_goggle_service();
    for (const fs::path& proc : {dir_, dir_ / "missing"})
        pause_goggle_service_in(proc.c_str());
    EXPECT_EQ(g_service.service_pid, -1);
    EXPECT_EQ(g_service.watchdog_pid, -1);
    EXPECT_EQ(watchdogs(), 0);
    resume_goggle_service();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(proc_state(held), 'T');
}

} // namespace
