// What the genpatch command takes from its process, in UTF-8 host terms (the package program
// works with code page 932 program paths instead: platform.h).
#pragma once

#include <string>
#include <vector>

namespace gp::platform {

// The arguments after the program name. Windows: split from the wide command line by the
// system's rules (CommandLineToArgvW), so that names outside the ANSI code page arrive
// intact. Linux: argv as given.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// The running program's own file as a host path in UTF-8 (also where its folder has no code
// page 932 form); empty when it cannot be told.
std::string OwnFileHostPath();

}  // namespace gp::platform
