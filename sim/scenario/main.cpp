// vx-scenario: runs scenario files against the virtual goggles board and reports each step.
//
//   vx-scenario [--apps DIR] [--realtime] [--accept] [--target host|armhf|armhf-static|goggles]
//               [--boot-each] [--report FILE] FILE...
//
// Exit status: 0 when every scenario passed, 1 when one failed, 2 for a bad scenario or
// bad usage (nothing runs then).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <streambuf>

#include "scenario/scenario.h"
#include "scenario/words.h"

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
                 "[--target host|armhf|armhf-static|goggles] [--boot-each] [--report FILE] "
                 "FILE...\n",
                 what);
    return 2;
}

struct Command {
    vxscenario::Options options;
    std::string report;
    std::vector<std::string> files;
};

// The command line; an error to give usage() when it is wrong.
std::string read_command(int argc, char** argv, Command& c) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--apps" && has_value) {
            c.options.apps = argv[++i];
        } else if (a == "--boot-each") {
            c.options.one_boot = false;
        } else if (a == "--realtime") {
            c.options.realtime = true;
        } else if (a == "--accept") {
            c.options.accept = true;
        } else if (a == "--report" && has_value) {
            c.report = argv[++i];
        } else if (a == "--target" && has_value) {
            const std::string t = argv[++i];
            c.options.target = vxscenario::target_of_word(t);
            if (!c.options.target) return "unknown target " + t;
        } else if (a.rfind("--", 0) == 0) {
            return "unknown option " + a;
        } else {
            c.files.push_back(a);
        }
    }
    if (c.files.empty()) return "no scenario file";
    if (!c.options.apps.empty() && !std::filesystem::is_directory(c.options.apps))
        return "no app directory " + c.options.apps;
    return "";
}

// Runs the scenarios, each reported to `out`; the exit status. A scenario the target refused
// did not pass.
int run_all(const std::vector<vxscenario::Scenario>& scenarios, const vxscenario::Options& options,
            std::ostream& out) {
    std::vector<std::string> failed, refused;
    for (const vxscenario::Scenario& s : scenarios) {
        const vxscenario::Outcome o = vxscenario::run(s, options, out);
        if (o == vxscenario::Outcome::Failed) failed.push_back(s.path);
        if (o == vxscenario::Outcome::Refused) refused.push_back(s.path);
    }
    vxscenario::release_kept_board();
    out << "\n"
        << scenarios.size() << " scenario(s): " << scenarios.size() - failed.size() - refused.size()
        << " passed, " << failed.size() << " failed";
    for (const std::string& f : failed)
        out << (&f == &failed.front() ? ": " : ", ") << f;
    if (!refused.empty()) out << "; " << refused.size() << " refused";
    for (const std::string& f : refused)
        out << (&f == &refused.front() ? ": " : ", ") << f;
    out << "\n" << std::flush;
    return failed.empty() && refused.empty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    Command c;
    // The emulated goggles boot once for all the scenarios, unless --boot-each.
    c.options.one_boot = true;
    if (const std::string error = read_command(argc, argv, c); !error.empty())
        return usage(error.c_str());

    // Every file is read before any board starts: a typo on the last line of the last file
    // costs nothing.
    std::vector<vxscenario::ParseError> errors;
    std::vector<vxscenario::Scenario> scenarios;
    for (const std::string& f : c.files)
        scenarios.push_back(vxscenario::load(f, !c.options.apps.empty(), errors));
    for (const vxscenario::ParseError& e : errors)
        std::fprintf(stderr, "%s\n", vxscenario::to_string(e).c_str());
    if (!errors.empty()) return 2;

    std::ofstream report_file;
    if (!c.report.empty()) {
        const std::filesystem::path dir = std::filesystem::path(c.report).parent_path();
        if (!dir.empty()) std::filesystem::create_directories(dir);
        report_file.open(c.report);
        if (!report_file) return usage(("cannot write " + c.report).c_str());
        c.options.out_dir = dir.empty() ? "." : dir.string();
    }
    Tee tee(std::cout.rdbuf(), report_file.is_open() ? report_file.rdbuf() : nullptr);
    std::ostream out(&tee);
    return run_all(scenarios, c.options, out);
}
