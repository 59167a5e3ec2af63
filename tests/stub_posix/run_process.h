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

// This process's environment as NAME=VALUE entries, with changes applied: a variable is set,
// or, when empty_removes and its value is empty, left out.
std::vector<std::string> ChildEnvironment(const std::map<std::string, std::string>& changes,
                                          bool empty_removes = false);

// True when two folders hold the same files (diff -r).
bool SameTree(const std::string& a, const std::string& b);

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env = {},
                         const std::string& input = std::string());

}  // namespace gp::test
