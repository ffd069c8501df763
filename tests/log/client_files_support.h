// Helpers for the file-utility and archive tests: scratch directories and a
// forked child with its own log engine (one engine per process).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#if defined(KEL_SANITIZED) && defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define KEL_TEST_LEAK_CHECK 1
#endif

#include "kel/log.h"
#include "support/sandbox.h"

namespace kel::test {

// A fresh directory under base, removed with everything in it at scope end.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string &base = "/tmp") {
    std::string tmpl = base + "/kel-files-XXXXXX";
    path_ = mkdtemp(tmpl.data()) != nullptr ? tmpl : std::string();
    EXPECT_FALSE(path_.empty()) << "mkdtemp under " << base;
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A forked child leaves with _exit, past the leak checker: ask it here.
inline void ExpectNoLeaks() {
#ifdef KEL_TEST_LEAK_CHECK
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "memory leaked in the child (report above)";
#endif
}

// Runs fn in a child whose log engine writes application app's log into
// logDir; returns the child's status (0: no failure).
inline int WithLogEngine(uint32_t app, const std::string &logDir, const std::function<void()> &fn) {
  return RunInChild([&] {
    ASSERT_EQ(LOG_init(app, nullptr, logDir.c_str()), 0u);
    fn();
    LOG_deinit();
    ExpectNoLeaks();
  });
}

// Runs a program found through PATH with these arguments (no shell) and
// returns its standard output; *status receives its exit status.
inline std::string RunProgram(const std::vector<std::string> &argv, int *status = nullptr) {
  std::vector<char *> args;
  for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string out;
  char buf[4096];
  for (ssize_t n; rc == 0 && (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int st = -1;
  if (rc == 0) waitpid(pid, &st, 0);
  if (status != nullptr) *status = rc == 0 && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return out;
}

// The lines of text, without their line feeds.
inline std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t nl = text.find('\n', at);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(at, nl - at));
    at = nl + 1;
  }
  return lines;
}

inline std::string KelLog(const std::string &logDir) { return ReadFile(logDir + "/app-kel.log"); }

}  // namespace kel::test
