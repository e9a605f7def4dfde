#include "scenario/texts.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace vxscenario {

std::string rtrim(std::string s) {
    s.erase(s.find_last_not_of(" \n") + 1);
    return s;
}

std::string quoted(const std::string& s) {
    return "\"" + s + "\"";
}

std::string mismatch(const std::string& expected, const std::string& found) {
    return "expected " + expected + "\nfound    " + found;
}

std::string seconds(int64_t ms) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f s", static_cast<double>(ms) / 1000);
    return buf;
}

std::string errno_name(int e) {
    const char* n = strerrorname_np(e);
    return std::string(std::strerror(e)) + " (" + (n ? n : std::to_string(e)) + ")";
}

std::string slurp(const std::string& path, bool* exists) {
    std::ifstream in(path, std::ios::binary);
    if (exists != nullptr) *exists = static_cast<bool>(in);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l + "\n");
    return lines;
}

std::string last_lines(const std::vector<std::string>& lines, size_t n) {
    std::string out;
    for (size_t i = lines.size() > n ? lines.size() - n : 0; i < lines.size(); ++i) {
        out += "  | " + lines[i];
        if (out.back() != '\n') out += '\n';
    }
    return out.empty() ? "  (nothing)\n" : out;
}

} // namespace vxscenario
