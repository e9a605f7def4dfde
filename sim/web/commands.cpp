#include "web/commands.h"

#include <cstdio>
#include <utility>

#include "base/screen.h"
#include "base/video_modes.h"
#include "hw/keys_logic.h"
#include "web/frame.h"

namespace vxweb {

void Commands::take(const mg_connection* conn, const std::string& msg) {
    using Handler = void (Commands::*)(const mg_connection*, const std::string&);
    static const std::pair<const char*, Handler> COMMANDS[] = {
        {"press ", &Commands::press},   {"release", &Commands::release},
        {"mode ", &Commands::mode},     {"stop app", &Commands::stop_app},
        {"record ", &Commands::record}, {"size ", &Commands::size},
    };
    const std::string_view m = msg;
    for (const auto& [verb, handler] : COMMANDS) {
        const std::string_view v = verb;
        const bool takes_word = v.back() == ' ';
        if (takes_word ? m.starts_with(v) : m == v)
            return (this->*handler)(conn, msg.substr(v.size()));
    }
}

void Commands::forget(const mg_connection* conn) {
    std::lock_guard<std::mutex> lock(mu_);
    if (holder_ != conn) return;
    feed_.release();
    holder_ = nullptr;
}

Commands::Asked Commands::asked() const {
    std::lock_guard<std::mutex> lock(mu_);
    return asked_;
}

void Commands::press(const mg_connection* conn, const std::string& arg) {
    long key = 0;
    if (!vxfront::parse_number(arg, 0, KEY_NONE - 1, key)) return;
    std::lock_guard<std::mutex> lock(mu_);
    feed_.press(static_cast<int>(key));
    holder_ = conn;
}

// The ladder gives one value for all buttons: any release lets go.
void Commands::release(const mg_connection*, const std::string&) {
    std::lock_guard<std::mutex> lock(mu_);
    feed_.release();
    holder_ = nullptr;
}

void Commands::mode(const mg_connection*, const std::string& arg) {
    long m = 0;
    const bool none = arg == "none";
    if (!none && (arg.size() != 1 || !vxfront::parse_number(arg, MODE_UNKNOWN, MODE_AV, m))) return;
    std::lock_guard<std::mutex> lock(mu_);
    vxboard::BoardState& s = board_.state();
    if (!none) board_.set_video_mode(static_cast<int>(m));
    s.i2c.fail_all = none ? 1 : 0;
    asked_.mode = arg;
    recorder_.mode(arg);
}

void Commands::stop_app(const mg_connection*, const std::string&) {
    recorder_.stop_app();
    stopper_.start();
}

// Stopping waits for the launcher's last answer, outside the lock: the other tabs are not
// kept waiting.
void Commands::record(const mg_connection*, const std::string& arg) {
    if (arg == "stop" && recorder_.on()) {
        recorder_.stop();
        std::printf("  [web] recorded %d steps: http://127.0.0.1:%d/recording.scn (%s)\n",
                    recorder_.steps(), port_.load(), recorder_.file_name().c_str());
    } else if (arg == "start") {
        std::lock_guard<std::mutex> lock(mu_);
        asked_.record_refused.clear();
        if (recorder_.start(asked_.record_refused))
            std::printf("  [web] recording the session as a scenario\n");
    }
}

void Commands::size(const mg_connection* conn, const std::string& arg) {
    if (arg == std::to_string(SCREEN_W) || arg == std::to_string(FRAME_W))
        tabs_.set_full(conn, arg == std::to_string(SCREEN_W));
}

} // namespace vxweb
