#include "web/notice_watch.h"

#include <vector>

#include "catalogue/catalogue.h"
#include "display/menu.h"

namespace vxweb {

void NoticeWatch::look(int slot, vxscenario::Recorder& recorder) {
    const bool shown = slot >= 0;
    const std::string app = shown ? app_in_slot(slot) : "";
    if (shown && !shown_) {
        ++count_;
        recorder.note("the launcher's notice, which it does not log: " +
                      (app.empty() ? "the selected app" : app) + " needs another video mode");
    }
    shown_ = shown;
    if (shown) app_ = app;
}

nlohmann::json NoticeWatch::as_json() const {
    return {{"shown", shown_}, {"app", app_}, {"count", count_}};
}

// The app in a row of the menu's window: the row is the entry's index until the list
// scrolls; past that, the one entry the mode refuses at or below that row, if only one.
std::string NoticeWatch::app_in_slot(int slot) const {
    const vxcat::Report r = vxcat::check_catalogue(apps_dir_);
    std::vector<const vxcat::Entry*> listed;
    for (const vxcat::Entry& e : r.entries)
        if (e.listed) listed.push_back(&e);
    if (slot < MENU_VISIBLE_ROWS - 1 || listed.size() == MENU_VISIBLE_ROWS)
        return static_cast<size_t>(slot) < listed.size() ? listed[slot]->name : "";
    std::string only;
    for (size_t i = static_cast<size_t>(slot); i < listed.size(); ++i) {
        if (listed[i]->allowed_normal) continue;
        if (!only.empty()) return "";
        only = listed[i]->name;
    }
    return only;
}

} // namespace vxweb
