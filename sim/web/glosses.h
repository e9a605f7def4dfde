#pragma once
// What each of the launcher's lines means, in English, for the page's log (the lines stay as
// the launcher wrote them). "{N}" in a gloss stands for the line's Nth value, "{mode N}" for
// the name of the video mode it numbers.
#include <string_view>

namespace vxweb {

enum class Told {
    Log,     // beside the line only
    Event,   // also in the page's list of what happened
    Warning, // there as a warning
};

struct Gloss {
    std::string_view form; // one of base/log_lines.h
    const char* text;
    Told told;
};

// The gloss of a form; nullptr for a form without one.
const Gloss* gloss_of(std::string_view form);

} // namespace vxweb
