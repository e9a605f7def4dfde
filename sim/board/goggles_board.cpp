// The board on the emulated goggles: qemu instead of the sandbox, the launcher the release's
// own static program on a real kernel. What the fast board gets from its sandbox (the
// processes, the launcher's pid and log, the files in /tmp) comes from the guest's agent; the
// device state is the same board state, answered from the same models. What a real kernel
// and clock cannot give is refused here, by name.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "base/version.h"
#include "board/board.h"
#include "board/errors.h"
#include "board/work_dir.h"
#include "board_paths.h"
#include "goggles/machine.h"
#include "goggles/qmp.h"
#include "png/png_io.h"

namespace vxboard {

std::string goggles_cannot_give(const BoardConfig& c) {
    if (c.stepped) return "a stepped clock (the launcher runs on the guest kernel's own clock)";
    if (c.seconds_before_wrap > 0) return "a clock near the millisecond count's wrap";
    if (c.unprivileged) return "an unprivileged launcher (the release's start-up runs it as root)";
    if (c.subreaper) return "a subreaper above the launcher";
    if (!c.with_apps || !c.with_mem || !c.with_fb || !c.with_i2c || !c.with_service)
        return "a board without one of its devices or its service";
    if (!c.args.empty()) return "launcher arguments (the release's start-up script starts it)";
    if (!c.tmp_files.empty()) return "files put in /tmp";
    if (c.tmp_size_kb > 0) return "a /tmp of a set size";
    if (c.before_launch) return "devices set up by the board before the launcher starts";
    return {};
}

void Board::start_goggles() {
    if (const std::string what = goggles_cannot_give(config_); !what.empty())
        throw std::runtime_error("the emulated goggles cannot give " + what);
    int log[2];
    if (pipe2(log, O_CLOEXEC) != 0) throw_errno("pipe");
    // The release's own apps are installed from its archive: an app directory is brought
    // beside them only when it is another one.
    const std::string apps = config_.apps_dir == goggles_release_apps_dir() ? "" : config_.apps_dir;
    vxgoggles::GogglesSetup setup{work_, work_ + TMP_DIR,     apps,   state_,
                                  fb_,   config_.fb_smem_len, log[1], config_.recordings};
    try {
        goggles_ =
            std::make_unique<vxgoggles::GogglesMachine>(setup, vxgoggles::goggles_artefacts());
    } catch (...) {
        close(log[0]);
        close(log[1]);
        throw;
    }
    err_fd_ = log[0];
    fcntl(err_fd_, F_SETFL, O_NONBLOCK);
    reader_ = std::thread([this] { read_stderr(); });
}

size_t Board::rerun(BoardConfig config) {
    if (!goggles_ || !goggles_->running())
        throw std::runtime_error("no emulated goggles to run on again");
    config.target = Target::Goggles;
    if (const std::string what = goggles_cannot_give(config); !what.empty())
        throw std::runtime_error("the emulated goggles cannot give " + what);
    if (config.fb_smem_len != config_.fb_smem_len)
        throw std::runtime_error("the emulated goggles' framebuffer is as they booted it");
    if (!goggles_->halt_run())
        throw std::runtime_error("the last run's processes did not end (" +
                                 goggles_->console_path() + ")");
    // Every line of the last launcher is in (the agent sent them before its answer): the
    // next launcher's begin here.
    size_t first;
    {
        std::lock_guard<std::mutex> lock(mu_);
        take_stderr_locked();
        if (!partial_.empty()) lines_.push_back(partial_ + "\n"), partial_.clear();
        first = lines_.size();
    }
    config_ = std::move(config);
    std::memset(static_cast<void*>(state_), 0, sizeof(BoardState));
    state_->version = BOARD_VERSION;
    state_->magic = BOARD_MAGIC;
    set_up_fb(state_->fb, config_);
    std::memset(fb_, 0, config_.fb_smem_len);
    set_video_mode(config_.video_mode);
    // A scenario that failed with a button down leaves it down in the guest's ADC page.
    release();
    const std::string apps = config_.apps_dir == goggles_release_apps_dir() ? "" : config_.apps_dir;
    goggles_->start_run(apps, config_.recordings);
    return first;
}

bool Board::display_picture(const std::string& png_path) const {
    if (!goggles_) return false;
    const std::string ppm = work_ + "/display.ppm";
    std::vector<uint32_t> pixels;
    uint32_t w = 0, h = 0;
    if (!goggles_->screendump(ppm) || !vxgoggles::read_ppm(ppm, pixels, w, h)) return false;
    write_png_rgb(png_path, pixels.data(), w, h, w);
    return true;
}

std::string goggles_release_apps_dir() {
    return std::string(VX_RELEASE_DIR) + "/vornax-launcher-" + VERSION + "-armhf/apps";
}

} // namespace vxboard
