#pragma once
// What a tab asks of the board over its WebSocket: "press K", "release", "mode M" (a mode's
// number, or "none" for a transport where every transfer fails), "stop app", "record start",
// "record stop" and "size W" (the picture's width). One table of them.
#include <atomic>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "front/front.h"
#include "scenario/record.h"
#include "web/app_stopper.h"
#include "web/tabs.h"

namespace vxweb {

class Commands {
  public:
    Commands(vxboard::Board& board, vxfront::KeyFeed& feed, vxscenario::Recorder& recorder,
             AppStopper& stopper, Tabs& tabs)
        : board_(board), feed_(feed), recorder_(recorder), stopper_(stopper), tabs_(tabs) {}

    // Where the recording is served from, for the message that announces it.
    void set_port(int port) { port_ = port; }
    void take(const mg_connection* conn, const std::string& msg);
    // The tab went away: a button it held is let go, as a finger leaving it.
    void forget(const mg_connection* conn);
    // The video mode the tabs chose last, and why the last recording could not start.
    struct Asked {
        std::string mode, record_refused;
    };
    Asked asked() const;

  private:
    void press(const mg_connection* conn, const std::string& arg);
    void release(const mg_connection* conn, const std::string& arg);
    void mode(const mg_connection* conn, const std::string& arg);
    void stop_app(const mg_connection* conn, const std::string& arg);
    void record(const mg_connection* conn, const std::string& arg);
    void size(const mg_connection* conn, const std::string& arg);

    vxboard::Board& board_;
    vxfront::KeyFeed& feed_;
    vxscenario::Recorder& recorder_;
    AppStopper& stopper_;
    Tabs& tabs_;
    std::atomic<int> port_{0};
    mutable std::mutex mu_;
    const mg_connection* holder_ = nullptr; // the tab whose button is down
    Asked asked_;
};

} // namespace vxweb
