// genpatch: the command line for package authors and administrators.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/cli_error.h"
#include "cli/commands.h"
#include "platform/command.h"
#include "platform/platform.h"

namespace {

constexpr char kUsage[] =
    "usage: genpatch VERB [ARGUMENTS]\n"
    "\n"
    "Makes and inspects self-applying differential update packages.\n"
    "\n"
    "verbs:\n"
    "  build -o OUT RELEASE_DIR...       make a package from release folders (or --project)\n"
    "  info PACKAGE [--json]     show the header, texts, generations and work docfile\n"
    "  extract PACKAGE OUT       write the work docfile\n"
    "  check PACKAGE [--dest DIR]        tell which generation is installed\n"
    "  apply PACKAGE [--dest DIR] ...    run the update unattended\n"
    "\n"
    "genpatch VERB --help shows the options and exit codes of a verb.\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = gp::platform::CommandLineArguments(argc, argv);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    gp::platform::WriteStdout(kUsage);
    return args.empty() ? gp::cli::kExitUsage : gp::cli::kExitOk;
  }
  if (args[0] == "--version") {
    gp::platform::WriteStdout("genpatch 0.1.0\n");
    return gp::cli::kExitOk;
  }
  const std::string verb = args[0];
  args.erase(args.begin());
  try {
    if (verb == "build") return gp::cli::BuildCommand(args);
    if (verb == "info") return gp::cli::InfoCommand(args);
    if (verb == "extract") return gp::cli::ExtractCommand(args);
    if (verb == "check") return gp::cli::CheckCommand(args);
    if (verb == "apply") return gp::cli::ApplyCommand(args);
    gp::platform::WriteStderr("genpatch: unknown verb '" + verb + "'\n\n" + kUsage);
    return gp::cli::kExitUsage;
  } catch (const gp::cli::CliError& e) {
    gp::platform::WriteStderr(std::string("genpatch ") + verb + ": " + e.what() + "\n");
    return e.exit_code();
  } catch (const std::exception& e) {
    gp::platform::WriteStderr(std::string("genpatch ") + verb + ": " + e.what() + "\n");
    return gp::cli::kExitFailure;
  }
}
