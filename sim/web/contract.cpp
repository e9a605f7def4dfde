#include "web/contract.h"

#include <cctype>
#include <cstddef>

#include "base/paths.h"
#include "base/screen.h"
#include "base/timings.h"
#include "board/log_forms.h"
#include "board_state.h"
#include "display/draw.h"
#include "display/hold_panel.h"
#include "display/menu_layout.h"
#include "scenario/words.h"
#include "web/frame.h"
#include "web/glosses.h"
#include "web/json_text.h"

namespace vxweb {
namespace {

using nlohmann::json;

json point(int x, int y) {
    return {{"x", x}, {"y", y}};
}

json geometry() {
    using namespace menu_layout;
    return {
        {"screen", {{"w", SCREEN_W}, {"h", SCREEN_H}}},
        {"canvas", {{"w", CANVAS_W}, {"h", CANVAS_H}}},
        {"pictures", {FRAME_W, SCREEN_W}},
        {"frame_head",
         {{"bytes", sizeof(FrameHead)},
          {"x", offsetof(FrameHead, x)},
          {"y", offsetof(FrameHead, y)},
          {"page_w", offsetof(FrameHead, page_w)}}},
        {"menu",
         {{"panel_probe", point(PANEL_PROBE_X, PANEL_PROBE_Y)},
          {"row_probe", point(ROW_PROBE_X, ROW_PROBE_Y)},
          {"row_pitch", MENU_ROW_PITCH},
          {"rows", MENU_VISIBLE_ROWS}}},
        {"hold_panel_probe", point(hold_layout::PROBE_X, hold_layout::PROBE_Y)},
        {"colours", {{"panel", COL_PANEL}, {"row_highlight", COL_ROW_HIGHLIGHT}}},
        {"osd", {{"rows", vxboard::OSD_ROWS}, {"cols", vxboard::OSD_COLS}}},
    };
}

json words() {
    json keys = json::array(), modes = json::array();
    for (const vxscenario::KeyWord& k : vxscenario::KEY_WORDS)
        keys.push_back({{"key", k.key}, {"word", k.word}});
    for (int m = MODE_UNKNOWN; m < vxscenario::MODE_COUNT; ++m) {
        // The goggles' own names for their modes are the manifest's words in capitals.
        std::string name = vxscenario::mode_word(m);
        if (m != MODE_UNKNOWN)
            for (char& c : name)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        modes.push_back({{"mode", m}, {"word", vxscenario::mode_word(m)}, {"name", name}});
    }
    return {{"keys", keys}, {"modes", modes}};
}

json timings() {
    return {{"hold_block_ms", HOLD_BLOCK_MS},
            {"hold_open_ms", HOLD_OPEN_MS},
            {"hold_close_ms", HOLD_CLOSE_MS},
            {"escape_hold_ms", ESCAPE_HOLD_MS},
            {"escape_kill_after_ms", ESCAPE_KILL_AFTER_MS},
            {"tap_max_ms", TAP_MAX_MS},
            {"notice_ms", NOTICE_MS}};
}

// The forms with a gloss, the most literal first: the first whose pattern matches a line is
// its form.
json log_forms() {
    json forms = json::array();
    for (const vxboard::LogForm& f : vxboard::log_forms())
        if (const Gloss* g = gloss_of(f.form))
            forms.push_back({{"pattern", f.pattern},
                             {"gloss", g->text},
                             {"event", g->told != Told::Log},
                             {"warn", g->told == Told::Warning}});
    return forms;
}

} // namespace

std::string contract_json() {
    json j = geometry();
    j.update(words());
    j["timings"] = timings();
    j["notice"] = MENU_NOTICE;
    j["staging"] = STAGING_DIR;
    j["log_forms"] = log_forms();
    return dump(j);
}

} // namespace vxweb
