#pragma once
#include <cstdint>

#include "base/paths.h"

// The one app the launcher started, and the pid files by which any launched app is known.

struct RunningApp {
    int32_t pid = -1;
    char name[40] = {};
};

extern RunningApp g_running;

// 1 when a pid file in the staging directory names a live process other than the launcher.
int32_t any_app_running();
int32_t any_app_running_in(const char* staging_dir);

// 1 when the launched child has ended and was cleaned up in this call (pid file removed,
// exit logged, pid back to -1); 0 otherwise. Never blocks; does nothing without a child.
int32_t reap_running_app();
int32_t reap_running_app_in(const char* staging_dir);

// 1 once the launched app's own process has ended, which is left uncollected: while it is,
// its pid, and with it the number of its process group, cannot be given to another process.
int32_t running_app_ended();

// 1 while a process of the launched app's group, other than the app's own ended one, is alive
// (a zombie is not: it can do nothing more). `proc_dir` is laid out like /proc.
int32_t running_app_group_lingers(const char* proc_dir);

// Sends `sig` to the launched app's process group (it leads a session of its own, so what it
// started goes too): 0, or -1 without an app or when the signal cannot be sent.
int32_t signal_running_app(int sig);

// The number a pid file starts with (after optional white space, an optionally signed
// decimal that fits 32 bits, anything after it ignored); 1 and *pid set, or 0.
int32_t parse_pid_text(const char* text, int32_t* pid);
