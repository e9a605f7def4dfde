#include "scenario/words.h"

namespace vxscenario {

std::optional<int> key_of_word(const std::string& word) {
    for (const KeyWord& k : KEY_WORDS)
        if (word == k.word) return k.key;
    return std::nullopt;
}

std::optional<int> mode_of_word(const std::string& word) {
    for (int m = MODE_UNKNOWN; m < MODE_COUNT; ++m)
        if (word == mode_word(m)) return m;
    return std::nullopt;
}

std::optional<vxboard::Target> target_of_word(const std::string& word) {
    for (const TargetWord& t : TARGET_WORDS)
        if (word == t.word) return t.target;
    return std::nullopt;
}

const char* target_word(vxboard::Target target) {
    for (const TargetWord& t : TARGET_WORDS)
        if (t.target == target) return t.word;
    return "?";
}

const char* key_word(int key) {
    for (const KeyWord& k : KEY_WORDS)
        if (k.key == key) return k.word;
    return "?";
}

std::vector<std::string> mode_words() {
    std::vector<std::string> words;
    for (int m = MODE_UNKNOWN + 1; m < MODE_COUNT; ++m)
        words.push_back(mode_word(m));
    words.push_back(UNKNOWN_MODE_WORD);
    return words;
}

} // namespace vxscenario
