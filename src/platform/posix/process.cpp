// The process: command line, environment, standard streams, the message loop and the restart
// request, which on this system is reported and recorded, never carried out.
#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_internal.h"

namespace gp::platform {
namespace posix {

bool ReadLineFrom(std::FILE* stream, std::string* line) {
  line->clear();
  bool any = false;
  for (;;) {
    const int c = std::fgetc(stream);
    if (c == EOF) break;
    any = true;
    if (c == '\n') break;
    line->push_back(static_cast<char>(c));
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return any;
}

}  // namespace posix

namespace {

void WriteAll(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace

std::string CommandLineArgument(int argc, char** argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == nullptr) break;
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

bool ProcessExists(uint32_t id) {
  // Ids that kill() would read as a process group are never reported gone.
  if (id == 0 || id > 0x7FFFFFFFu) return true;
  return kill(static_cast<pid_t>(id), 0) == 0 || errno != ESRCH;
}

void* InstanceHandle() {
  static int instance = 0;
  return &instance;
}

std::string GetEnvironment(const char* name) {
  if (name == nullptr) return std::string();
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }
bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void WriteStderr(std::string_view utf8) { WriteAll(stderr, utf8); }
void WriteStdout(std::string_view utf8) { WriteAll(stdout, utf8); }

bool ReadStdinLine(std::string* line) { return posix::ReadLineFrom(stdin, line); }

void DispatchPendingMessages() {}

int PostQuitAndRunMessageLoop(int code) { return code; }

void RestartWindows() {
  WriteStderr("genpatch: a restart of Windows was requested; nothing is restarted on this system.\n");
  posix::State().restart_requested = true;
}

bool RestartRequested() { return posix::State().restart_requested; }

}  // namespace gp::platform
