#include "cli/verb_parser.h"

#include <algorithm>

#include "cli/cli_error.h"
#include "platform/platform.h"

#ifndef GP_VERSION
#define GP_VERSION "0"
#endif

namespace gp::cli {

const char* VersionText() { return "genpatch " GP_VERSION; }

VerbParser::VerbParser(const std::string& verb, const std::string& description,
                       const std::string& footer)
    : app_(description, "genpatch " + verb) {
  app_.footer(footer);
  app_.add_flag("-q,--quiet", verbosity_.quiet, "print errors only");
  app_.add_flag("-v,--verbose", verbosity_.verbose, "print the details behind the answer");
  app_.set_version_flag("--version", VersionText());
  app_.get_formatter()->column_width(28);
}

bool VerbParser::Parse(const Args& args) {
  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app_.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    platform::WriteStdout(app_.help());
    return false;
  } catch (const CLI::CallForVersion&) {
    platform::WriteStdout(std::string(VersionText()) + "\n");
    return false;
  } catch (const CLI::ParseError& e) {
    throw CliError(e.what(), kExitUsage);
  }
  if (verbosity_.quiet && verbosity_.verbose) {
    throw CliError("--quiet and --verbose exclude each other", kExitUsage);
  }
  return true;
}

}  // namespace gp::cli
