#include "board/log_forms.h"

#include <algorithm>
#include <regex>
#include <stdexcept>

#include "base/log_lines.h"

namespace vxboard {
namespace {

struct Conversion {
    std::string_view printf_text; // as the form writes it
    const char* pattern;
};

// The conversions the launcher's forms use; any other is refused at the first read.
constexpr Conversion CONVERSIONS[] = {
    {"%d", "(-?[0-9]+)"}, {"%ld", "(-?[0-9]+)"}, {"%02x", "([0-9a-f]{2})"},
    {"%s", "(.*)"},       {"%%", "%"},
};

constexpr std::string_view SPECIAL = "\\^$.|?*+()[]{}/";

std::string_view without_newline(std::string_view s) {
    return !s.empty() && s.back() == '\n' ? s.substr(0, s.size() - 1) : s;
}

const Conversion& conversion_at(std::string_view form, size_t i) {
    for (const Conversion& c : CONVERSIONS)
        if (form.substr(i, c.printf_text.size()) == c.printf_text) return c;
    throw std::logic_error("a log form with an unknown conversion: " + std::string(form));
}

struct Compiled {
    LogForm form;
    std::regex re;
};

Compiled compile(std::string_view form) {
    LogForm lf{form, "^", 0};
    const std::string_view text = without_newline(form);
    for (size_t i = 0; i < text.size();) {
        if (text[i] == '%') {
            const Conversion& c = conversion_at(text, i);
            lf.pattern += c.pattern;
            i += c.printf_text.size();
            continue;
        }
        if (SPECIAL.find(text[i]) != std::string_view::npos) lf.pattern += '\\';
        lf.pattern += text[i++];
        ++lf.literal;
    }
    lf.pattern += "$";
    std::regex re(lf.pattern);
    return {std::move(lf), std::move(re)};
}

const std::vector<Compiled>& compiled() {
    static const std::vector<Compiled> all = [] {
        std::vector<Compiled> v;
        for (const char* f : LOG_FORMS)
            v.push_back(compile(f));
        std::stable_sort(v.begin(), v.end(), [](const Compiled& a, const Compiled& b) {
            return a.form.literal > b.form.literal;
        });
        return v;
    }();
    return all;
}

} // namespace

std::string form_pattern(std::string_view form) {
    return compile(form).form.pattern;
}

std::string_view form_head(std::string_view form) {
    return form.substr(0, form.find('%'));
}

const std::vector<LogForm>& log_forms() {
    static const std::vector<LogForm> forms = [] {
        std::vector<LogForm> v;
        for (const Compiled& c : compiled())
            v.push_back(c.form);
        return v;
    }();
    return forms;
}

std::optional<LogLine> read_log_line(std::string_view line) {
    const std::string text(without_newline(line));
    std::smatch m;
    for (const Compiled& c : compiled()) {
        if (!std::regex_match(text, m, c.re)) continue;
        LogLine l{c.form.form, {}, {}};
        for (size_t g = 1; g < m.size(); ++g) {
            l.values.push_back(m[g].str());
            l.at.push_back(static_cast<size_t>(m.position(g)));
        }
        return l;
    }
    return std::nullopt;
}

} // namespace vxboard
