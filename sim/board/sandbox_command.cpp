// The sandbox: which build of the launcher it runs, and the command that makes it: bubblewrap
// with its own PID, IPC and UTS namespaces (under unshare for a time namespace), the host's
// system directories read-only, the build's pieces at fixed places, and the board's files
// bound at the launcher's fixed paths; init in it starts the service and the launcher.
//
// The board's library joins every dynamically linked program of the sandbox through the
// sandbox's own /etc/ld.so.preload: the launcher, and the apps it starts with an environment
// of their own, which an LD_PRELOAD would not reach. It names the library by the loader's
// $LIB, so that a host program and an ARM one (under qemu-arm, with the cross libraries)
// each load the build of its own machine. Programs linked static, qemu-arm-static among
// them, load nothing.
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
constexpr const char* ARM_EMULATOR = "qemu-arm-static";
constexpr const char* PRELOAD_DIR = "/run/vx-board/preload/";
constexpr const char* PRELOAD_NAME = "libvx-preload.so";
constexpr const char* LD_SO_PRELOAD = "/etc/ld.so.preload";
// What $LIB stands for in the loaders that may run here: Debian's host loader, and the cross
// one of libc6-armhf-cross, which runs ARM programs under qemu-arm.
constexpr const char* HOST_LIB_DIRS[] = {"lib/x86_64-linux-gnu", "lib64"};
constexpr const char* ARM_LIB_DIRS[] = {"lib", "lib/arm-linux-gnueabihf"};
constexpr const char* BOARD_TWIN = "app.board"; // an app's twin that the board runs in its place
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

// `path` of the host read-only at the same place, a link kept as a link.
void add_host_path(Args& a, const fs::path& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISLNK(st.st_mode))
        a.insert(a.end(), {"--symlink", fs::read_symlink(path).string(), path.string()});
    else
        a.insert(a.end(), {"--ro-bind", path.string(), path.string()});
}

// The host's system directories read-only, merged-/usr links kept as links. /etc entry by
// entry, beside the sandbox's own ld.so.preload, which the host does not have.
void add_system_dirs(Args& a, const std::string& work) {
    for (const char* dir : {"/usr", "/bin", "/sbin", "/lib", "/lib32", "/lib64"})
        add_host_path(a, dir);
    a.insert(a.end(), {"--dir", "/etc"});
    for (const fs::directory_entry& e : fs::directory_iterator("/etc"))
        if (e.path() != LD_SO_PRELOAD) add_host_path(a, e.path());
    a.insert(a.end(), {"--ro-bind", work + LD_SO_PRELOAD_FILE, LD_SO_PRELOAD});
}

// The library at PRELOAD_DIR/lib_dir, in directories any user of the sandbox may search.
void add_preload(Args& a, const std::string& library, const std::string& lib_dir) {
    fs::path dir = fs::path(PRELOAD_DIR).parent_path();
    a.insert(a.end(), {"--perms", "0755", "--dir", dir.string()});
    for (const fs::path& part : fs::path(lib_dir)) {
        dir /= part;
        a.insert(a.end(), {"--perms", "0755", "--dir", dir.string()});
    }
    a.insert(a.end(), {"--ro-bind", library, (dir / PRELOAD_NAME).string()});
}

// The board's library where each machine's loader looks for it by $LIB.
void add_preloads(Args& a, const std::string& host, const std::string& arm) {
    for (const char* lib : HOST_LIB_DIRS)
        add_preload(a, host, lib);
    if (arm.empty() || !fs::exists(arm)) return;
    for (const char* lib : ARM_LIB_DIRS)
        add_preload(a, arm, lib);
}

// An app built with the app library comes as a static program for the goggles and, beside
// it, its dynamically linked twin, which the board runs in its place so that the library
// answers its device calls.
void add_app_twins(Args& a, const fs::path& apps) {
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(apps, ec)) {
        const fs::path twin = e.path() / BOARD_TWIN, app = e.path() / "app";
        if (fs::is_regular_file(twin, ec) && fs::exists(app, ec))
            a.insert(a.end(), {"--ro-bind", twin.string(),
                               (fs::path(APPS_DIR) / e.path().filename() / "app").string()});
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
    if (c.with_apps && !c.apps_dir.empty()) {
        a.insert(a.end(), {"--bind", fs::absolute(c.apps_dir).string(), APPS_DIR});
        add_app_twins(a, fs::absolute(c.apps_dir));
    }
    for (const DeviceFile& d : DEVICE_FILES)
        if (c.*d.wanted) a.insert(a.end(), {"--bind", work + d.file, d.node});
}

// What init starts, and as whom; the launcher's command follows the "--".
void add_init_options(Args& a, const BoardConfig& c, uid_t uid) {
    if (c.with_service) a.push_back("--service");
    if (uid != 0) a.insert(a.end(), {"--uid", std::to_string(uid)});
    if (c.subreaper) a.push_back("--subreaper");
    a.push_back("--");
}

} // namespace

Target target_from_env() {
    const std::string t = env_or("VX_TARGET", "host");
    if (t == "armhf") return Target::Arm;
    if (t == "armhf-static") return Target::ArmStatic;
    if (t == "goggles") return Target::Goggles;
    return Target::Host;
}

Artefacts artefacts_for(Target target) {
    Artefacts a;
    a.init = VX_BOARD_INIT_PATH;
    a.preload = env_or("VX_PRELOAD", VX_HOST_PRELOAD_PATH);
    const std::string dir = env_or("VX_ARMHF_DIR", VX_ARMHF_BUILD_DIR);
    a.arm_preload = dir + "/sim/" + PRELOAD_NAME;
    if (target == Target::Host) {
        a.launcher = env_or("VX_LAUNCHER", VX_HOST_LAUNCHER_PATH);
        return a;
    }
    a.emulator = {ARM_EMULATOR, "-L", ARM_SYSROOT};
    a.launcher =
        dir + (target == Target::Arm ? "/src/vornax-launcher-dyn" : "/src/vornax-launcher");
    return a;
}

std::string sample_apps_dir(Target target) {
    if (target == Target::Host) return VX_SAMPLE_APPS_DIR;
    if (target == Target::Goggles) return goggles_release_apps_dir();
    return env_or("VX_ARMHF_DIR", VX_ARMHF_BUILD_DIR) + "/apps";
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
    add_system_dirs(a, work_);
    a.insert(a.end(), {"--bind", work_ + RECORD_FILES, RECORD_DIR});
    if (config_.unprivileged) add_searchable_dirs(a);
    // The build's pieces appear at fixed places, wherever the build tree is (under /tmp,
    // which the sandbox replaces, for one).
    const std::string init = SANDBOX_BIN_DIR + std::string(INIT_NAME);
    a.insert(a.end(),
             {"--ro-bind", art.launcher, in_bin_dir(art.launcher), "--ro-bind", art.init, init});
    add_board_files(a, config_, work_);
    add_preloads(a, art.preload, art.arm_preload);
    a.insert(a.end(), {"--info-fd", std::to_string(info_fd), "--chdir", "/", init});
    add_init_options(a, config_, uid_);
    a.insert(a.end(), art.emulator.begin(), art.emulator.end());
    a.push_back(in_bin_dir(art.launcher));
    a.insert(a.end(), config_.args.begin(), config_.args.end());
    return a;
}

std::string Board::sandbox_path(const std::string& path) const {
    // The guest's /tmp files the board follows are mirrored where the sandbox's would be.
    if (goggles_) return path.rfind("/tmp/", 0) == 0 ? work_ + TMP_DIR + path.substr(4) : "";
    return "/proc/" + std::to_string(init_host_pid_) + "/root" + path;
}

int64_t Board::sandbox_monotonic_ms() const {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec + clock_offset_s_) * 1000 + now.tv_nsec / 1000000;
}

} // namespace vxboard
