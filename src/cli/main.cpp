// genpatch: the command line for package authors and administrators.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/cli_error.h"
#include "cli/commands.h"
#include "cli/safe_output.h"
#include "cli/verb_parser.h"
#include "platform/command.h"
#include "platform/platform.h"

namespace {

constexpr char kUsage[] =
    "usage: genpatch VERB [ARGUMENTS]\n"
    "\n"
    "Makes and inspects self-applying differential update packages.\n"
    "\n"
    "verbs:\n"
    "  build -o OUT RELEASE_DIR...      make a package from release folders (or --project)\n"
    "  info PACKAGE [--files] [--json]  show the header, texts, generations, files and streams\n"
    "  extract PACKAGE OUT              write the work docfile\n"
    "  check PACKAGE [--dest DIR]       tell which generation is installed\n"
    "  apply PACKAGE [--dest DIR] ...   run the update unattended (--dry-run: show the plan)\n"
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
    gp::platform::WriteStdout(std::string(gp::cli::VersionText()) + "\n");
    return gp::cli::kExitOk;
  }
  gp::cli::InstallInterruptCleanup();
  const std::string verb = args[0];
  args.erase(args.begin());
  try {
    if (verb == "build") return gp::cli::BuildCommand(args);
    if (verb == "info") return gp::cli::InfoCommand(args);
    if (verb == "extract") return gp::cli::ExtractCommand(args);
    if (verb == "check") return gp::cli::CheckCommand(args);
    if (verb == "apply") return gp::cli::ApplyCommand(args);
    gp::platform::WriteStderr("genpatch: unknown verb '" + verb + "'\nRun 'genpatch --help' for the verbs.\n");
    return gp::cli::kExitUsage;
  } catch (const gp::cli::CliError& e) {
    std::string text = std::string("genpatch ") + verb + ": " + e.what() + "\n";
    if (e.exit_code() == gp::cli::kExitUsage) text += "Run 'genpatch " + verb + " --help' for its options.\n";
    gp::platform::WriteStderr(text);
    return e.exit_code();
  } catch (const std::exception& e) {
    gp::platform::WriteStderr(std::string("genpatch ") + verb + ": " + e.what() + "\n");
    return gp::cli::kExitFailure;
  }
}
