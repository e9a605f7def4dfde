#include "front/front.h"

#include "board_paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace vxfront {

using namespace vxboard;
using Clock = std::chrono::steady_clock;

bool parse_number(const std::string& text, long lo, long hi, long& out) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    out = std::strtol(text.c_str(), nullptr, 10);
    return out >= lo && out <= hi;
}

Option take_board_option(int argc, char** argv, int& i, BoardConfig& cfg, std::string& error) {
    const std::string a = argv[i];
    const bool valued = a == "--apps" || a == "--target" || a == "--mode";
    if (!valued) {
        if (a != "--no-buzzer") return Option::NotMine;
        cfg.before_launch = [](BoardState& s) { s.pwm.missing = 1; };
        return Option::Taken;
    }
    if (i + 1 >= argc) {
        error = a + " needs a value";
        return Option::Bad;
    }
    const std::string v = argv[++i];
    if (a == "--apps") {
        struct stat st {};
        if (stat(v.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            error = "--apps " + v + ": not a directory";
            return Option::Bad;
        }
        cfg.apps_dir = v;
    } else if (a == "--target") {
        if (v == "host")
            cfg.target = Target::Host;
        else if (v == "armhf")
            cfg.target = Target::Arm;
        else if (v == "armhf-static")
            cfg.target = Target::ArmStatic;
        else if (v == "goggles")
            cfg.target = Target::Goggles;
        else {
            error = "--target " + v + ": one of host, armhf, armhf-static, goggles";
            return Option::Bad;
        }
    } else {
        long mode = 0;
        if (!parse_number(v, 0, 3, mode)) {
            error = "--mode " + v + ": 0 (unknown), 1 (NORMAL), 2 (HDMI) or 3 (AV)";
            return Option::Bad;
        }
        cfg.video_mode = static_cast<int>(mode);
    }
    return Option::Taken;
}

int take_options(int argc, char** argv, BoardConfig& cfg, const char* program,
                 const std::function<int(int& i)>& own) {
    for (int i = 1; i < argc; ++i) {
        std::string error;
        const Option o = take_board_option(argc, argv, i, cfg, error);
        if (o == Option::Taken) continue;
        if (o == Option::Bad) {
            std::fprintf(stderr, "%s: %s\n", program, error.c_str());
            return 2;
        }
        if (const int status = own(i); status != GO_ON) return status;
    }
    settle_apps_dir(cfg);
    return GO_ON;
}

void settle_apps_dir(BoardConfig& cfg) {
    if (cfg.target == Target::Goggles && cfg.apps_dir == VX_SAMPLE_APPS_DIR)
        cfg.apps_dir = goggles_release_apps_dir();
}

bool start_board(Board& board, const char* program) {
    try {
        board.start();
        return true;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", program, e.what());
        return false;
    }
}

std::atomic<bool> g_quit{false};

void end_on_signals() {
    const auto quit = [](int) { g_quit = true; };
    std::signal(SIGINT, quit);
    std::signal(SIGTERM, quit);
}

std::optional<int> end_launcher(Board& board) {
    // Long enough for the launcher to give the goggles back (its overlay's bounded clear
    // included) before the board is taken down under it.
    constexpr Millis LAUNCHER_END(3000);
    if (board.state().launcher.exited.load()) return std::nullopt;
    try {
        board.signal_launcher(SIGTERM);
        return board.wait_exit(LAUNCHER_END);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

KeyFeed::KeyFeed(Board& board, std::function<void(uint32_t)> on_level)
    : board_(board), on_level_(std::move(on_level)), worker_([this] { run(); }) {}

KeyFeed::~KeyFeed() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        quit_ = true;
    }
    cv_.notify_all();
    worker_.join();
}

void KeyFeed::push(uint32_t raw) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (raw == last_queued_) return;
        last_queued_ = raw;
        queue_.push_back(raw);
    }
    cv_.notify_all();
}

void KeyFeed::press(int key) {
    push(Board::raw_for_key(key));
}

void KeyFeed::release() {
    push(0);
}

void KeyFeed::drain() {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [&] { return quit_ || (queue_.empty() && !busy_); });
}

int64_t KeyFeed::last_press_ms() const {
    std::lock_guard<std::mutex> lock(mu_);
    return last_press_ms_;
}

void KeyFeed::run() {
    Clock::time_point pressed_at{};
    bool pressed = false;
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        cv_.wait(lock, [&] { return quit_ || !queue_.empty(); });
        if (quit_) return;
        const uint32_t raw = queue_.front();
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        const uint32_t reads_before = board_.state().adc.reads.load();
        board_.set_adc_raw(raw);
        const auto since = Clock::now();
        if (on_level_) on_level_(raw);
        if (pressed) {
            const auto held =
                std::chrono::duration_cast<std::chrono::milliseconds>(since - pressed_at);
            std::lock_guard<std::mutex> g(mu_);
            last_press_ms_ = held.count();
        }
        pressed = raw != 0;
        pressed_at = since;
        while (board_.state().adc.reads.load() - reads_before < READS_TO_SEE &&
               Clock::now() - since < MAX_STRETCH) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        lock.lock();
        busy_ = false;
        cv_.notify_all();
    }
}

} // namespace vxfront
