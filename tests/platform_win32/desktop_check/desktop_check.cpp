// desktop_check: creates one window and destroys it. scripts/wine-prefix.sh runs it as the
// first program of a prepared prefix, to prove that programs there can create windows. Exit
// code 0 when they can; otherwise 1, with the reason on the error output.
#include <cstdio>

#include "support/desktop_win32.h"

int main() {
  const std::string& problem = gp::test::DesktopProblem();
  if (problem.empty()) return 0;
  std::fprintf(stderr, "%s\n", problem.c_str());
  return 1;
}
