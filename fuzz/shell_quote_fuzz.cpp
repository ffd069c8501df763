// Shell quoting, executed: the words of the input (split at zero bytes) are
// quoted into one command line that /bin/sh runs as printf '%s\0' WORDS; what
// printf prints must be the words byte for byte.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "log/shell_quote.h"

using kel::fuzz::check;

namespace {

// Runs /bin/sh -c command in the C locale and returns its standard output.
std::string RunShell(const char *command) {
  int fds[2];
  check(pipe2(fds, O_CLOEXEC) == 0, "pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  const char *argv[] = {"/bin/sh", "-c", command, nullptr};
  const char *env[] = {"LC_ALL=C", "PATH=/usr/bin:/bin", nullptr};
  pid_t pid = -1;
  check(posix_spawn(&pid, "/bin/sh", &actions, nullptr, const_cast<char *const *>(argv),
                    const_cast<char *const *>(env)) == 0,
        "spawn /bin/sh");
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string out;
  char buf[4096];
  // libFuzzer's timer (SIGALRM) interrupts reads and waits: go on after it.
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) != 0;) {
    if (n > 0) out.append(buf, static_cast<size_t>(n));
    else check(errno == EINTR, "read the shell's output");
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) check(errno == EINTR, "wait for the shell");
  check(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the shell ran the line");
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 2048) return 0;  // one shell run per input: keep them short
  std::vector<std::string> words;
  std::string expected;
  const std::string text(reinterpret_cast<const char *>(data), size);
  for (size_t at = 0; at <= text.size();) {
    size_t end = text.find('\0', at);
    if (end == std::string::npos) end = text.size();
    words.push_back(text.substr(at, end - at));
    expected += words.back() + '\0';
    at = end + 1;
  }
  std::vector<const char *> args;
  size_t quoted = 0;
  for (const auto &w : words) {
    args.push_back(w.c_str());
    quoted += kel::log::shell_quoted_length(w.c_str());
  }
  char *command = kel::log::shell_command("printf '%s\\0'", args.data(), args.size());
  check(command != nullptr, "command built");
  check(std::string(command).size() == std::string("printf '%s\\0'").size() + words.size() + quoted,
        "command length as announced");
  check(RunShell(command) == expected, "the shell sees the words unchanged");
  std::free(command);
  return 0;
}
