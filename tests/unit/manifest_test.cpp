#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "apps/manifest.h"

namespace {

TEST(ParseModes, Tokens) {
    struct Case {
        const char* text;
        uint32_t want;
    } cases[] = {
        {"normal,hdmi", 5},
        {"hdmi", 4},
        {"av", 2},
        {"normal av", 3},
        {"", 1},
        {nullptr, 1},
        {"HDMI", 1},
        {"normalx,av", 2},
        {"foo hdmi", 1},
        {"foo,hdmi", 4},
        {" , av ,, ", 2},
        {"av\thdmi", 6},
        {"hdmi,av,normal", 7},
        {"normal", 1},
        {"avx hdmi,av", 2},
        {"a", 1},
        {"hdmix", 1},
        {"av,", 2},
        {",,,", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parse_modes(c.text), c.want) << (c.text ? c.text : "(null)");
}

TEST(AllowedInMode, BitOrderIsNotModeOrder) {
    // modes bits: 1 normal, 2 av, 4 hdmi; video modes: 1 NORMAL, 2 HDMI, 3 AV.
    struct Case {
        uint32_t modes;
        int32_t mode;
        int32_t want;
    } cases[] = {
        {1, 1, 1}, {1, 2, 0}, {1, 3, 0},  {2, 3, 1}, {2, 2, 0}, {4, 2, 1}, {4, 3, 0},
        {7, 0, 0}, {7, 4, 0}, {7, -1, 0}, {7, 1, 1}, {7, 2, 1}, {7, 3, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(app_allowed_in_mode(c.modes, c.mode), c.want) << c.modes << " in " << c.mode;
}

AppEntry fresh() {
    AppEntry e;
    std::memset(&e, 0, sizeof e);
    e.modes = 1;
    e.version[0] = '1';
    return e;
}

// Feeds a whole manifest through the same stream path the scan uses.
AppEntry parse(const std::string& text) {
    AppEntry e = fresh();
    FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    manifest_read(&e, f);
    fclose(f);
    return e;
}

TEST(Manifest, ValuesAreCutAtControlBytesNotTrimmed) {
    struct Case {
        const char* text;
        const char* desc;
    } cases[] = {
        {"desc=Hello\n", "Hello"},
        {"desc=Hello\r\n", "Hello"},
        {"desc= two  \n", " two  "},
        {"desc=left\tright\n", "left"},
        {"desc=no newline at end", "no newline at end"},
        {" desc=indented\n", ""},
        {"DESC=upper\n", ""},
        {"desc =spaced\n", ""},
        {"desc=\xc5\xbc\xc3\xb3\xc5\x82w \x7f\n", "\xc5\xbc\xc3\xb3\xc5\x82w \x7f"},
        {"desc=first\ndesc=second\n", "second"},
        {"desc=kept\ndesc=\n", ""},
        {"# desc=comment\nunknown=1\n\n", ""},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(parse(c.text).desc, c.desc) << c.text;
}

TEST(Manifest, FieldsAndDefaults) {
    const AppEntry e = parse("version=2.0.1\nargs=-v --fast\nargs=--slow x\nmodes=normal,av\n");
    EXPECT_STREQ(e.version, "2.0.1");
    EXPECT_STREQ(e.args, "--slow x");
    EXPECT_EQ(e.modes, 3u);
    EXPECT_STREQ(parse("").version, "1");
    EXPECT_STREQ(parse("version=\n").version, "");
    EXPECT_EQ(parse("modes=normal\thdmi\n").modes, 1u);
    EXPECT_EQ(parse("modes=hdmi\nmodes=av\n").modes, 2u);
    EXPECT_EQ(parse("modes=\n").modes, 1u);
}

TEST(Manifest, LongValuesAreTruncatedToTheirFields) {
    const std::string long_value(300, 'x');
    const AppEntry e =
        parse("desc=" + long_value + "\nversion=" + long_value + "\nargs=" + long_value + "\n");
    EXPECT_EQ(std::strlen(e.desc), 95u);
    EXPECT_EQ(std::strlen(e.version), 15u);
    EXPECT_EQ(std::strlen(e.args), 127u);
    // A "modes=" value is cut to 63 bytes before it is parsed: an "av" past that is lost.
    EXPECT_EQ(parse("modes=" + std::string(57, ' ') + "hdmi,av\n").modes, 4u);
    EXPECT_EQ(parse("modes=" + std::string(50, ' ') + "hdmi,av\n").modes, 6u);
}

TEST(Manifest, OverlongLineIsReadInParts) {
    // 511 bytes per read: the part after the first 511 bytes is a line of its own, so a key
    // that starts exactly there counts, and the first part's value ends at its field size.
    const std::string head = "args=" + std::string(506, 'a'); // 511 bytes without the LF
    const AppEntry e = parse(head + "desc=tail\n");
    EXPECT_EQ(std::strlen(e.args), 127u);
    EXPECT_STREQ(e.desc, "tail");
    // The line feed left alone in a part makes an empty line, which is ignored.
    const AppEntry f = parse(head + "\nversion=3\n");
    EXPECT_STREQ(f.version, "3");
}

TEST(Manifest, NulByteEndsTheLineText) {
    const char text[] = "desc=ab\0cd\nversion=7\n";
    const AppEntry e = parse(std::string(text, sizeof text - 1));
    EXPECT_STREQ(e.desc, "ab");
    EXPECT_STREQ(e.version, "7");
}

} // namespace
