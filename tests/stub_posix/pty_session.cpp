#include "pty_session.h"

#include "run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace gp::test {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

constexpr char kEscape = '\x1b';

// Length of the escape sequence at text[at] (which is ESC), or 0 when it is cut off at the end.
size_t EscapeLength(const std::string& text, size_t at) {
  if (at + 1 >= text.size()) return 0;
  const char kind = text[at + 1];
  if (kind == '[') {  // CSI: parameters and intermediates up to a final byte 0x40..0x7E
    for (size_t i = at + 2; i < text.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      if (c >= 0x40 && c <= 0x7E) return i - at + 1;
    }
    return 0;
  }
  if (kind == ']') {  // OSC: up to BEL or ESC backslash
    for (size_t i = at + 2; i < text.size(); ++i) {
      if (text[i] == '\a') return i - at + 1;
      if (text[i] == kEscape && i + 1 < text.size() && text[i + 1] == '\\') return i - at + 2;
    }
    return 0;
  }
  return 2;  // a two-byte sequence
}

}  // namespace

PtySession::~PtySession() {
  Kill();
  if (master_ >= 0) close(master_);
}

bool PtySession::Start(const std::vector<std::string>& argv,
                       const std::map<std::string, std::string>& env,
                       const std::string& working_dir) {
  if (argv.empty() || master_ >= 0) return false;
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return false;
  char slave_name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
      ptsname_r(master_, slave_name, sizeof(slave_name)) != 0) {
    return false;
  }
  winsize size{};
  size.ws_row = 24;
  size.ws_col = 80;
  ioctl(master_, TIOCSWINSZ, &size);

  // Everything the child needs is made before the fork: after it, only system calls.
  std::vector<std::string> env_strings = ChildEnvironment(env, /*empty_removes=*/true);
  std::vector<char*> envp;
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (auto& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);

  child_ = fork();
  if (child_ < 0) return false;
  if (child_ == 0) {
    // A new session whose controlling terminal is the pseudo-terminal.
    if (setsid() < 0) _exit(126);
    const int slave = open(slave_name, O_RDWR);
    if (slave < 0) _exit(126);
    ioctl(slave, TIOCSCTTY, 0);
    if (dup2(slave, 0) < 0 || dup2(slave, 1) < 0 || dup2(slave, 2) < 0) _exit(126);
    // No descriptor of the test (the master, files it holds open) reaches the program.
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    if (chdir(working_dir.c_str()) != 0) _exit(126);
    execve(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  return true;
}

void PtySession::Append(const char* data, size_t size) {
  raw_pending_.append(data, size);
  size_t i = 0;
  while (i < raw_pending_.size()) {
    const char c = raw_pending_[i];
    if (c == kEscape) {
      const size_t length = EscapeLength(raw_pending_, i);
      if (length == 0) break;  // the rest comes with the next read
      i += length;
    } else {
      if (c != '\r') screen_.push_back(c);
      ++i;
    }
  }
  raw_pending_.erase(0, i);
}

bool PtySession::Pump(int limit_ms) {
  if (master_ < 0) return false;
  pollfd fd{master_, POLLIN, 0};
  const int ready = poll(&fd, 1, limit_ms);
  if (ready < 0) return errno == EINTR;
  if (ready == 0) return true;
  char buffer[4096];
  const ssize_t n = read(master_, buffer, sizeof(buffer));
  if (n > 0) {
    Append(buffer, static_cast<size_t>(n));
    return true;
  }
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  // EIO: every descriptor of the terminal's other side is closed.
  close(master_);
  master_ = -1;
  return false;
}

int PtySession::MatchEarliest(const std::vector<std::string>& texts) {
  int best = -1;
  size_t best_at = std::string::npos;
  for (size_t i = 0; i < texts.size(); ++i) {
    const size_t at = screen_.find(texts[i], matched_);
    if (at < best_at) {
      best = static_cast<int>(i);
      best_at = at;
    }
  }
  if (best >= 0) matched_ = best_at + texts[static_cast<size_t>(best)].size();
  return best;
}

int PtySession::WaitForAny(const std::vector<std::string>& texts, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    const int found = MatchEarliest(texts);
    if (found >= 0) return found;
    const int left = MillisecondsLeft(deadline);
    if (left == 0 || !Pump(left)) return MatchEarliest(texts);
  }
}

bool PtySession::WaitFor(const std::string& text, std::chrono::milliseconds limit) {
  return WaitForAny({text}, limit) == 0;
}

void PtySession::Type(const std::string& keys) {
  size_t done = 0;
  while (master_ >= 0 && done < keys.size()) {
    const ssize_t n = write(master_, keys.data() + done, keys.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    done += static_cast<size_t>(n);
  }
}

int PtySession::WaitExit(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (master_ >= 0 && MillisecondsLeft(deadline) > 0) Pump(MillisecondsLeft(deadline));
  while (child_ > 0) {
    int status = 0;
    const pid_t done = waitpid(child_, &status, WNOHANG);
    if (done == child_) {
      child_ = -1;
      exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (done < 0 && errno != EINTR) {
      child_ = -1;
      break;
    }
    if (MillisecondsLeft(deadline) == 0) {
      Kill();
      return -1;
    }
    usleep(10000);
  }
  return exit_code_;
}

void PtySession::Kill() {
  if (child_ <= 0) return;
  kill(child_, SIGKILL);
  int status = 0;
  while (waitpid(child_, &status, 0) < 0 && errno == EINTR) {
  }
  child_ = -1;
  exit_code_ = -1;
}

}  // namespace gp::test
