#pragma once
// A refused start: the launcher draws its notice on the selected row's second line and logs
// nothing. Read off the page on screen (board/screen.h), named by the app in that row,
// counted, and written into a recording as a comment. The pump's own: one thread.
#include <nlohmann/json.hpp>
#include <string>

#include "scenario/record.h"

namespace vxweb {

class NoticeWatch {
  public:
    explicit NoticeWatch(std::string apps_dir) : apps_dir_(std::move(apps_dir)) {}

    // The page changed; `slot` shows the notice, -1 for none.
    void look(int slot, vxscenario::Recorder& recorder);
    // {"shown", "app", "count"}
    nlohmann::json as_json() const;

  private:
    std::string app_in_slot(int slot) const;

    const std::string apps_dir_;
    bool shown_ = false;
    std::string app_;
    int count_ = 0;
};

} // namespace vxweb
