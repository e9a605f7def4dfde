#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "../common/scratch.h"
#include "apps/catalogue.h"
#include "catalogue/catalogue.h"

namespace {

using CatalogueCheck = ScratchDir;

// What the check lists must be what the launcher lists, in its order and with its values:
// the explanations may not drift from the decisions.
void expect_same_as_launcher(const vxcat::Report& r, const fs::path& dir) {
    AppTable t{};
    scan_apps_in(&t, dir.c_str(), 1);
    std::vector<const vxcat::Entry*> listed;
    for (const vxcat::Entry& e : r.entries)
        if (e.listed) listed.push_back(&e);
    ASSERT_EQ(listed.size(), static_cast<size_t>(t.count));
    for (int i = 0; i < t.count; ++i) {
        const AppEntry& a = t.entries[i];
        EXPECT_EQ(listed[i]->name, a.name);
        EXPECT_EQ(listed[i]->desc, a.desc);
        EXPECT_EQ(listed[i]->version, a.version);
        EXPECT_EQ(listed[i]->args, a.args);
        EXPECT_EQ(listed[i]->modes, a.modes);
        EXPECT_EQ(listed[i]->allowed_normal, a.allowed != 0);
    }
}

TEST_F(CatalogueCheck, SaysWhyEachEntryIsPassedOverAndEachLineIgnoredOrCut) {
    app("good", "Desc=x\n desc=y\nname=z\ndesc=" + std::string(120, 'd') +
                    "\nversion=1.2.3\tbeta\nargs=a b\r\nmodes=HDMI, av\n");
    app(".hidden");
    app("sp ace");
    app(std::string(40, 'n'));
    app("VornaX-Launcher");
    app("unread", "", 0044);
    fs::create_directories(dir_ / "empty");
    std::ofstream(dir_ / "file") << "x";
    const vxcat::Report r = vxcat::check_catalogue(dir_);
    expect_same_as_launcher(r, dir_);

    const std::map<std::string, std::string> why = {{".hidden", "dot"},
                                                    {"sp ace", "a space at byte 3"},
                                                    {std::string(40, 'n'), "40 bytes"},
                                                    {"VornaX-Launcher", "own"},
                                                    {"unread", "owner-read"},
                                                    {"empty", "no file named app"},
                                                    {"file", "not a directory"}};
    for (const vxcat::Entry& e : r.entries) {
        if (e.listed) continue;
        ASSERT_TRUE(why.count(e.name)) << e.name;
        EXPECT_NE(e.skipped.find(why.at(e.name)), std::string::npos) << e.name << ": " << e.skipped;
    }

    const vxcat::Entry& good = *std::find_if(r.entries.begin(), r.entries.end(),
                                             [](const vxcat::Entry& e) { return e.listed; });
    std::vector<std::string> notes;
    for (const auto* v : {&good.ignored, &good.cut, &good.modes_notes})
        for (const vxcat::ManifestNote& n : *v)
            notes.push_back(std::to_string(n.line) + " " + n.why);
    const std::vector<std::string> want = {
        "1 keys are lower case",   "2 a key must start the line",
        "3 unknown key 'name'",    "4 desc cut to 95 bytes (it has 120)",
        "5 version ends at a TAB", "6 args ends at a CR (0x0D) after 3 bytes (a DOS",
        "7 'HDMI' is not a mode"};
    ASSERT_EQ(notes.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(notes[i].rfind(want[i], 0), 0u) << notes[i];
    EXPECT_EQ(good.modes_shown, "av");
}

TEST_F(CatalogueCheck, EntriesAfterTheSixteenthAppAreNotRead) {
    for (int i = 0; i < 18; ++i)
        app("app" + std::to_string(i));
    const vxcat::Report r = vxcat::check_catalogue(dir_);
    expect_same_as_launcher(r, dir_);
    EXPECT_EQ(r.listed, 16);
    for (size_t i = 16; i < r.entries.size(); ++i)
        EXPECT_NE(r.entries[i].skipped.find("16th"), std::string::npos);
}

} // namespace
