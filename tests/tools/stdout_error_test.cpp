// Every kelctl command that writes to standard output fails (exit 1, with a
// word on standard error) when that output cannot be written.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "support/sandbox.h"

namespace {

using kel::test::Shell;
using kel::test::kKelctl;

TEST(KelctlOutput, WriteErrorsOnStandardOutputFailEveryCommand) {
  kel::test::TempDir tmp;
  const std::string dir = tmp.path();
  ASSERT_EQ(std::system(("echo data > " + dir + "/file").c_str()), 0);
  for (const std::string &args : std::vector<std::string>{"--help", "help", "digest --algo md5 " + dir + "/file", "speed",
                                 "log --dir " + dir + "/logs --stdout", "archive " + dir + "/out --log-dir " + dir})
    for (const char *to : {"/dev/full", "/dev/null"}) {
      // One archive a second: each run gets a directory of its own.
      ASSERT_EQ(std::system(("rm -rf " + dir + "/out && mkdir " + dir + "/out").c_str()), 0);
      // Only the command's standard output goes there; its error text is kept.
      const auto r = Shell("{ " + kKelctl + " " + args + " >" + to + "; }");
      const bool full = std::string(to) == "/dev/full";
      EXPECT_EQ(r.exitCode, full ? 1 : 0) << args << " > " << to << ": " << r.out;
      EXPECT_EQ(r.out.find("kelctl: cannot write standard output: No space left on device") != std::string::npos, full)
          << args << ": " << r.out;
    }
}

}  // namespace
