// vx-scenario: runs scenario files against the virtual goggles board and reports each step.
//
//   vx-scenario [--apps DIR] [--realtime] [--accept] [--target host|armhf|armhf-static]
//               [--report FILE] FILE...
//
// Exit status: 0 when every scenario passed, 1 when one failed, 2 for a bad scenario or
// bad usage (nothing runs then).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <streambuf>

#include "scenario/scenario.h"

namespace {

// The report to the terminal and, with --report, to a file as well, line by line as it comes.
class Tee : public std::streambuf {
  public:
    Tee(std::streambuf* a, std::streambuf* b) : a_(a), b_(b) {}

  protected:
    int overflow(int c) override {
        if (c == EOF) return 0;
        if (a_->sputc(static_cast<char>(c)) == EOF) return EOF;
        return b_ && b_->sputc(static_cast<char>(c)) == EOF ? EOF : c;
    }
    int sync() override { return a_->pubsync() | (b_ ? b_->pubsync() : 0); }

  private:
    std::streambuf *a_, *b_;
};

int usage(const char* what) {
    std::fprintf(stderr,
                 "vx-scenario: %s\nusage: vx-scenario [--apps DIR] [--realtime] [--accept] "
                 "[--target host|armhf|armhf-static] [--report FILE] FILE...\n",
                 what);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    vxscenario::Options options;
    std::string report;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--apps" && has_value) {
            options.apps = argv[++i];
        } else if (a == "--realtime") {
            options.realtime = true;
        } else if (a == "--accept") {
            options.accept = true;
        } else if (a == "--report" && has_value) {
            report = argv[++i];
        } else if (a == "--target" && has_value) {
            const std::string t = argv[++i];
            if (t == "host")
                options.target = vxboard::Target::Host;
            else if (t == "armhf")
                options.target = vxboard::Target::Arm;
            else if (t == "armhf-static")
                options.target = vxboard::Target::ArmStatic;
            else
                return usage(("unknown target " + t).c_str());
        } else if (a.rfind("--", 0) == 0) {
            return usage(("unknown option " + a).c_str());
        } else {
            files.push_back(a);
        }
    }
    if (files.empty()) return usage("no scenario file");
    if (!options.apps.empty() && !std::filesystem::is_directory(options.apps))
        return usage(("no app directory " + options.apps).c_str());

    // Every file is read before any board starts: a typo on the last line of the last file
    // costs nothing.
    std::vector<vxscenario::ParseError> errors;
    std::vector<vxscenario::Scenario> scenarios;
    for (const std::string& f : files)
        scenarios.push_back(vxscenario::load(f, !options.apps.empty(), errors));
    for (const vxscenario::ParseError& e : errors)
        std::fprintf(stderr, "%s\n", vxscenario::to_string(e).c_str());
    if (!errors.empty()) return 2;

    std::ofstream report_file;
    if (!report.empty()) {
        const std::filesystem::path dir = std::filesystem::path(report).parent_path();
        if (!dir.empty()) std::filesystem::create_directories(dir);
        report_file.open(report);
        if (!report_file) return usage(("cannot write " + report).c_str());
        options.out_dir = dir.empty() ? "." : dir.string();
    }
    Tee tee(std::cout.rdbuf(), report_file.is_open() ? report_file.rdbuf() : nullptr);
    std::ostream out(&tee);
    std::vector<std::string> failed;
    for (const vxscenario::Scenario& s : scenarios)
        if (!vxscenario::run(s, options, out)) failed.push_back(s.path);
    out << "\n"
        << scenarios.size() << " scenario(s): " << scenarios.size() - failed.size() << " passed, "
        << failed.size() << " failed";
    for (const std::string& f : failed)
        out << (&f == &failed.front() ? ": " : ", ") << f;
    out << "\n" << std::flush;
    return failed.empty() ? 0 : 1;
}
