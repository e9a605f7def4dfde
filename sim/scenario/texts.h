#pragma once
// The texts a scenario run reads and reports: files and logs read whole, their last lines,
// and what a failed step says it expected and found.
#include <cstdint>
#include <string>
#include <vector>

namespace vxscenario {

// Without its trailing blanks and newlines.
std::string rtrim(std::string s);
std::string quoted(const std::string& s);
std::string mismatch(const std::string& expected, const std::string& found);
// "2.50 s".
std::string seconds(int64_t ms);
// "Exec format error (ENOEXEC)".
std::string errno_name(int e);

// A file's bytes; empty when it cannot be read (`exists` says which).
std::string slurp(const std::string& path, bool* exists = nullptr);
// Every line of `text`, each with its "\n".
std::vector<std::string> split_lines(const std::string& text);
// The last `n` lines, each indented behind "  | ".
std::string last_lines(const std::vector<std::string>& lines, size_t n);

} // namespace vxscenario
