// The package program: the update package's fixed program image.
#include <string>

#include "app/program.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  const std::string argument = gp::platform::CommandLineArgument(argc, argv);
  return gp::ProgramEntry(gp::platform::InstanceHandle(), argument.c_str());
}
