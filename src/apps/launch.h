#pragma once
#include <cstdint>

#include "apps/catalogue.h"
#include "apps/running.h"

// Starting an app: its executable is copied into its own staging directory under
// /tmp/vorna-x and the copy runs as a child in a session of its own, its output in a log.

constexpr const char* LAUNCH_PATH_ENV = "PATH=/bin:/usr/bin:/local/usr/bin";
constexpr int LAUNCH_MAX_WORDS = 8;
constexpr int LAUNCH_ARGV_SLOTS = LAUNCH_MAX_WORDS + 2; // the program, the words, the end
constexpr int LAUNCH_COPY_BYTES = 65536;
constexpr int LAUNCH_MAX_FD = 1023;

// Splits `args` in place at spaces (runs of them count as one, no quoting) into at most 8
// words, put after argv[0] in an array of `slots` pointers; returns how many, with a null
// pointer after the last. With fewer than 2 slots nothing is written and 0 is returned.
int launch_split_args(char* args, char* argv[], int slots);

// Launches `entry` from `apps_dir`, staging under `staging_dir`: the child's pid, recorded
// in *running, or -1 after "launch failed: %s\n" with *running untouched.
int32_t launch_app(const AppEntry& entry, const char* apps_dir, const char* staging_dir,
                   RunningApp* running);
