// The genpatch command's errors: a message for the user and the exit code to end with.
#pragma once

#include <stdexcept>
#include <string>

namespace gp::cli {

// Exit codes shared by every verb.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the work failed, or the package is not valid
inline constexpr int kExitUsage = 2;    // the command line is wrong

class CliError : public std::runtime_error {
 public:
  CliError(const std::string& message, int exit_code = kExitFailure)
      : std::runtime_error(message), exit_code_(exit_code) {}
  int exit_code() const { return exit_code_; }

 private:
  int exit_code_;
};

}  // namespace gp::cli
