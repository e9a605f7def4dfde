#pragma once
#include <sys/types.h>

// Files the launcher reads or writes in places others can write (the app directory, /tmp)
// are taken only if they are regular files: a FIFO or a device under an expected name
// would block the single-threaded launcher on open or read, or feed it without end.

// A descriptor of `path` (relative to `dir`, or AT_FDCWD) opened with `flags` if it is a
// regular file, else -1. The open itself never waits (for a FIFO's other end, say); the
// descriptor is blocking again when returned. Add O_NOFOLLOW where a link planted under the
// name must not be followed.
int open_regular_at(int dir, const char* path, int flags, mode_t mode = 0);

// A read-only descriptor of `path` if it is a regular file (links followed), else -1.
int open_regular_file(const char* path);

// The staging area sits in world-writable /tmp, where anybody may have made the name first
// or put a link there. A descriptor of the directory `name` (relative to `parent_fd`, or
// AT_FDCWD) only if it is a real directory owned by the launcher's effective user and
// writable by nobody else; -1 otherwise. Files inside are then reached through it.
int open_private_dir(int parent_fd, const char* name);
