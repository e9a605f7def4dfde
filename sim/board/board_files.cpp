// The board's files: the state shared with the sandbox, and the files behind the launcher's
// devices (the framebuffer's memory, the ADC page's sparse file, the transport's node), made
// before the sandbox starts and, for an unprivileged launcher, given to its user.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "board/board.h"
#include "board/errors.h"
#include "board/work_dir.h"
#include "hw/keys.h"

namespace fs = std::filesystem;

namespace vxboard {

namespace {

void* map_file(const std::string& path, uint64_t size, uint64_t offset, uint64_t len) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) throw_errno("open " + path);
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) throw_errno("truncate " + path);
    void* p =
        mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_SHARED, fd, static_cast<off_t>(offset));
    close(fd);
    if (p == MAP_FAILED) throw_errno("mmap " + path);
    return p;
}

// A user no other process on the machine has, one per board: a process limit counts every
// process of the user.
uid_t fresh_uid() {
    static std::atomic<uint32_t> boards{0};
    return static_cast<uid_t>(0x40000000u + ((static_cast<uint32_t>(getpid()) & 0xFFFFFu) << 8) +
                              (boards.fetch_add(1) & 0xFFu));
}

void give_to(const std::string& path, uid_t uid) {
    if (lchown(path.c_str(), uid, uid) != 0) throw_errno("chown " + path);
}

} // namespace

void set_up_fb(FbDevice& fb, const BoardConfig& config) {
    fb.line_length = config.fb_line_length;
    fb.xres = SCREEN_W;
    fb.yres = SCREEN_H;
    fb.xres_virtual = SCREEN_W;
    fb.yres_virtual = config.fb_yres_virtual;
    fb.yoffset = config.fb_yoffset;
    fb.bits_per_pixel = PIXEL_BYTES * 8;
    fb.smem_len = config.fb_smem_len;
}

void Board::make_recordings() {
    const fs::path dir = work_ + RECORD_FILES;
    fs::create_directories(dir);
    for (const BoardConfig::Recording& r : config_.recordings) {
        const fs::path p = dir / r.name;
        std::ofstream(p).flush();
        fs::resize_file(p, r.bytes);
        const timespec when[2] = {{r.written, 0}, {r.written, 0}};
        if (utimensat(AT_FDCWD, p.c_str(), when, 0) != 0) throw_errno("utimensat " + p.string());
    }
}

void Board::make_files() {
    fs::create_directories(work_ + TMP_DIR);
    state_ = static_cast<BoardState*>(
        map_file(work_ + STATE_FILE, BOARD_STATE_BYTES, 0, BOARD_STATE_BYTES));
    std::memset(static_cast<void*>(state_), 0, sizeof(BoardState));
    state_->version = BOARD_VERSION;
    state_->magic = BOARD_MAGIC;

    // The ADC page's registers belong to the launcher and the preload library in its process:
    // the board only makes the file, sparse up to the page.
    munmap(map_file(work_ + MEM_FILE, ADC_BASE_PHYS + ADC_MAP_BYTES, ADC_BASE_PHYS, ADC_MAP_BYTES),
           ADC_MAP_BYTES);
    set_up_fb(state_->fb, config_);
    fb_ = static_cast<uint32_t*>(
        map_file(work_ + FB_FILE, config_.fb_smem_len, 0, config_.fb_smem_len));
    std::ofstream(work_ + I2C_FILE).flush();
    std::ofstream(work_ + LD_SO_PRELOAD_FILE) << LD_SO_PRELOAD_TEXT;
    set_video_mode(config_.video_mode);
    state_->clock.stepped.store(config_.stepped ? 1 : 0);
    if (config_.before_launch) config_.before_launch(*state_);
    make_recordings();
    for (const auto& [rel, content] : config_.tmp_files) {
        const fs::path p = fs::path(work_ + TMP_DIR) / rel;
        fs::create_directories(p.parent_path());
        std::ofstream(p) << content;
    }
    if (!config_.unprivileged) return;
    uid_ = fresh_uid();
    for (const char* f : {STATE_FILE, MEM_FILE, FB_FILE, I2C_FILE, TMP_DIR})
        give_to(work_ + f, uid_);
    for (const auto& e : fs::recursive_directory_iterator(work_ + TMP_DIR))
        give_to(e.path().string(), uid_);
}

} // namespace vxboard
