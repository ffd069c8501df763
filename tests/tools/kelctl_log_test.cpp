// kelctl log, run as its users run it: the built binary, its output, its
// exit codes, and the log file it reports.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace {

using kel::test::ReadFile;

const std::string kKelctl = KEL_BINARY_DIR "/tools/kelctl";

struct Outcome {
  int exitCode;
  std::string out;  // standard output and standard error together
};

Outcome Kelctl(const std::string &args) {
  Outcome r{-1, ""};
  if (FILE *p = popen((kKelctl + " " + args + " 2>&1").c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    int status = pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return r;
}

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/kelctl-log-XXXXXX";
    path_ = mkdtemp(pattern) ? pattern : "";
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    out.push_back(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  return out;
}

// Checks the reported "log file: PATH (N bytes, ...)" against the file itself
// and returns its content.
std::string ReportedFile(const Outcome &r, const std::string &expectedPath) {
  std::smatch m;
  EXPECT_TRUE(std::regex_search(r.out, m, std::regex(R"(log file: (.*) \(([0-9]+) bytes, ([0-9]+) written now\))")))
      << r.out;
  if (m.empty()) return "";
  EXPECT_EQ(m[1].str(), expectedPath);
  struct stat st;
  EXPECT_EQ(stat(expectedPath.c_str(), &st), 0);
  EXPECT_EQ(std::stol(m[2].str()), static_cast<long>(st.st_size));
  return ReadFile(expectedPath);
}

TEST(KelctlLog, WritesEverySeverityADumpAndToolkitTextToTheReportedFile) {
  TempDir tmp;
  const std::string dir = tmp.path() + "/new dir/logs";
  Outcome r = Kelctl("log --app 0 --dir '" + dir + "'");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  std::string content = ReportedFile(r, dir + "/app-kel.log");
  const std::regex header(
      R"(^[A-Z][a-z]{2} [0-3][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} \[KEL (ERROR|WARN|INFO|DEBUG|TRACE) [A-Za-z_]+\(\):[a-z_]+:[0-9]+\] [^\n]*$)");
  std::vector<std::string> lines = Lines(content);
  ASSERT_GE(lines.size(), 10u);
  std::string severities;
  size_t bridged = 0;
  for (const auto &line : lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, header)) << line;
    if (severities.find(m[1].str()) == std::string::npos) severities += m[1].str() + " ";
    if (line.find(" LOG_from_vorane():log:") != std::string::npos) ++bridged;
  }
  EXPECT_EQ(severities, "ERROR WARN INFO DEBUG TRACE ");
  EXPECT_GE(bridged, 2u);
  EXPECT_NE(content.find("] ====DUMP START (20) ===\n"), std::string::npos);
  EXPECT_NE(content.find("] ==== DUMP END ===\n"), std::string::npos);

  // A second run appends and reports the new size.
  Outcome again = Kelctl("log --dir='" + dir + "' --stdout");
  ASSERT_EQ(again.exitCode, 0) << again.out;
  std::string both = ReportedFile(again, dir + "/app-kel.log");
  EXPECT_EQ(both.size(), 2 * content.size());
  EXPECT_NE(again.out.find("kelctl sample line at severity TRACE"), std::string::npos);  // --stdout
}

TEST_F(SandboxTest, KelctlLogForThePluginUsesTheFixedDirectory) {
  Outcome r = Kelctl("log --app 4 --dir /home/ignored");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  std::string content = ReportedFile(r, "/usr/share/kel/logs//app-vpn-plugin.log");
  EXPECT_NE(content.find(" [VPN_PLUGIN ERROR "), std::string::npos);
  EXPECT_FALSE(kel::test::Exists("/home/ignored"));
}

TEST(KelctlLog, HelpUsageErrorsAndFailures) {
  Outcome help = Kelctl("log --help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("usage: kelctl log [--app N] [--dir DIR] [--stdout]"), std::string::npos) << help.out;
  for (const char *bad : {"log --app 6", "log --app -1", "log --app x", "log --app", "log --dir", "log --bogus"}) {
    Outcome r = Kelctl(bad);
    EXPECT_EQ(r.exitCode, 2) << bad << "\n" << r.out;
  }
  // A directory that cannot be made: the engine says why, nothing is written.
  TempDir tmp;
  ASSERT_TRUE(kel::test::WriteFile(tmp.path() + "/file", "x"));
  Outcome r = Kelctl("log --dir " + tmp.path() + "/file/logs");
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find("LOG ERROR [LOG_create_path():log:"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("no line reached the log file"), std::string::npos) << r.out;
}

}  // namespace
