#pragma once
// What the in-process tests of the launch and the process tracking share beyond a scratch
// directory: children that only wait, their exit statuses, and catching the launcher's log
// lines.
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <vector>

#include "../common/scratch.h"

// The exit status of a child, or -1 when a signal ended it.
inline int exit_status(pid_t pid) {
    int st = 0;
    return waitpid(pid, &st, 0) == pid && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

class ProcessScratch : public ScratchDir {
  protected:
    void TearDown() override {
        for (pid_t pid : children_)
            end_child(pid);
        ScratchDir::TearDown();
    }

    // A child that only waits, under `name` (once this returns), killed with the test or
    // should the test die.
    pid_t spawn(const char* name = nullptr) {
        const pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (name != nullptr) prctl(PR_SET_NAME, name);
            for (;;)
                pause();
        }
        children_.push_back(pid);
        const std::string comm = "/proc/" + std::to_string(pid) + "/comm";
        EXPECT_TRUE(name == nullptr ||
                    wait_until([&] { return slurp(comm) == name + std::string("\n"); }));
        return pid;
    }
    static void end_child(pid_t pid) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }

    // Standard error while `body` runs: the launcher's log lines.
    std::string stderr_of(const std::function<void()>& body) {
        const int saved = dup(2);
        const int fd = open((dir_ / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 2);
        close(fd);
        body();
        dup2(saved, 2);
        close(saved);
        return slurp(dir_ / "stderr");
    }

    std::vector<pid_t> children_;
};
