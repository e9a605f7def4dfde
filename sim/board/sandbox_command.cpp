// The sandbox: which build of the launcher it runs, and the command that makes it: bubblewrap
// with its own PID, IPC and UTS namespaces (under unshare for a time namespace), the host's
// system directories read-only, the build's pieces at fixed places, and the board's files
// bound at the launcher's fixed paths; init in it starts the service and the launcher.
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "board/board.h"
#include "board/work_dir.h"
#include "board_paths.h"

namespace fs = std::filesystem;

namespace vxboard {

namespace {

constexpr const char* ARM_SYSROOT = "/usr/arm-linux-gnueabihf";
constexpr const char* SANDBOX_BIN_DIR = "/opt/vx-board/";
constexpr const char* SANDBOX_PATH = "/usr/bin:/bin:/usr/sbin:/sbin";
constexpr const char* SANDBOX_TMP = "/tmp";
constexpr const char* INIT_NAME = "board-init";
// The launcher's 32-bit millisecond count wraps at 2^31 ms; time namespaces shift the
// monotonic clock by whole seconds, so rounded down.
constexpr long long WRAP_S = 2147483;

using Args = std::vector<std::string>;

std::string env_or(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

// The host's system directories read-only, merged-/usr links kept as links.
void add_system_dirs(Args& a) {
    for (const char* dir : {"/usr", "/etc", "/bin", "/sbin", "/lib", "/lib32", "/lib64"}) {
        struct stat st {};
        if (lstat(dir, &st) != 0) continue;
        if (S_ISLNK(st.st_mode)) {
            a.insert(a.end(), {"--symlink", fs::read_symlink(dir).string(), dir});
        } else {
            a.insert(a.end(), {"--ro-bind", dir, dir});
        }
    }
}

// Directories that bwrap makes for a mount point are root's alone: another user needs them
// searchable, down to the app directory.
void add_searchable_dirs(Args& a) {
    a.insert(a.end(), {"--perms", "0755", "--dir", SANDBOX_BIN_DIR});
    std::vector<std::string> above;
    for (fs::path p = fs::path(APPS_DIR).parent_path(); p != p.root_path(); p = p.parent_path())
        above.insert(above.begin(), p.string());
    for (const std::string& dir : above)
        a.insert(a.end(), {"--perms", "0755", "--dir", dir});
}

std::string in_bin_dir(const std::string& host_path) {
    return SANDBOX_BIN_DIR + fs::path(host_path).filename().string();
}

// The sandbox's own /proc, /dev and /tmp, and the board's files where the launcher and init
// look for them.
void add_board_files(Args& a, const BoardConfig& c, const std::string& work) {
    const fs::path state_dir = fs::path(BOARD_STATE_PATH).parent_path();
    a.insert(a.end(), {"--proc", PROC_DIR, "--dev", "/dev", "--tmpfs", state_dir.parent_path(),
                       "--dir", state_dir, "--bind", work + STATE_FILE, BOARD_STATE_PATH});
    if (c.tmp_size_kb > 0) {
        if (c.unprivileged) a.insert(a.end(), {"--perms", "01777"});
        a.insert(a.end(),
                 {"--size", std::to_string(c.tmp_size_kb * 1024ull), "--tmpfs", SANDBOX_TMP});
    } else
        a.insert(a.end(), {"--bind", work + TMP_DIR, SANDBOX_TMP});
    if (c.with_apps && !c.apps_dir.empty())
        a.insert(a.end(), {"--bind", fs::absolute(c.apps_dir).string(), APPS_DIR});
    for (const DeviceFile& d : DEVICE_FILES)
        if (c.*d.wanted) a.insert(a.end(), {"--bind", work + d.file, d.node});
}

// What init starts, and as whom; the launcher's command follows the "--".
void add_init_options(Args& a, const BoardConfig& c, const Artefacts& art, uid_t uid) {
    if (c.with_service) a.push_back("--service");
    // The host's launcher gets the preload library from init; an emulated one from qemu-arm.
    if (art.emulator.empty()) a.insert(a.end(), {"--preload", in_bin_dir(art.preload)});
    if (uid != 0) a.insert(a.end(), {"--uid", std::to_string(uid)});
    if (c.subreaper) a.push_back("--subreaper");
    a.push_back("--");
}

} // namespace

Target target_from_env() {
    const std::string t = env_or("VX_TARGET", "host");
    if (t == "armhf") return Target::Arm;
    if (t == "armhf-static") return Target::ArmStatic;
    return Target::Host;
}

Artefacts artefacts_for(Target target) {
    Artefacts a;
    a.init = VX_BOARD_INIT_PATH;
    if (target == Target::Host) {
        a.launcher = env_or("VX_LAUNCHER", VX_HOST_LAUNCHER_PATH);
        a.preload = env_or("VX_PRELOAD", VX_HOST_PRELOAD_PATH);
        return a;
    }
    const std::string dir = env_or("VX_ARMHF_DIR", VX_ARMHF_BUILD_DIR);
    a.emulator = {"qemu-arm", "-L", ARM_SYSROOT};
    if (target == Target::Arm) {
        a.launcher = dir + "/src/vornax-launcher-dyn";
        a.preload = dir + "/sim/libvx-preload.so";
        a.emulator.insert(a.emulator.end(), {"-E", "LD_PRELOAD=" + in_bin_dir(a.preload)});
    } else {
        a.launcher = dir + "/src/vornax-launcher";
    }
    return a;
}

std::vector<std::string> Board::sandbox_command(const Artefacts& art, int info_fd) {
    Args a;
    if (config_.seconds_before_wrap > 0) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        clock_offset_s_ = WRAP_S - config_.seconds_before_wrap - now.tv_sec;
        a = {"unshare", "--time",      "--monotonic", std::to_string(clock_offset_s_),
             "--fork",  "--kill-child"};
    }
    a.insert(a.end(), {"bwrap", "--die-with-parent", "--unshare-pid", "--as-pid-1", "--unshare-ipc",
                       "--unshare-uts", "--clearenv", "--setenv", "PATH", SANDBOX_PATH});
    add_system_dirs(a);
    if (config_.unprivileged) add_searchable_dirs(a);
    // The build's pieces appear at fixed places, wherever the build tree is (under /tmp,
    // which the sandbox replaces, for one).
    const std::string init = SANDBOX_BIN_DIR + std::string(INIT_NAME);
    a.insert(a.end(),
             {"--ro-bind", art.launcher, in_bin_dir(art.launcher), "--ro-bind", art.init, init});
    if (!art.preload.empty())
        a.insert(a.end(), {"--ro-bind", art.preload, in_bin_dir(art.preload)});
    add_board_files(a, config_, work_);
    a.insert(a.end(), {"--info-fd", std::to_string(info_fd), "--chdir", "/", init});
    add_init_options(a, config_, art, uid_);
    a.insert(a.end(), art.emulator.begin(), art.emulator.end());
    a.push_back(in_bin_dir(art.launcher));
    a.insert(a.end(), config_.args.begin(), config_.args.end());
    return a;
}

std::string Board::sandbox_path(const std::string& path) const {
    return "/proc/" + std::to_string(init_host_pid_) + "/root" + path;
}

int64_t Board::sandbox_monotonic_ms() const {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec + clock_offset_s_) * 1000 + now.tv_nsec / 1000000;
}

} // namespace vxboard
