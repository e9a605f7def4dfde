#pragma once

// Files the launcher reads from places others can write (the app directory, /tmp) are only
// opened if they are regular files: a FIFO or a device under an expected name would block
// the single-threaded launcher on open or read, or feed it without end.

// A read-only descriptor of `path` if it is a regular file, else -1.
int open_regular_file(const char* path);
