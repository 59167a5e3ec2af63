// Sets up a run context for a package named on the command line, so that check and apply run
// the same detection and update as the program does.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/package_file.h"
#include "storage/run_temp_folder.h"
#include "ui/console_host.h"
#include "update/run_context.h"

namespace gp::cli {

struct SessionOptions {
  std::string package;
  std::optional<std::string> destination;  // default: the current directory
  // --group NAME=DIR (every generation's group of that name) or GENERATION/NAME=DIR.
  std::vector<std::string> groups;
  std::optional<std::string> windows_folder;
  std::optional<std::string> system_folder;
  std::optional<std::string> answers;
  std::optional<std::string> log;  // --log FILE: the run log
};

// Declares the options shared by check and apply on app (--answers only with_answers).
void DeclareSessionOptions(CLI::App& app, SessionOptions& options, bool with_answers);

class UpdateSession {
 public:
  // Makes a run context over a console host that answers unattended. With tidy false the
  // session removes nothing that earlier runs left (the temporary folders of ended runs).
  explicit UpdateSession(bool tidy = true);
  ~UpdateSession();
  UpdateSession(const UpdateSession&) = delete;
  UpdateSession& operator=(const UpdateSession&) = delete;

  // Loads the package's header, extracts its payload into the work docfile and sets the
  // destination, group, Windows and system folders. A group folder that the package gives
  // relative (no drive letter, not starting with a backslash) is taken inside the destination
  // folder. The program's own messages go to stderr; throws CliError when the package cannot
  // be used or the destination folder does not exist.
  void Open(const SessionOptions& options);

  RunContext& context() { return context_; }

 private:
  ui::ConsoleHost host_;
  RunTempFolder temp_folder_;  // removed after the context's files
  RunContext context_{host_};
};

}  // namespace gp::cli
