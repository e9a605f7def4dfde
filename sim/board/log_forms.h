#pragma once
// The launcher's log read by its forms (base/log_lines.h): whoever reads the log on the board
// (the tests, the recorder, the web page) tells a line's form and its values here, from the
// launcher's own printf forms, rather than from copies of their texts.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vxboard {

struct LogForm {
    std::string_view form; // as the launcher writes it, "\n" and all
    std::string pattern;   // the line without its "\n", anchored; each conversion a group
    size_t literal = 0;    // characters of the form that are not conversions
};

// A printf form as an ECMAScript regular expression of the whole line: %d and %ld a
// decimal, %02x two hex digits, %s any text, the rest as it stands.
std::string form_pattern(std::string_view form);

// Every form of LOG_FORMS, the most literal first: "hold aborted (menu release, %d ms)" is
// tried before "hold aborted (%s, %d ms)", which matches the same lines and more.
const std::vector<LogForm>& log_forms();

// The form's text up to its first conversion: what every line of it begins with.
std::string_view form_head(std::string_view form);

struct LogLine {
    std::string_view form;
    std::vector<std::string> values; // what each conversion came to
    std::vector<size_t> at;          // where each value begins in the line
};

// A line of the launcher's log (its "\n" may stay) by its form; nullopt for a line of none.
std::optional<LogLine> read_log_line(std::string_view line);

} // namespace vxboard
