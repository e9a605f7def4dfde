#include "apps/manifest.h"

#include <cstring>

namespace {

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
    for (;;) {
        while (is_separator(*p))
            ++p;
        if (*p == '\0') break;
        bool matched = false;
        for (const VideoModeName& n : VIDEO_MODE_NAMES) {
            const size_t len = std::strlen(n.word);
            if (starts_with_word(p, n.word, len)) {
                bits |= n.app_bit;
                p += len;
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
    return (modes & app_mode_bit(video_mode)) != 0 ? 1 : 0;
}

void manifest_apply_line(AppEntry* entry, const char* line) {
    for (const ManifestKeyName& k : MANIFEST_KEYS) {
        const size_t len = std::strlen(k.prefix);
        if (std::strncmp(line, k.prefix, len) != 0) continue;
        const char* value = line + len;
        switch (k.key) {
        case ManifestKey::Desc:
            copy_value(entry->desc, sizeof entry->desc, value);
            break;
        case ManifestKey::Version:
            copy_value(entry->version, sizeof entry->version, value);
            break;
        case ManifestKey::Args:
            copy_value(entry->args, sizeof entry->args, value);
            break;
        case ManifestKey::Modes: {
            char modes[MANIFEST_MODES_BYTES];
            copy_value(modes, sizeof modes, value);
            entry->modes = parse_modes(modes);
            break;
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
