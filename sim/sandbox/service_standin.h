#pragma once
// The goggles' ground-station service as the launcher sees it: a process by the service's
// name that it can stop and continue. The fast board's init forks it; the emulated goggles
// start it as a program of its own at boot.

namespace vxboard {

// Becomes the stand-in: takes the service's name and waits for signals until one ends it.
[[noreturn]] void run_service_standin();

} // namespace vxboard
