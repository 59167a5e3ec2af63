// The command line of one verb: CLI11 underneath, the same conventions for every verb.
//
// Each verb declares its options on app() (`-o,--output` style: a long name for every short
// one; values as `--opt value`, `--opt=value` or `-oVALUE`; `--` ends the options) and calls
// Parse. Every verb has -h/--help, -q/--quiet, -v/--verbose and --version. A wrong command line
// is a CliError with exit code 2 whose message names the fault; main adds the verb and a hint
// to --help.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

#include "cli/commands.h"

namespace gp::cli {

struct Verbosity {
  bool quiet = false;    // errors only: no summary, no warnings, no progress
  bool verbose = false;  // the details behind each answer
};

class VerbParser {
 public:
  // The help shows description first, then the usage line and the options CLI11 makes of the
  // declarations, then footer (exit codes, pointers to documents).
  VerbParser(const std::string& verb, const std::string& description, const std::string& footer);

  CLI::App& app() { return app_; }
  const Verbosity& verbosity() const { return verbosity_; }

  // Parses the verb's arguments. False when the help or the version was asked for (it has been
  // printed and the verb ends with 0). Throws CliError (exit code 2) for a wrong command line.
  bool Parse(const Args& args);

 private:
  CLI::App app_;
  Verbosity verbosity_;
};

// The version genpatch reports.
const char* VersionText();

}  // namespace gp::cli
