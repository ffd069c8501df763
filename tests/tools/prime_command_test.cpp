// kelctl prime: usage, the closed gate, and (with a stand-in self-test that
// opens it) generation and verdicts, including the small primes the
// toolkit's own test reports composite.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "kelctl_test_util.h"

namespace {

using kel::test::Kelctl;
using kel::test::Shell;

TEST(KelctlPrime, BadUsageAndClosedGate) {
  for (const char *args : {"prime", "prime --bits 8", "prime --bits 16385", "prime --bits 12x", "prime --test",
                           "prime --bogus 5"}) {
    const auto r = Kelctl(args);
    EXPECT_EQ(r.exitCode, 2) << args << ": " << r.out;
    EXPECT_NE(r.out.find("usage: kelctl prime"), std::string::npos) << args;
  }
  const auto r = Kelctl("prime --bits 64");
  if (r.exitCode != 0) {
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("self-test has not passed (status -16508)"), std::string::npos) << r.out;
  }
}

TEST(KelctlPrime, GeneratesAndTestsOnceTheGateIsOpen) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("kelctl_prime_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "selftest.c") << "#include <stdint.h>\n"
                                       "extern int32_t gFIPS_powerupStatus;\n"
                                       "int32_t FIPS_powerupSelfTest(void) { gFIPS_powerupStatus = 0; return 0; }\n";
  const std::string so = dir / "selftest.so";
  if (std::system(("cc -shared -fPIC -o '" + so + "' '" + (dir / "selftest.c").string() + "' 2>/dev/null").c_str()))
    GTEST_SKIP() << "no C compiler for the stand-in self-test";
  const std::string env = "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD='" + so + "' ";
  auto r = Shell(env + kel::test::kKelctl + " prime --test 7 251 12 0x101 323 5777 65537 4294967297 "
                                           "170141183460469231731687303715884105727 "
                                           "0x1ffffffffffffffffffffffffffffffffffffffffffffffffffff zz");
  EXPECT_EQ(r.exitCode, 2) << r.out;  // "zz" is not a number; the others are answered
  for (const char *line : {"7: prime\n", "251: prime\n", "12: composite\n", "0x101: prime\n", "323: composite\n",
                           "5777: composite\n", "65537: probable prime\n", "4294967297: composite\n",
                           "170141183460469231731687303715884105727: probable prime\n",
                           "0x1ffffffffffffffffffffffffffffffffffffffffffffffffffff: composite\n"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
  r = Shell(env + kel::test::kKelctl + " prime --bits 200");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("bits:    200\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("decimal: "), std::string::npos) << r.out;
  std::filesystem::remove_all(dir);
}

}  // namespace
