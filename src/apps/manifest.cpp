#include "apps/manifest.h"

#include <cstring>

namespace {

struct KeyRule {
    const char* key;
    size_t key_len;
};

bool is_separator(char c) {
    return c == ',' || c == ' ' || c == '\t';
}

// True when `text` begins with `word` followed by the end, a TAB, a comma or a space.
bool starts_with_word(const char* text, const char* word, size_t len) {
    if (std::strncmp(text, word, len) != 0) return false;
    const char next = text[len];
    return next == '\0' || is_separator(next);
}

// Copies a value bounded by the field, then ends it at the first control byte 0x01..0x1F:
// the line feed, a carriage return before it, or a TAB inside the value.
void copy_value(char* field, size_t field_size, const char* value) {
    size_t i = 0;
    for (; i + 1 < field_size && value[i] != '\0'; ++i) {
        const auto b = static_cast<unsigned char>(value[i]);
        if (b >= 0x01 && b <= 0x1F) break;
        field[i] = value[i];
    }
    field[i] = '\0';
}

} // namespace

uint32_t parse_modes(const char* text) {
    uint32_t bits = 0;
    const char* p = text ? text : "";
    struct Word {
        const char* word;
        size_t len;
        uint32_t bit;
    };
    static constexpr Word WORDS[] = {
        {"normal", 6, APP_MODE_NORMAL}, {"av", 2, APP_MODE_AV}, {"hdmi", 4, APP_MODE_HDMI}};
    for (;;) {
        while (is_separator(*p))
            ++p;
        if (*p == '\0') break;
        bool matched = false;
        for (const Word& w : WORDS) {
            if (starts_with_word(p, w.word, w.len)) {
                bits |= w.bit;
                p += w.len;
                matched = true;
                break;
            }
        }
        if (!matched) {
            // An unknown token runs to the next comma: spaces and TABs do not end it.
            while (*p != '\0' && *p != ',')
                ++p;
        }
    }
    return bits == 0 ? APP_MODE_NORMAL : bits;
}

int32_t app_allowed_in_mode(uint32_t modes, int32_t video_mode) {
    switch (video_mode) {
    case 1:
        return (modes & APP_MODE_NORMAL) ? 1 : 0;
    case 2:
        return (modes & APP_MODE_HDMI) ? 1 : 0;
    case 3:
        return (modes & APP_MODE_AV) ? 1 : 0;
    default:
        return 0;
    }
}

void manifest_apply_line(AppEntry* entry, const char* line) {
    static constexpr KeyRule KEYS[] = {{"desc=", 5}, {"version=", 8}, {"args=", 5}, {"modes=", 6}};
    for (int k = 0; k < 4; ++k) {
        if (std::strncmp(line, KEYS[k].key, KEYS[k].key_len) != 0) continue;
        const char* value = line + KEYS[k].key_len;
        switch (k) {
        case 0:
            copy_value(entry->desc, sizeof entry->desc, value);
            break;
        case 1:
            copy_value(entry->version, sizeof entry->version, value);
            break;
        case 2:
            copy_value(entry->args, sizeof entry->args, value);
            break;
        default: {
            char modes[MANIFEST_MODES_BYTES];
            copy_value(modes, sizeof modes, value);
            entry->modes = parse_modes(modes);
        }
        }
        return;
    }
}

void manifest_read(AppEntry* entry, FILE* file) {
    char line[MANIFEST_LINE_BYTES];
    while (std::fgets(line, sizeof line, file) != nullptr)
        manifest_apply_line(entry, line);
}
