// The log tests' line format helpers; the engine is one per process, so
// every lifecycle runs in a child of its own.
#pragma once

#include <regex>
#include <string>
#include <vector>

#include "kel/log.h"
#include "support/sandbox.h"

namespace kel::test {

// "%b %d %T" in the C locale plus ".mmm".
inline const char *kStampPattern = R"([A-Z][a-z]{2} [0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9]\.[0-9]{3})";

// "<stamp> [APP SEVERITY function():file:line] " + message.
inline std::regex LinePattern(const std::string &app, const std::string &severity, const std::string &function,
                              const std::string &file, const std::string &message) {
  return std::regex(std::string("^") + kStampPattern + " \\[" + app + " " + severity + " " + function + "\\(\\):" +
                    file + ":[0-9]+\\] " + message + "$");
}

inline std::string MessageOf(const std::string &line) {
  size_t at = line.find("] ");
  return at == std::string::npos ? std::string() : line.substr(at + 2);
}

inline std::vector<std::string> Messages(const std::string &path) {
  std::vector<std::string> out;
  for (const auto &line : SplitLines(ReadFile(path))) out.push_back(MessageOf(line));
  return out;
}

// Runs fn in a child whose engine writes application app's log into logDir.
inline int WithLogEngine(uint32_t app, const std::string &logDir, const std::function<void()> &fn) {
  return RunInChild([&] {
    ASSERT_EQ(LOG_init(app, nullptr, logDir.c_str()), 0u);
    fn();
    LOG_deinit();
  });
}

inline std::string KelLog(const std::string &logDir) { return ReadFile(logDir + "/app-kel.log"); }

// Every needle is in the haystack.
inline void ExpectAll(const std::string &text, const std::vector<std::string> &needles) {
  for (const auto &n : needles) EXPECT_NE(text.find(n), std::string::npos) << n << "\nin\n" << text;
}

}  // namespace kel::test
