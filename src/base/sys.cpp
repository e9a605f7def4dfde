#include "base/sys.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs `call` again for as long as it fails with EINTR.
template <typename Call> auto retry(Call call) {
    decltype(call()) r;
    do {
        r = call();
    } while (r < 0 && errno == EINTR);
    return r;
}

} // namespace

int sys_open(const char* path, int flags, mode_t mode) {
    return retry([&] { return open(path, flags | O_CLOEXEC, mode); });
}

int sys_openat(int dir, const char* path, int flags, mode_t mode) {
    return retry([&] { return openat(dir, path, flags | O_CLOEXEC, mode); });
}

ssize_t sys_read(int fd, void* buf, size_t n) {
    return retry([&] { return read(fd, buf, n); });
}

ssize_t sys_write(int fd, const void* buf, size_t n) {
    return retry([&] { return write(fd, buf, n); });
}

int sys_write_all(int fd, const void* buf, size_t n) {
    const char* p = static_cast<const char*>(buf);
    while (n > 0) {
        const ssize_t w = sys_write(fd, p, n);
        if (w < 0) return errno;
        if (w == 0) return EIO;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return 0;
}

int sys_dup2(int fd, int target) {
    return retry([&] { return dup2(fd, target); });
}

int sys_ioctl(int fd, unsigned long request, void* arg) {
    return retry([&] { return ioctl(fd, request, arg); });
}

pid_t sys_waitpid(pid_t pid, int* status, int options) {
    return retry([&] { return waitpid(pid, status, options); });
}
