// Shared helpers for the log and client-file tests: fresh processes (the
// engine is one per process), temporary directories, programs, and the line
// format.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#if defined(KEL_SANITIZED) && defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define KEL_TEST_LEAK_CHECK 1
#endif

#include "kel/log.h"
#include "support/sandbox.h"

namespace kel::test {

// Runs fn in a child process of its own, so each engine lifecycle starts from
// an untouched record.
inline void InFreshProcess(const std::function<void()> &fn) { EXPECT_EQ(RunInChild(fn), 0); }

// A new empty directory under base, removed with everything in it at scope end.
class TempDir {
 public:
  explicit TempDir(const std::string &base = "/tmp") {
    std::string pattern = base + "/kel-log-XXXXXX";
    path_ = mkdtemp(pattern.data()) != nullptr ? pattern : "";
    EXPECT_FALSE(path_.empty()) << "mkdtemp under " << base;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Splits at line feeds; each piece keeps everything before its '\n' (so a
// "\r\n" line keeps its '\r'). Text after the last '\n' is a piece too.
inline std::vector<std::string> SplitLines(const std::string &text) {
  std::vector<std::string> lines;
  for (size_t pos = 0; pos < text.size();) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  return lines;
}

// The time stamp: "%b %d %T" in the C locale plus ".mmm".
inline const char *kStampPattern = R"([A-Z][a-z]{2} [0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9]\.[0-9]{3})";

// Matches "<stamp> [APP SEVERITY function():file:line] " + message.
inline std::regex LinePattern(const std::string &app, const std::string &severity, const std::string &function,
                              const std::string &file, const std::string &messagePattern) {
  return std::regex(std::string("^") + kStampPattern + " \\[" + app + " " + severity + " " + function + "\\(\\):" +
                    file + ":[0-9]+\\] " + messagePattern + "$");
}

// The message part of a line: everything after the header's "] ".
inline std::string MessageOf(const std::string &line) {
  size_t at = line.find("] ");
  return at == std::string::npos ? std::string() : line.substr(at + 2);
}

// The messages of every line of a file.
inline std::vector<std::string> Messages(const std::string &path) {
  std::vector<std::string> out;
  for (const auto &line : SplitLines(ReadFile(path))) out.push_back(MessageOf(line));
  return out;
}

inline long FileSize(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

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

inline std::string KelLog(const std::string &logDir) { return ReadFile(logDir + "/app-kel.log"); }

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

}  // namespace kel::test
