#pragma once
// /contract.json: what the page and its tests take from the launcher and the board rather than
// copy: the screen's size and the pictures a tab may ask for, the frame head's layout, the
// menu's and the hold panel's probe points and colours, the buttons and video modes by their
// numbers, the timings a person's hold is measured against, the notice's text, the staging
// directory, and every log line's form as a pattern with its gloss.
#include <string>

namespace vxweb {

std::string contract_json();

} // namespace vxweb
