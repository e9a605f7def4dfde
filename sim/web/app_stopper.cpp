#include "web/app_stopper.h"

#include "base/ctext.h"
#include "base/timings.h"
#include "board/app_control.h"

namespace vxweb {
namespace {

constexpr auto KILLED = ctext("still running ") + seconds_text<ESCAPE_KILL_AFTER_MS>() +
                        " s after SIGTERM: SIGKILL sent";

const char* said(vxboard::AppStop r) {
    switch (r) {
    case vxboard::AppStop::NoApp:
        return "no app was running";
    case vxboard::AppStop::Ended:
        return "ended after SIGTERM";
    case vxboard::AppStop::Killed:
        break;
    }
    return KILLED.c_str();
}

} // namespace

AppStopper::~AppStopper() {
    if (thread_.joinable()) thread_.join();
}

void AppStopper::start() {
    std::lock_guard<std::mutex> lock(mu_);
    if (busy_) return;
    if (thread_.joinable()) thread_.join();
    busy_ = true;
    text_ = "SIGTERM sent to its process group";
    thread_ = std::thread([this] {
        const vxboard::AppStop r =
            vxboard::stop_app(board_, std::chrono::milliseconds(ESCAPE_KILL_AFTER_MS));
        {
            std::lock_guard<std::mutex> lock(mu_);
            text_ = said(r);
            busy_ = false;
        }
        done_();
    });
}

void AppStopper::forget() {
    std::lock_guard<std::mutex> lock(mu_);
    text_.clear();
}

nlohmann::json AppStopper::as_json() const {
    std::lock_guard<std::mutex> lock(mu_);
    return {{"busy", busy_}, {"text", text_}};
}

} // namespace vxweb
