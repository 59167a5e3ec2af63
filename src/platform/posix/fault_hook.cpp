// The fault hook's ending and trace on Linux: SIGKILL to itself, an appending write.
#include "platform/fault_hook.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>

namespace gp::platform::fault {

void EndProcessAbruptly() {
  raise(SIGKILL);
  std::_Exit(137);  // not reached
}

void AppendToTrace(const char* host_file, const char* text, unsigned size) {
  const int fd = open(host_file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  // One write per line: lines of one run never interleave with each other.
  if (write(fd, text, size) < 0) {
    // a trace that cannot be written is only missing; the run goes on as without it
  }
  close(fd);
}

}  // namespace gp::platform::fault
