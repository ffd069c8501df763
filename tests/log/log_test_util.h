// Shared helpers for the log engine tests: fresh processes (the engine is one
// per process), temporary directories, and the line format.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace kel::test {

// Runs fn in a child process of its own, so each engine lifecycle starts from
// an untouched record.
inline void InFreshProcess(const std::function<void()> &fn) { EXPECT_EQ(RunInChild(fn), 0); }

// A new empty directory under /tmp, removed when the object goes.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/kel-log-XXXXXX";
    path_ = mkdtemp(pattern) ? pattern : "";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Splits at line feeds; each piece keeps everything before its '\n' (so a
// "\r\n" line keeps its '\r'). Text after the last '\n' is a piece too.
inline std::vector<std::string> SplitLines(const std::string &text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
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

inline long FileSize(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

}  // namespace kel::test
