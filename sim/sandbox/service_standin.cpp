#include "sandbox/service_standin.h"

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

#include "apps/service.h"

namespace vxboard {

void run_service_standin() {
    prctl(PR_SET_NAME, SERVICE_COMM);
    signal(SIGTERM, SIG_DFL);
    for (;;)
        pause();
}

} // namespace vxboard
