#include "hw/osd_charset.h"

int osd_char_code(char c) {
    switch (c) {
    case ' ':
        return 0;
    case '%':
        return 1;
    case '.':
        return 2;
    case '/':
        return 3;
    case ':':
        return 14;
    case '@':
        return 15;
    default:
        break;
    }
    if (c >= '0' && c <= '9') return c - 44;
    if (c >= 'A' && c <= 'Z') return c - 49;
    return -1;
}

char osd_map_char(char c) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return c == '-' || osd_char_code(c) < 0 ? ' ' : c;
}
