// A scenario run as a report: a line for each step with its time on the launcher's clock,
// and for the step that failed what it expected and found, the logs' ends and the screen.
#include <filesystem>
#include <ostream>
#include <sstream>

#include "scenario/scenario.h"
#include "scenario/texts.h"
#include "scenario/words.h"

namespace fs = std::filesystem;

namespace vxscenario {
namespace {

constexpr const char* SANITIZER_MARKS[] = {"ERROR: AddressSanitizer",
                                           "AddressSanitizer:DEADLYSIGNAL", "LeakSanitizer",
                                           "runtime error:", "ERROR: UndefinedBehaviorSanitizer"};
constexpr size_t TAIL_LINES = 15;
constexpr size_t SANITIZER_LINES = 40;

void indented(std::ostream& out, const std::string& text) {
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out << "        " << l << "\n";
}

void report_failure(const Scenario& scenario, const Step& step, const std::string& failure,
                    const Session& session, std::ostream& out) {
    indented(out, failure);
    if (const std::string hint = session.hint(); !hint.empty()) indented(out, hint);
    indented(out, session.tails(step, TAIL_LINES));
    const std::string png =
        (fs::path(session.out_dir()) /
         (fs::path(scenario.path).stem().string() + ".line" + std::to_string(step.line) + ".png"))
            .string();
    try {
        if (session.board() != nullptr) {
            session.screenshot(png);
            out << "        the screen then: " << png << "\n";
        }
    } catch (const std::exception&) {
    }
    out << "FAILED " << scenario.path << " at line " << step.line << "\n";
}

// A sanitized launcher that found a fault in itself may have said so and carried on, or
// ended: the report fails the scenario, whatever its steps saw.
bool sanitizer_report(const Scenario& scenario, const std::vector<std::string>& lines,
                      std::ostream& out) {
    for (size_t i = 0; i < lines.size(); ++i)
        for (const char* mark : SANITIZER_MARKS)
            if (lines[i].find(mark) != std::string::npos) {
                out << "  a sanitizer report on the board:\n"
                    << last_lines(std::vector<std::string>(lines.begin() + static_cast<long>(i),
                                                           lines.end()),
                                  SANITIZER_LINES)
                    << "FAILED " << scenario.path << "\n";
                return true;
            }
    return false;
}

} // namespace

Outcome run(const Scenario& scenario, const Options& options, std::ostream& out) {
    const auto real_from = std::chrono::steady_clock::now();
    out << scenario.path << " (" << target_word(options.target.value_or(vxboard::target_from_env()))
        << ", " << (options.realtime ? "real time" : "stepped") << ")\n";
    if (const std::string why = refusal(scenario, options); !why.empty()) {
        out << "REFUSED " << scenario.path << ": " << why << "\n";
        return Outcome::Refused;
    }
    Session session(scenario, options);
    for (const Step& step : scenario.steps) {
        const std::optional<std::string> failure = session.run(step);
        const std::optional<int64_t> at = session.clock_ms();
        char line[256];
        std::snprintf(line, sizeof line, "  %4d  %-48s %-6s %9s\n", step.line, step.source.c_str(),
                      failure ? "FAILED" : "ok", at ? seconds(*at).c_str() : "-");
        out << line << std::flush;
        if (!failure) continue;
        report_failure(scenario, step, *failure, session, out);
        return Outcome::Failed;
    }
    // The board is taken down first, so that the last of the log is in.
    const int64_t clock_ms = session.clock_ms().value_or(0);
    const std::vector<std::string> lines = session.finish();
    if (sanitizer_report(scenario, lines, out)) return Outcome::Failed;
    const auto real_ms =
        std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - real_from).count();
    out << "passed " << scenario.path << ": " << scenario.steps.size() << " steps, "
        << seconds(clock_ms) << " on the launcher's clock in " << seconds(real_ms) << "\n";
    return Outcome::Passed;
}

} // namespace vxscenario
