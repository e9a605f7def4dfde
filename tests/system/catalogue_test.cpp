#include <filesystem>
#include <fstream>

#include "board_fixture.h"

namespace fs = std::filesystem;

namespace systest {
namespace {

std::string scan_line(int count) {
    return "scan done: " + std::to_string(count) + " apps (mode=1)\n";
}

TEST_F(BoardTest, CatalogueCountsOnlyRealApps) {
    app("good_app-1", "desc=fine\nmodes=normal,av\n");
    app("readable", "", 0400);  // no execute bit: still listed
    app("writeonly", "", 0200); // owner cannot read it
    app("has.dot");
    app("has space");
    app("caf\xc3\xa9");
    app(".hidden");
    app(std::string(39, 'x'));
    app(std::string(40, 'y'));
    app("VornaX-Launcher"); // the launcher's own directory
    app("vornax-launcher"); // other letter case is somebody else's
    fs::create_directories(fs::path(apps_) / "no_app_inside");
    std::ofstream(fs::path(apps_) / "plain_file") << "x";
    app("target");
    fs::create_directories(fs::path(apps_) / "via_link");
    fs::create_symlink("../target/app", fs::path(apps_) / "via_link" / "app");
    fs::create_directories(fs::path(apps_) / "dangling");
    fs::create_symlink("../nowhere/app", fs::path(apps_) / "dangling" / "app");

    vxboard::Board& b = start_ready();
    // good_app-1, readable, 39 x's, vornax-launcher, target, via_link
    EXPECT_TRUE(b.wait_line(scan_line(6), Millis(100))) << dump();
}

TEST_F(BoardTest, CatalogueStopsAtSixteen) {
    for (int i = 0; i < 20; ++i)
        app("app" + std::to_string(i));
    app("bad.one");
    vxboard::Board& b = start_ready();
    EXPECT_TRUE(b.wait_line(scan_line(16), Millis(100))) << dump();
}

TEST_F(BoardTest, MissingAppDirectoryGivesAnEmptyCatalogue) {
    vxboard::BoardConfig cfg;
    cfg.with_apps = false;
    vxboard::Board& b = start_ready(cfg);
    EXPECT_TRUE(b.wait_line(scan_line(0), Millis(100))) << dump();
}

} // namespace
} // namespace systest
