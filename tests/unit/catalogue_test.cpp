#include <gtest/gtest.h>

#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "../common/scratch.h"
#include "apps/catalogue.h"

namespace {

TEST(AppName, Filter) {
    const std::string accepted[] = {"my_app-2", "A", std::string(39, 'n'), "vornax-launcher",
                                    "VornaX-Launcher2"};
    for (const std::string& name : accepted)
        EXPECT_EQ(app_name_acceptable(name.c_str()), 1) << name;
    const std::string refused[] = {
        std::string(40, 'n'), "",          ".hidden",        ".", "..", "has.dot", "has space",
        "caf\xc3\xa9",        "tab\tname", "VornaX-Launcher"};
    for (const std::string& name : refused)
        EXPECT_EQ(app_name_acceptable(name.c_str()), 0) << name;
}

class Scan : public ScratchDir {
  protected:
    void scan(int32_t mode) { scan_apps_in(&table_, dir_.c_str(), mode); }
    const AppEntry* entry(const std::string& name) const {
        for (int i = 0; i < table_.count; ++i)
            if (table_.entries[i].name == name) return &table_.entries[i];
        return nullptr;
    }
    AppTable table_{};
};

TEST_F(Scan, ListsReadableAppsOnly) {
    app("good");
    app("unreadable", "", 0200);
    app("readonly", "", 0400);
    app("target");
    fs::create_directories(dir_ / "linked");
    fs::create_symlink(dir_ / "target" / "app", dir_ / "linked" / "app");
    fs::create_directories(dir_ / "dangling");
    fs::create_symlink(dir_ / "nowhere", dir_ / "dangling" / "app");
    app("piped");
    ASSERT_EQ(mkfifo((dir_ / "piped" / "manifest").c_str(), 0644), 0);
    alarm(5); // a manifest open that waits for a writer would hang the scan
    scan(1);
    alarm(0);
    std::set<std::string> names;
    for (int i = 0; i < table_.count; ++i)
        names.insert(table_.entries[i].name);
    EXPECT_EQ(names, (std::set<std::string>{"good", "readonly", "target", "linked", "piped"}));
    ASSERT_NE(entry("piped"), nullptr);
    EXPECT_STREQ(entry("piped")->version, "1");
}

TEST_F(Scan, SixteenAtMostEachWithItsOwnManifest) {
    for (int i = 0; i < 20; ++i)
        app("app" + std::to_string(i), "desc=n" + std::to_string(i) + "\n");
    scan(1);
    ASSERT_EQ(table_.count, MAX_APPS);
    for (int i = 0; i < table_.count; ++i)
        EXPECT_EQ(std::string("n") + (table_.entries[i].name + 3), table_.entries[i].desc);
}

// Whether an app may run follows its modes in the scan's video mode (the mapping itself is
// AllowedInMode's); every field comes from this scan's manifest or its default, never from
// the entry before.
TEST_F(Scan, AllowedFollowsTheVideoModeAndRescansStartAfresh) {
    app("plain");
    app("avonly", "desc=first\nargs=a b\nmodes=av\n");
    for (const int32_t mode : {1, 3}) {
        scan(mode);
        ASSERT_EQ(table_.count, 2);
        EXPECT_EQ(entry("plain")->allowed, mode == 1 ? 1 : 0);
        EXPECT_EQ(entry("avonly")->allowed, mode == 3 ? 1 : 0);
    }
    fs::remove(dir_ / "avonly" / "manifest");
    scan(3);
    const AppEntry* e = entry("avonly");
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->desc, "");
    EXPECT_STREQ(e->args, "");
    EXPECT_EQ(e->modes, APP_MODE_NORMAL);
    EXPECT_EQ(e->allowed, 0);
}

TEST_F(Scan, SelectionIsKeptInRange) {
    for (const char* n : {"a", "b", "c"})
        app(n);
    const struct { int32_t before, after; } cases[] = {{5, 2}, {1, 1}, {-3, 0}, {2, 2}};
    for (const auto& c : cases) {
        table_.selected = c.before;
        scan(1);
        EXPECT_EQ(table_.selected, c.after) << c.before;
    }
    for (const char* n : {"a", "b", "c"})
        fs::remove_all(dir_ / n);
    table_.selected = 5;
    scan(1);
    EXPECT_EQ(table_.selected, 0);
    table_.selected = 5;
    scan_apps_in(&table_, (dir_ / "missing").c_str(), 1);
    EXPECT_EQ(table_.count, 0);
    EXPECT_EQ(table_.selected, 5);
}

} // namespace
