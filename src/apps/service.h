#pragma once
#include <cstdint>

// The goggles' own ground-station service owns the buttons; while the launcher holds them
// the service is stopped, with a watchdog process that continues it should the launcher die.

constexpr const char* SERVICE_COMM = "fpv_grd_service";

struct ServiceControl {
    int32_t service_pid = -1;
    int32_t watchdog_pid = -1;
};

extern ServiceControl g_service;

// Finds the service (the cached pid while it answers, else by name in /proc), stops it and,
// the first time, forks the watchdog. Does nothing when no such process exists.
void pause_goggle_service();
// The same on a directory laid out like /proc.
void pause_goggle_service_in(const char* proc_dir);
// Ends the watchdog, then continues the service; harmless without an earlier pause.
// Also called from the termination handler: only kill, waitpid and plain loads and stores.
void resume_goggle_service();
