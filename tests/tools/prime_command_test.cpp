// kelctl prime (usage errors: kelctl_args_test): (behind the self-test kelctl runs) generation and
// verdicts, including the small primes the toolkit's own test reports
// composite.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/sandbox.h"

namespace {

using kel::test::Kelctl;
using kel::test::Shell;

TEST(KelctlPrime, GeneratesAndTestsOnceTheGateIsOpen) {
  auto r = Shell(kel::test::kKelctl + " prime --test 7 251 12 0x101 323 5777 65537 4294967297 "
                                           "170141183460469231731687303715884105727 "
                                           "0x1ffffffffffffffffffffffffffffffffffffffffffffffffffff zz");
  EXPECT_EQ(r.exitCode, 2) << r.out;  // "zz" is not a number; the others are answered
  for (const char *line : {"7: prime\n", "251: prime\n", "12: composite\n", "0x101: prime\n", "323: composite\n",
                           "5777: composite\n", "65537: probable prime\n", "4294967297: composite\n",
                           "170141183460469231731687303715884105727: probable prime\n",
                           "0x1ffffffffffffffffffffffffffffffffffffffffffffffffffff: composite\n"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
  r = Shell(kel::test::kKelctl + " prime --bits 200");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("bits:    200\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("decimal: "), std::string::npos) << r.out;
}

}  // namespace
