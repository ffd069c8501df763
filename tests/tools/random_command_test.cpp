// kelctl random: argument handling, and the plain refusal while the
// power-up self-test has not passed (the tool never opens the gate itself).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

struct ToolRun {
  int exitCode;
  std::string output;  // stdout and stderr
};

ToolRun Kelctl(const std::string &args) {
  const std::string cmd = std::string(KEL_BINARY_DIR) + "/tools/kelctl " + args + " 2>&1";
  FILE *p = popen(cmd.c_str(), "r");
  ToolRun r{-1, ""};
  if (p == nullptr) return r;
  char buf[256];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  const int status = pclose(p);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(KelctlRandom, ReportsTheClosedGate) {
  for (const char *args : {"random 16", "random --generator fips186 1", "random -g ctr-drbg 1048576"}) {
    const ToolRun r = Kelctl(args);
    EXPECT_EQ(r.exitCode, 1) << args;
    EXPECT_NE(r.output.find("power-up self-test has not run (status -16508)"), std::string::npos) << r.output;
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << "only the explanation: " << r.output;
  }
}

TEST(KelctlRandom, BadUsage) {
  for (const char *args : {"random", "random 0", "random 1048577", "random -5", "random 12x", "random --generator md5 4",
                           "random 4 5", "random --generator"}) {
    const ToolRun r = Kelctl(args);
    EXPECT_EQ(r.exitCode, 2) << args;
    EXPECT_NE(r.output.find("usage: kelctl random"), std::string::npos) << args << ": " << r.output;
  }
  const ToolRun help = Kelctl("--help");
  EXPECT_NE(help.output.find("random [--generator ctr-drbg|fips186] N"), std::string::npos);
}

}  // namespace
