// kelctl random: argument handling, and the plain refusal while the
// power-up self-test has not passed (the tool never opens the gate itself).
#include <gtest/gtest.h>

#include <algorithm>

#include "kelctl_test_util.h"

namespace {

using kel::test::Kelctl;

TEST(KelctlRandom, ReportsTheClosedGate) {
  for (const char *args : {"random 16", "random --generator fips186 1", "random -g ctr-drbg 1048576"}) {
    const auto r = Kelctl(args);
    EXPECT_EQ(r.exitCode, 1) << args;
    EXPECT_NE(r.out.find("power-up self-test has not run (status -16508)"), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << "only the explanation: " << r.out;
  }
}

TEST(KelctlRandom, BadUsage) {
  for (const char *args : {"random", "random 0", "random 1048577", "random 12x", "random --generator md5 4",
                           "random 4 5", "random --generator"}) {
    const auto r = Kelctl(args);
    EXPECT_EQ(r.exitCode, 2) << args;
    EXPECT_NE(r.out.find("usage: kelctl random"), std::string::npos) << args << ": " << r.out;
  }
}

}  // namespace
