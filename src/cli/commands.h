// The verbs of the genpatch command. Each takes its arguments (after the verb) and returns the
// exit code; errors are thrown as CliError.
//
// Folder src/cli/: the genpatch command, the top layer: its verbs may include every other
// folder except uidriver.
#pragma once

#include <string>
#include <vector>

namespace gp::cli {

using Args = std::vector<std::string>;

int BuildCommand(const Args& args);
int InfoCommand(const Args& args);
int ExtractCommand(const Args& args);
int CheckCommand(const Args& args);
int ApplyCommand(const Args& args);

}  // namespace gp::cli
