#pragma once
// /catalogue.json: the app directory as the launcher will read it (vx-catalogue's check).
#include <string>

namespace vxweb {

std::string catalogue_json(const std::string& apps_dir);

} // namespace vxweb
