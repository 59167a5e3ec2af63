#include "run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace gp::test {

std::vector<std::string> ChildEnvironment(const std::map<std::string, std::string>& changes,
                                          bool empty_removes) {
  std::map<std::string, std::string> merged;
  for (char** e = environ; *e != nullptr; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq) merged[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
  }
  for (const auto& [k, v] : changes) {
    if (empty_removes && v.empty()) {
      merged.erase(k);
    } else {
      merged[k] = v;
    }
  }
  std::vector<std::string> entries;
  for (const auto& [k, v] : merged) entries.push_back(k + "=" + v);
  return entries;
}

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env,
                         const std::string& input) {
  ProcessResult result;
  int in_pipe[2], out_pipe[2], err_pipe[2];
  // Close-on-exec: a program started at the same time from another thread gets none of them.
  if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0 ||
      pipe2(err_pipe, O_CLOEXEC) != 0) {
    return result;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  // Nothing else this process has open reaches the child: files that another thread is
  // copying or comparing at that moment would otherwise stay open in the child and make the
  // program under test see its own files as in use.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  std::vector<std::string> env_strings = ChildEnvironment(env);
  std::vector<char*> envp;
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (auto& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);

  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (rc != 0) {
    close(in_pipe[1]);
    close(out_pipe[0]);
    close(err_pipe[0]);
    return result;
  }
  if (!input.empty()) {
    ssize_t ignored = write(in_pipe[1], input.data(), input.size());
    (void)ignored;
  }
  close(in_pipe[1]);

  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  while (open_count > 0) {
    if (poll(fds, 2, 60000) <= 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      } else {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      }
    }
  }
  for (auto& f : fds) {
    if (f.fd >= 0) close(f.fd);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

bool SameTree(const std::string& a, const std::string& b) {
  return RunProcess({"/usr/bin/diff", "-r", a, b}).exit_code == 0;
}

}  // namespace gp::test
