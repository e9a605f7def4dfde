#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "apps/catalog.h"

namespace fs = std::filesystem;

namespace {

TEST(AppName, Filter) {
    struct Case {
        std::string name;
        int want;
    } cases[] = {
        {"my_app-2", 1},
        {"A", 1},
        {std::string(39, 'n'), 1},
        {std::string(40, 'n'), 0},
        {"", 0},
        {".hidden", 0},
        {".", 0},
        {"..", 0},
        {"has.dot", 0},
        {"has space", 0},
        {"caf\xc3\xa9", 0},
        {"tab\tname", 0},
        {"VornaX-Launcher", 0},
        {"vornax-launcher", 1},
        {"VornaX-Launcher2", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(app_name_acceptable(c.name.c_str()), c.want) << c.name;
}

class Scan : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx-catalog-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    void app(const std::string& name, const std::string& manifest = "", mode_t mode = 0755) {
        fs::create_directories(dir_ / name);
        std::ofstream(dir_ / name / "app") << "#!/bin/sh\n";
        chmod((dir_ / name / "app").c_str(), mode);
        if (!manifest.empty()) std::ofstream(dir_ / name / "manifest") << manifest;
    }

    std::set<std::string> names() const {
        std::set<std::string> out;
        for (int i = 0; i < table_.count; ++i)
            out.insert(table_.entries[i].name);
        return out;
    }

    void scan(int32_t mode) { scan_apps_in(&table_, dir_.c_str(), mode); }

    fs::path dir_;
    AppTable table_{};
};

TEST_F(Scan, SkipsWhatIsNotAnApp) {
    app("good");
    app("bad.name");
    app("VornaX-Launcher");
    app("unreadable", "", 0200);
    app("readonly", "", 0400);
    fs::create_directories(dir_ / "empty");
    std::ofstream(dir_ / "plainfile") << "x";
    app("target");
    fs::create_directories(dir_ / "linked");
    fs::create_symlink(dir_ / "target" / "app", dir_ / "linked" / "app");
    fs::create_directories(dir_ / "dangling");
    fs::create_symlink(dir_ / "nowhere", dir_ / "dangling" / "app");
    scan(1);
    EXPECT_EQ(names(), (std::set<std::string>{"good", "readonly", "target", "linked"}));
}

TEST_F(Scan, SixteenAtMostAndEntriesAreFilled) {
    for (int i = 0; i < 20; ++i)
        app("app" + std::to_string(i), "desc=n" + std::to_string(i) + "\n");
    scan(1);
    ASSERT_EQ(table_.count, MAX_APPS);
    for (int i = 0; i < table_.count; ++i) {
        const AppEntry& e = table_.entries[i];
        EXPECT_EQ(std::string("n") + (e.name + 3), std::string(e.desc));
        EXPECT_STREQ(e.version, "1");
        EXPECT_EQ(e.allowed, 1);
    }
}

TEST_F(Scan, AllowedFollowsTheScanMode) {
    app("plain");
    app("avonly", "modes=av\n");
    app("both", "modes=normal,hdmi\n");
    auto allowed = [&](const char* name) {
        for (int i = 0; i < table_.count; ++i)
            if (std::string(table_.entries[i].name) == name) return table_.entries[i].allowed;
        return -1;
    };
    const struct {
        int32_t mode;
        int plain, avonly, both;
    } cases[] = {{0, 0, 0, 0}, {1, 1, 0, 1}, {2, 0, 0, 1}, {3, 0, 1, 0}};
    for (const auto& c : cases) {
        scan(c.mode);
        EXPECT_EQ(allowed("plain"), c.plain) << c.mode;
        EXPECT_EQ(allowed("avonly"), c.avonly) << c.mode;
        EXPECT_EQ(allowed("both"), c.both) << c.mode;
    }
}

TEST_F(Scan, StaleFieldsDoNotSurviveARescan) {
    app("one", "desc=first\nargs=a b\nmodes=av\n");
    scan(3);
    ASSERT_EQ(table_.count, 1);
    fs::remove(dir_ / "one" / "manifest");
    scan(3);
    ASSERT_EQ(table_.count, 1);
    EXPECT_STREQ(table_.entries[0].desc, "");
    EXPECT_STREQ(table_.entries[0].args, "");
    EXPECT_EQ(table_.entries[0].modes, 1u);
    EXPECT_EQ(table_.entries[0].allowed, 0);
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
    fs::remove_all(dir_ / "a");
    fs::remove_all(dir_ / "b");
    fs::remove_all(dir_ / "c");
    table_.selected = 5;
    scan(1);
    EXPECT_EQ(table_.selected, 0);
    table_.selected = 5;
    scan_apps_in(&table_, (dir_ / "missing").c_str(), 1);
    EXPECT_EQ(table_.count, 0);
    EXPECT_EQ(table_.selected, 5);
}

TEST_F(Scan, ManifestThatIsAFifoDoesNotBlock) {
    app("piped");
    ASSERT_EQ(mkfifo((dir_ / "piped" / "manifest").c_str(), 0644), 0);
    alarm(5); // a blocking open would hang the scan; fail loudly instead
    scan(1);
    alarm(0);
    ASSERT_EQ(table_.count, 1);
    EXPECT_STREQ(table_.entries[0].version, "1");
}

} // namespace
