// How the program's argument text is cut from the process command line.
#pragma once

#include <string_view>

namespace gp::platform::win32 {

// What follows the program name, as the ANSI entry point receives it: a program name in
// quotes ends after its closing quote, an unquoted one at the first blank or control
// character; the blanks after it are skipped; the rest is kept verbatim (quotes included).
std::wstring_view ArgumentAfterProgramName(std::wstring_view line);

}  // namespace gp::platform::win32
