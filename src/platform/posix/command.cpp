// What the genpatch command takes from its process on Linux.
#include "platform/command.h"

#include <unistd.h>

namespace gp::platform {

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) args.emplace_back(argv[i]);
  return args;
}

std::string OwnFileHostPath() {
  std::string host(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", host.data(), host.size());
  if (length <= 0 || static_cast<size_t>(length) >= host.size()) return std::string();
  host.resize(static_cast<size_t>(length));
  return host;
}

}  // namespace gp::platform
