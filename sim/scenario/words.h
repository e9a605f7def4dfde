#pragma once
// The scenario language's words for the goggles' buttons and video modes, numbered as the
// launcher numbers them: the parser reads them, the recorder writes them, the web page shows
// them. And the words vx-scenario knows the launcher's builds by.
#include <optional>
#include <string>
#include <vector>

#include "base/video_modes.h"
#include "board/board.h"
#include "hw/keys_logic.h"

namespace vxscenario {

struct KeyWord {
    int key;
    const char* word;
};
constexpr KeyWord KEY_WORDS[] = {
    {KEY_UP, "UP"},     {KEY_DOWN, "DOWN"}, {KEY_MIDDLE, "MIDDLE"},
    {KEY_PLAY, "PLAY"}, {KEY_BACK, "BACK"},
};

// A video mode is named by its manifest word; the mode the launcher could not read has none.
constexpr const char* UNKNOWN_MODE_WORD = "unknown";
constexpr int MODE_COUNT = MODE_AV + 1; // numbered from MODE_UNKNOWN

constexpr const char* mode_word(int mode) {
    for (const VideoModeName& n : VIDEO_MODE_NAMES)
        if (n.mode == mode) return n.word;
    return UNKNOWN_MODE_WORD;
}

constexpr bool every_mode_has_a_word() {
    for (int m = MODE_UNKNOWN + 1; m < MODE_COUNT; ++m)
        if (mode_word(m) == UNKNOWN_MODE_WORD) return false;
    return MODE_UNKNOWN == 0;
}
static_assert(every_mode_has_a_word(), "a video mode without its word in VIDEO_MODE_NAMES");

struct TargetWord {
    vxboard::Target target;
    const char* word;
};
// The launcher's builds as the commands name them (--target).
constexpr TargetWord TARGET_WORDS[] = {
    {vxboard::Target::Host, "host"},
    {vxboard::Target::Arm, "armhf"},
    {vxboard::Target::ArmStatic, "armhf-static"},
    {vxboard::Target::Goggles, "goggles"},
};

// The key or mode a word names.
std::optional<int> key_of_word(const std::string& word);
std::optional<int> mode_of_word(const std::string& word);
std::optional<vxboard::Target> target_of_word(const std::string& word);
// "?" for a key no word names.
const char* key_word(int key);
const char* target_word(vxboard::Target target);
// Every mode's word: the modes in their numbering, the unknown one last.
std::vector<std::string> mode_words();

} // namespace vxscenario
