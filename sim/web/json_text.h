#pragma once
// JSON as vx-web writes it out.
#include <nlohmann/json.hpp>
#include <string>

namespace vxweb {

// The launcher and the apps may write any bytes; JSON takes only UTF-8, so what is not is
// replaced as it is written out.
inline std::string dump(const nlohmann::json& j) {
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace vxweb
