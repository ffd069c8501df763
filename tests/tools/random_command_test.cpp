// kelctl random: bytes from each generator behind the self-test kelctl runs
// at start (usage errors: kelctl_args_test).
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

}  // namespace
