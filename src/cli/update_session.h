// Sets up a run context for a package named on the command line, so that check and apply run
// the same detection and update as the program does.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/package_file.h"
#include "storage/run_temp_folder.h"
#include "ui/console_host.h"
#include "update/run_context.h"

namespace gp::cli {

struct SessionOptions {
  std::filesystem::path package;
  std::optional<std::filesystem::path> destination;  // default: the current directory
  // --group NAME=DIR (every generation's group of that name) or GENERATION/NAME=DIR.
  std::vector<std::string> groups;
  std::optional<std::filesystem::path> windows_folder;
  std::optional<std::filesystem::path> system_folder;
  std::optional<std::string> answers;
  std::optional<std::filesystem::path> log;  // --log FILE: the run log
};

// Parses the options shared by check and apply; returns false for an argument it does not
// know (left in *rest).
bool ParseSessionOption(const std::vector<std::string>& args, size_t* i, SessionOptions* options);

class UpdateSession {
 public:
  // Makes a run context over a console host that answers unattended.
  UpdateSession();
  ~UpdateSession();
  UpdateSession(const UpdateSession&) = delete;
  UpdateSession& operator=(const UpdateSession&) = delete;

  // Loads the package's header, extracts its payload into the work docfile and sets the
  // destination, group, Windows and system folders. The program's own messages go to stderr;
  // throws CliError when the package cannot be used.
  void Open(const SessionOptions& options);

  RunContext& context() { return context_; }

 private:
  ui::ConsoleHost host_;
  RunTempFolder temp_folder_;  // removed after the context's files
  RunContext context_{host_};
};

}  // namespace gp::cli
