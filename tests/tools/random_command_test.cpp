// kelctl random: argument handling, and bytes from each generator behind the
// self-test kelctl runs at start.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/sandbox.h"

namespace {

using kel::test::Kelctl;

// kelctl runs the power-up self-test at start, so both generators answer.
TEST(KelctlRandom, AnswersOnceTheSelfTestHasRun) {
  for (auto [args, hexDigits] : {std::pair{"random 16", 32}, {"random --generator fips186 1", 2}}) {
    const auto r = Kelctl(args);
    EXPECT_EQ(r.exitCode, 0) << args << ": " << r.out;
    EXPECT_EQ(r.out.size(), static_cast<size_t>(hexDigits) + 1) << r.out;
    EXPECT_EQ(r.out.find_first_not_of("0123456789abcdef\n"), std::string::npos) << r.out;
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
