#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/manifest.h"

namespace {

// A word counts only whole, up to a separator (comma, space, TAB); an unknown token runs to
// the next comma; nothing recognised is NORMAL.
TEST(ParseModes, Tokens) {
    const struct {
        uint32_t want;
        std::vector<const char*> texts;
    } cases[] = {
        {APP_MODE_NORMAL, {"", nullptr, "normal", "HDMI", "a", "hdmix", ",,,", "foo hdmi"}},
        {APP_MODE_AV, {"av", "av,", " , av ,, ", "normalx,av", "avx hdmi,av"}},
        {APP_MODE_HDMI, {"hdmi", "foo,hdmi"}},
        {APP_MODE_NORMAL | APP_MODE_AV, {"normal av"}},
        {APP_MODE_NORMAL | APP_MODE_HDMI, {"normal,hdmi"}},
        {APP_MODE_AV | APP_MODE_HDMI, {"av\thdmi"}},
        {APP_MODE_NORMAL | APP_MODE_AV | APP_MODE_HDMI, {"hdmi,av,normal"}},
    };
    for (const auto& c : cases)
        for (const char* text : c.texts)
            EXPECT_EQ(parse_modes(text), c.want) << (text ? text : "(null)");
}

// modes bits: 1 normal, 2 av, 4 hdmi; video modes: 1 NORMAL, 2 HDMI, 3 AV.
TEST(AllowedInMode, BitOrderIsNotModeOrder) {
    const struct {
        uint32_t modes;
        int32_t mode, want;
    } cases[] = {{1, 1, 1}, {1, 2, 0}, {1, 3, 0},  {2, 3, 1}, {2, 2, 0}, {4, 2, 1}, {4, 3, 0},
                 {7, 0, 0}, {7, 4, 0}, {7, -1, 0}, {7, 1, 1}, {7, 2, 1}, {7, 3, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(app_allowed_in_mode(c.modes, c.mode), c.want) << c.modes << " in " << c.mode;
}

// Whole manifests through the stream the scan reads, into an entry with the scan's defaults.
// Values are cut at the first control byte or the end of their field, never trimmed; a line
// is read in parts of 511 bytes, each part a line of its own.
TEST(Manifest, LinesSetTheirFields) {
    const std::string x300(300, 'x'), a506(506, 'a'), a127(127, 'a');
    const struct {
        std::string text, desc, version, args;
        uint32_t modes;
    } cases[] = {
        {"desc=Hello\n", "Hello", "1", "", 1},
        {"desc=Hello\r\n", "Hello", "1", "", 1},
        {"desc= two  \n", " two  ", "1", "", 1},
        {"desc=left\tright\n", "left", "1", "", 1},
        {"desc=no newline at end", "no newline at end", "1", "", 1},
        {" desc=indented\nDESC=upper\ndesc =spaced\n", "", "1", "", 1},
        {"desc=\xc5\xbc\xc3\xb3\xc5\x82w \x7f\n", "\xc5\xbc\xc3\xb3\xc5\x82w \x7f", "1", "", 1},
        {"desc=first\ndesc=second\n", "second", "1", "", 1},
        {"desc=kept\ndesc=\n", "", "1", "", 1},
        {"# desc=comment\nunknown=1\n\n", "", "1", "", 1},
        {"version=2.0.1\nargs=-v --fast\nargs=--slow x\nmodes=normal,av\n", "", "2.0.1", "--slow x",
         3},
        {"version=\nmodes=\n", "", "", "", 1},
        {"modes=normal\thdmi\n", "", "1", "", 1},
        {"modes=hdmi\nmodes=av\n", "", "1", "", 2},
        {"desc=" + x300 + "\nversion=" + x300 + "\nargs=" + x300 + "\n", x300.substr(0, 95),
         x300.substr(0, 15), x300.substr(0, 127), 1},
        // A "modes=" value is cut to 63 bytes before it is parsed: an "av" past that is lost.
        {"modes=" + std::string(57, ' ') + "hdmi,av\n", "", "1", "", 4},
        {"modes=" + std::string(50, ' ') + "hdmi,av\n", "", "1", "", 6},
        // A key that starts exactly after 511 bytes counts; a line feed alone is an empty line.
        {"args=" + a506 + "desc=tail\n", "tail", "1", a127, 1},
        {"args=" + a506 + "\nversion=3\n", "", "3", a127, 1},
        {std::string("desc=ab\0cd\nversion=7\n", 21), "ab", "7", "", 1},
    };
    for (const auto& c : cases) {
        AppEntry e{};
        e.modes = APP_MODE_NORMAL;
        e.version[0] = '1';
        FILE* f = fmemopen(const_cast<char*>(c.text.data()), c.text.size(), "r");
        manifest_read(&e, f);
        fclose(f);
        EXPECT_EQ(e.desc, c.desc) << c.text;
        EXPECT_EQ(e.version, c.version) << c.text;
        EXPECT_EQ(e.args, c.args) << c.text;
        EXPECT_EQ(e.modes, c.modes) << c.text;
    }
}

} // namespace
