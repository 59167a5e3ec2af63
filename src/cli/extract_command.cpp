#include <filesystem>

#include "builder/release_tree.h"
#include "cli/cli_error.h"
#include "cli/commands.h"
#include "cli/package_file.h"
#include "platform/platform.h"

namespace gp::cli {

namespace {

constexpr char kExtractHelp[] =
    "usage: genpatch extract PACKAGE OUT\n"
    "\n"
    "Writes the work docfile that PACKAGE carries (a compound file) to OUT, expanding a\n"
    "compressed payload. PACKAGE is a package executable or a package data file.\n"
    "\n"
    "Exit codes: 0 written; 1 not a package, or its payload is not valid; 2 wrong usage.\n";

}  // namespace

int ExtractCommand(const Args& args) {
  std::vector<std::string> positional;
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      platform::WriteStdout(kExtractHelp);
      return kExitOk;
    }
    if (!a.empty() && a[0] == '-') {
      throw CliError("extract: unknown option " + a + "\n\n" + kExtractHelp, kExitUsage);
    }
    positional.push_back(a);
  }
  if (positional.size() != 2) {
    throw CliError(std::string("extract: name a package and an output file\n\n") + kExtractHelp,
                   kExitUsage);
  }
  const PackageFile package = OpenPackage(builder::PathFromUtf8(positional[0]));
  ExtractWorkDocfile(package, builder::PathFromUtf8(positional[1]));
  platform::WriteStdout("wrote " + positional[1] + "\n");
  return kExitOk;
}

}  // namespace gp::cli
