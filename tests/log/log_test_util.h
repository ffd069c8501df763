// The log tests' line format helpers; the engine is one per process, so
// every lifecycle runs in a child of its own.
#pragma once

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "kel/generic.h"
#include "kel/log.h"
#include "log/log_engine.h"
#include "support/sandbox.h"

namespace kel::test {

// Time stamps ("%b %d %T" in the C locale plus ".mmm") as STAMP, the library's
// own line numbers as N, dir as DIR.
inline std::string Scrub(std::string text, const std::string &dir = "") {
  for (size_t at; !dir.empty() && (at = text.find(dir)) != std::string::npos;) text.replace(at, dir.size(), "DIR");
  text = std::regex_replace(text, std::regex(R"([A-Z][a-z]{2} [0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9]\.[0-9]{3})"), "STAMP");
  return std::regex_replace(text, std::regex(":(log|generic|archive|status):[0-9]+\\]"), ":$1:N]");
}

inline mode_t ModeOf(const std::string &path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

inline std::string MessageOf(const std::string &line) {
  size_t at = line.find("] ");
  return at == std::string::npos ? std::string() : line.substr(at + 2);
}

inline int WithLogEngine(uint32_t app, const std::string &logDir, const std::function<void()> &fn) {
  return RunInChild([&] {
    ASSERT_EQ(LOG_init(app, nullptr, logDir.c_str()), 0u);
    fn();
    LOG_deinit();
  });
}

inline std::string KelLog(const std::string &logDir) { return ReadFile(logDir + "/app-kel.log"); }

inline void ExpectAll(const std::string &text, const std::vector<std::string> &needles) {
  for (const auto &n : needles) EXPECT_NE(text.find(n), std::string::npos) << n << "\nin\n" << text;
}

}  // namespace kel::test
