#pragma once
// The board's view of the apps the launcher starts: which one runs, what each process on
// the board is there for, and a way to end an app that a person would otherwise end by
// pulling the battery.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "base/paths.h"
#include "base/timings.h"
#include "board/board.h"

namespace vxboard {

// Where the launcher stages an app (NAME/app) and keeps its pid file and log (NAME.pid,
// NAME.log), inside the sandbox.
constexpr const char* STAGING_DIR_IN_SANDBOX = STAGING_DIR;

struct RunningApp {
    std::string name;
    pid_t ns_pid;
    pid_t host_pid; // also its process group: the launcher starts every app in a session of its own
};

// The app whose pid file names a live process of the sandbox.
std::optional<RunningApp> running_app(const Board& board);

enum class AppStop { NoApp, Ended, Killed };
// As the launcher's escape gives an app, between SIGTERM and SIGKILL.
constexpr std::chrono::milliseconds STOP_APP_GRACE{ESCAPE_KILL_AFTER_MS};
// SIGTERM to the running app's process group; SIGKILL to the group when the app is still
// alive `grace` later. Blocks until the app has ended or been killed.
AppStop stop_app(Board& board, std::chrono::milliseconds grace = STOP_APP_GRACE);
// SIGKILL to the running app's process group at once, as the kernel's OOM killer or a crash
// would end it: nothing of it runs to give anything back.
AppStop kill_app(Board& board);

// How the app `name` last ended, as the board recorded it ("exited 3", "killed by SIGSEGV",
// "exec failed: Exec format error"); nullopt before it has ended once.
std::optional<std::string> app_end_text(const Board& board, const std::string& name);

struct NamedProcess {
    SandboxProcess proc;
    std::string role; // "init", "the goggles' service", "the launcher", "app NAME", ...
};

// The sandbox's processes by their part on the board, in pid order. An app is known by the
// path the launcher starts it from, /tmp/vorna-x/NAME/app, in its command line.
std::vector<NamedProcess> named_processes(Board& board);

} // namespace vxboard
