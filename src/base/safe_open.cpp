#include "base/safe_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/sys.h"

int open_regular_at(int dir, const char* path, int flags, mode_t mode) {
    const int fd = sys_openat(dir, path, flags | O_NONBLOCK, mode);
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int open_regular_file(const char* path) {
    return open_regular_at(AT_FDCWD, path, O_RDONLY);
}

int open_private_dir(int parent_fd, const char* name) {
    const int fd = sys_openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH))) {
        close(fd);
        return -1;
    }
    return fd;
}
