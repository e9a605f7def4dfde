#pragma once
// Where the launcher stages an app in the sandbox (base/paths.h): its copy NAME/app, its
// NAME.log and NAME.pid, as paths inside the sandbox.
#include <string>

#include "base/paths.h"

namespace vxscenario {

// STAGING_DIR/NAME followed by `suffix` ("/app", ".log", ".pid").
inline std::string staged(const std::string& name, const char* suffix) {
    return std::string(STAGING_DIR) + "/" + name + suffix;
}

} // namespace vxscenario
