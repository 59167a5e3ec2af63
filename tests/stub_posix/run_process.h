// Runs a program as a subprocess with extra environment and standard input, and collects its
// exit code, standard output and standard error.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace gp::test {

struct ProcessResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env = {},
                         const std::string& input = std::string());

}  // namespace gp::test
