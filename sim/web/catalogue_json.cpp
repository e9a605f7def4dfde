#include "web/catalogue_json.h"

#include "catalogue/catalogue.h"
#include "scenario/words.h"
#include "web/json_text.h"

namespace vxweb {
namespace {

using nlohmann::json;
using vxscenario::mode_word;

json notes(const std::vector<vxcat::ManifestNote>& v) {
    json a = json::array();
    for (const auto& n : v)
        a.push_back({{"line", n.line}, {"text", n.text}, {"why", n.why}});
    return a;
}

json entry_json(const vxcat::Entry& e) {
    json j = {{"name", e.name}, {"listed", e.listed}, {"skipped", e.skipped}};
    if (!e.listed) return j;
    j.update({{"desc", e.desc},
              {"version", e.version},
              {"args", e.args},
              {"modes", e.modes_shown},
              {"allowed",
               {{mode_word(MODE_NORMAL), e.allowed_normal},
                {mode_word(MODE_HDMI), e.allowed_hdmi},
                {mode_word(MODE_AV), e.allowed_av}}},
              {"manifest", e.manifest},
              {"ignored", notes(e.ignored)},
              {"cut", notes(e.cut)},
              {"modes_notes", notes(e.modes_notes)}});
    return j;
}

} // namespace

std::string catalogue_json(const std::string& apps_dir) {
    const vxcat::Report r = vxcat::check_catalogue(apps_dir);
    json entries = json::array();
    for (const vxcat::Entry& e : r.entries)
        entries.push_back(entry_json(e));
    return dump({{"dir", r.dir}, {"error", r.error}, {"listed", r.listed}, {"entries", entries}});
}

} // namespace vxweb
