// kelctl log, run as its users run it: the built binary, its output, its
// exit codes, and the log file it reports.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "log/log_test_util.h"

namespace {

using namespace kel::test;

// Checks the reported "log file: PATH (N bytes, ...)" against the file itself
// and returns its content.
std::string ReportedFile(const Outcome &r, const std::string &expectedPath) {
  std::smatch m;
  EXPECT_TRUE(std::regex_search(r.out, m, std::regex(R"(log file: (.*) \(([0-9]+) bytes, ([0-9]+) written now\))")))
      << r.out;
  if (m.empty()) return "";
  EXPECT_EQ(m[1].str(), expectedPath);
  EXPECT_EQ(std::stol(m[2].str()), long(std::filesystem::file_size(expectedPath)));
  return ReadFile(expectedPath);
}

TEST(KelctlLog, WritesEverySeverityADumpAndToolkitTextToTheReportedFileOrFails) {
  TempDir tmp;
  const std::string dir = tmp / "new dir/logs";
  Outcome r = Kelctl("log --app 0 --dir '" + dir + "'");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  std::string content = ReportedFile(r, dir + "/app-kel.log");
  for (const std::string severity : {"ERROR", "WARN", "INFO", "DEBUG", "TRACE"})  // the line format: the log tests
    EXPECT_NE(content.find(" [KEL " + severity + " WriteSamples():log_command:"), std::string::npos) << severity;
  EXPECT_NE(content.find(" [KEL DEBUG LOG_from_vorane():log:"), std::string::npos) << "toolkit text through the bridge";
  EXPECT_NE(content.find("] ====DUMP START (20) ===\n"), std::string::npos);

  // A second run appends and reports the new size.
  Outcome again = Kelctl("log --dir='" + dir + "' --stdout");
  ASSERT_EQ(again.exitCode, 0) << again.out;
  EXPECT_EQ(ReportedFile(again, dir + "/app-kel.log").size(), 2 * content.size());
  EXPECT_NE(again.out.find("kelctl sample line at severity TRACE"), std::string::npos);  // --stdout

  // A directory that cannot be made: the engine says why, nothing is written.
  ASSERT_TRUE(WriteFile(tmp / "file", "x"));
  r = Kelctl("log --dir " + tmp / "file/logs");
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find("LOG ERROR [LOG_create_path():log:"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("no line reached the log file"), std::string::npos) << r.out;
}

}  // namespace
