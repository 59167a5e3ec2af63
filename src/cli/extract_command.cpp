#include <filesystem>

#include "builder/release_tree.h"
#include "cli/cli_error.h"
#include "cli/commands.h"
#include "cli/package_file.h"
#include "cli/safe_output.h"
#include "cli/verb_parser.h"
#include "platform/platform.h"

namespace gp::cli {

namespace {

constexpr char kExtractDescription[] =
    "Writes the work docfile that PACKAGE carries (a compound file) to OUT, expanding a\n"
    "compressed payload. PACKAGE is a package executable or a package data file.\n";

constexpr char kExtractFooter[] =
    "An existing OUT is kept unless --force is given; OUT is written under a temporary name\n"
    "beside it and renamed when complete.\n"
    "\n"
    "Exit codes: 0 written; 1 not a package, or its payload is not valid; 2 wrong usage.\n";

}  // namespace

int ExtractCommand(const Args& args) {
  VerbParser parser("extract", kExtractDescription, kExtractFooter);
  std::string package_path;
  std::string out;
  bool force = false;
  parser.app().add_option("PACKAGE", package_path, "the package")->required()->type_name("");
  parser.app().add_option("OUT", out, "the compound file to write")->required()->type_name("");
  parser.app().add_flag("-f,--force", force, "replace OUT when it exists");
  if (!parser.Parse(args)) return kExitOk;

  const PackageFile package = OpenPackage(builder::PathFromUtf8(package_path));
  OutputFile output(builder::PathFromUtf8(out), force);
  ExtractWorkDocfile(package, output.temp());
  output.Commit();
  if (!parser.verbosity().quiet) platform::WriteStdout("wrote " + out + "\n");
  return kExitOk;
}

}  // namespace gp::cli
