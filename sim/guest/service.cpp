// The goggles' own service in the emulated goggles: the stand-in the fast board runs, here a
// program of its own that the guest's start-up runs in the background, as the goggles' start
// their service.
#include "sandbox/service_standin.h"

int main() {
    vxboard::run_service_standin();
}
