#pragma once
#include <cstddef>
#include <ctime>
#include <sys/types.h>

// The build asks glibc for 64-bit file offsets and time on the 32-bit goggles. Without them
// stat fails with EOVERFLOW on a file of 2 GiB or more (a recording under /record) and on
// any file dated past January 2038 (an app's directory, once the goggles' clock is there).
static_assert(sizeof(off_t) == 8, "build with _FILE_OFFSET_BITS=64");
static_assert(sizeof(time_t) == 8, "build with _TIME_BITS=64");

// System calls retried while a signal interrupts them. The launcher installs a termination
// handler with restartable calls, but a stopped and continued process, or a handler that
// returns, may still see EINTR: no call of the launcher gives up on it.
//
// Every descriptor opened here is closed on exec: an app is given only the descriptors it
// is meant to have.

int sys_open(const char* path, int flags, mode_t mode = 0);
int sys_openat(int dir, const char* path, int flags, mode_t mode = 0);
ssize_t sys_read(int fd, void* buf, size_t n);
// One write, retried only when interrupted before it wrote anything.
ssize_t sys_write(int fd, const void* buf, size_t n);
// The whole buffer, a short write continued: 0, or the errno of the failed write.
int sys_write_all(int fd, const void* buf, size_t n);
int sys_dup2(int fd, int target);
int sys_ioctl(int fd, unsigned long request, void* arg);
pid_t sys_waitpid(pid_t pid, int* status, int options);
