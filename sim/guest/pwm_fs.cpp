// The PWM class directory of the emulated goggles, /sys/class/pwm: a FUSE file system over
// it whose every lookup, listing, open, read and write the board answers from the PWM chip's
// model. The guest's kernel has no PWM chip on this machine; this stands where the goggles'
// kernel shows theirs, with the buzzer on channel 7.
//
//   vx-guest-pwm          (started by the guest's start-up, stays in the foreground)
//
// Nothing is cached: a channel's directory appears the moment its export is written, and
// each write reaches the chip with the errno the PWM core gives it.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>

#include <fuse.h>

#include "devices/pwm_chip.h"
#include "devices/relay.h"
#include "guest/port.h"

namespace {

using vxdevices::RelayReply;
using vxdevices::RelayRequest;

// The attributes' modes as sysfs gives them: export is write-only.
constexpr mode_t DIR_MODE = S_IFDIR | 0755;
constexpr mode_t ATTRIBUTE_MODE = S_IFREG | 0644;
constexpr mode_t EXPORT_MODE = S_IFREG | 0200;
// sysfs reports every attribute as a page long.
constexpr off_t ATTRIBUTE_SIZE = 4096;

int g_port = -1;

// The path the launcher opened: the file system's own path below the class directory.
std::string absolute(const char* path) {
    return std::strcmp(path, "/") == 0 ? std::string(vxdevices::PWM_CLASS_DIR)
                                       : vxdevices::PWM_CLASS_DIR + std::string(path);
}

int relay(uint32_t kind, uint32_t file, uint32_t access, const std::string& bytes,
          RelayReply* reply, void* out, size_t cap) {
    return vxguest::relay_call(
        g_port, RelayRequest{0, kind, file, access, static_cast<uint32_t>(bytes.size()), 0},
        bytes.data(), reply, out, cap);
}

int on_getattr(const char* path, struct stat* st, fuse_file_info*) {
    RelayReply reply{};
    const int err = relay(vxdevices::RELAY_PWM_NODE, 0, 0, absolute(path), &reply, nullptr, 0);
    if (err != 0) return -err;
    std::memset(st, 0, sizeof *st);
    st->st_nlink = 1;
    if (reply.directory != 0) {
        st->st_mode = DIR_MODE;
        return 0;
    }
    st->st_mode = reply.file == vxboard::PWM_FILE_EXPORT ? EXPORT_MODE : ATTRIBUTE_MODE;
    st->st_size = ATTRIBUTE_SIZE;
    return 0;
}

int on_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*,
               fuse_readdir_flags) {
    RelayReply reply{};
    char names[vxdevices::RELAY_MAX_BYTES];
    const int err =
        relay(vxdevices::RELAY_PWM_LIST, 0, 0, absolute(path), &reply, names, sizeof names);
    if (err != 0) return -err;
    fill(buf, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    fill(buf, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    for (uint32_t at = 0; at < reply.len;) {
        const char* name = names + at;
        const size_t n = strnlen(name, reply.len - at);
        fill(buf, name, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
        at += static_cast<uint32_t>(n) + 1;
    }
    return 0;
}

int on_open(const char* path, fuse_file_info* fi) {
    RelayReply reply{};
    const auto access = static_cast<uint32_t>(fi->flags & O_ACCMODE);
    const int err = relay(vxdevices::RELAY_PWM_OPEN, 0, access, absolute(path), &reply, nullptr, 0);
    if (err != 0) return -err;
    fi->fh = reply.file;
    fi->direct_io = 1;
    fi->nonseekable = 1;
    return 0;
}

int on_read(const char*, char* buf, size_t size, off_t off, fuse_file_info* fi) {
    if (off != 0) return 0;
    RelayReply reply{};
    const int err =
        relay(vxdevices::RELAY_PWM_READ, static_cast<uint32_t>(fi->fh), 0, "", &reply, buf, size);
    return err != 0 ? -err : static_cast<int>(reply.len);
}

int on_write(const char*, const char* buf, size_t size, off_t, fuse_file_info* fi) {
    if (size > vxdevices::RELAY_MAX_BYTES) return -EINVAL;
    RelayReply reply{};
    const int err = relay(vxdevices::RELAY_PWM_WRITE, static_cast<uint32_t>(fi->fh),
                          static_cast<uint32_t>(fi->flags & O_ACCMODE), std::string(buf, size),
                          &reply, nullptr, 0);
    return err != 0 ? -err : static_cast<int>(size);
}

// A shell's `echo 7 > export` opens with O_TRUNC: sysfs takes the truncation and ignores it.
int on_truncate(const char*, off_t, fuse_file_info*) {
    return 0;
}

void* on_init(fuse_conn_info*, fuse_config* cfg) {
    cfg->entry_timeout = 0;
    cfg->attr_timeout = 0;
    cfg->negative_timeout = 0;
    cfg->direct_io = 1;
    return nullptr;
}

} // namespace

int main(int, char** argv) {
    g_port = vxguest::open_port(vxdevices::RELAY_PWM_PORT);
    if (g_port < 0) {
        std::fprintf(stderr, "vx-guest-pwm: no port %s\n", vxdevices::RELAY_PWM_PORT);
        return 1;
    }
    fuse_operations ops{};
    ops.getattr = on_getattr;
    ops.readdir = on_readdir;
    ops.open = on_open;
    ops.read = on_read;
    ops.write = on_write;
    ops.truncate = on_truncate;
    ops.init = on_init;
    // In the foreground, one request at a time (the relay carries one at a time); every
    // process may use it, as every process may use sysfs.
    char foreground[] = "-f", single[] = "-s", opt[] = "-o", others[] = "allow_other";
    char mount_point[sizeof vxdevices::PWM_CLASS_DIR];
    std::memcpy(mount_point, vxdevices::PWM_CLASS_DIR, sizeof mount_point);
    char* args[] = {argv[0], foreground, single, opt, others, mount_point, nullptr};
    return fuse_main(6, args, &ops, nullptr);
}
