// The package program: the update package's fixed program image.
#include <memory>
#include <string>

#include "app/program.h"
#include "platform/platform.h"
#include "ui/host.h"

int main(int argc, char** argv) {
  const std::string argument = gp::platform::CommandLineArgument(argc, argv);
  const std::unique_ptr<gp::ui::Host> host = gp::ui::NewDefaultHost();
  if (!host) return 1;
  return gp::ProgramEntry(*host, gp::platform::InstanceHandle(), argument.c_str());
}
