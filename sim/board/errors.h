#pragma once
// A system call of the board's that failed, as the board reports it to its test or front end:
// an exception naming what failed, with errno's text.
#include <string>

namespace vxboard {

[[noreturn]] void throw_errno(const std::string& what);

} // namespace vxboard
