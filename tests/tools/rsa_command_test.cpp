// kelctl rsa: the closed gate and bad usage, then the whole flow (key pair,
// public part, sign and verify, encrypt and decrypt) behind the self-test
// kelctl runs at start.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "support/sandbox.h"

namespace {

using kel::test::Kelctl;
using kel::test::Shell;

TEST(KelctlRsa, MissingKeyAndBadUsage) {
  // kelctl runs the power-up self-test at start: the key file is the problem.
  const auto r = Kelctl("rsa pubkey --key /nonexistent");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("cannot load the key file"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("-16508"), std::string::npos) << r.out;
  EXPECT_EQ(Kelctl("rsa verify --key k --in m").exitCode, 2);  // no signature
}

TEST(KelctlRsa, KeySignVerifyEncryptDecrypt) {
  kel::test::TempDir dir;
  const std::string d = dir.path();
  const std::string k = kel::test::kKelctl + " rsa ";
  ASSERT_EQ(Shell("printf 'a short secret' > " + d + "/secret").exitCode, 0);
  const std::string key = " --key " + d + "/key", pub = " --key " + d + "/pub";
  const struct {
    std::string args;
    int exit;
    const char *says;
  } steps[] = {
      {"genkey --bits 1024" + key, 0, "1024-bit key pair"},
      {"pubkey" + key + " --out " + d + "/pub", 0, "exponent: 010001"},
      {"sign" + key + " --in " + d + "/key --out " + d + "/sig", 0, "128-byte signature"},
      {"verify" + pub + " --in " + d + "/key --sig " + d + "/sig", 0, "signature OK"},
      {"verify" + pub + " --in " + d + "/pub --sig " + d + "/sig", 1, "signature BAD"},
      {"sign" + pub + " --in " + d + "/key --out " + d + "/x", 1, "status -7708"},
      {"encrypt" + pub + " --in " + d + "/sig --out " + d + "/x", 1, "secret too long"},
      {"encrypt" + pub + " --in " + d + "/secret --out " + d + "/enc", 0, "encrypted 14 bytes"},
      {"decrypt" + pub + " --in " + d + "/enc --out " + d + "/dec", 1, "status -7701"},
      {"decrypt" + key + " --in " + d + "/enc --out " + d + "/dec", 0, "decrypted"},
  };
  for (const auto &s : steps) {
    const auto r = Shell(k + s.args);
    EXPECT_EQ(r.exitCode, s.exit) << s.args << ": " << r.out;
    EXPECT_NE(r.out.find(s.says), std::string::npos) << s.args << ": " << r.out;
  }
  EXPECT_EQ(Shell("cmp " + d + "/secret " + d + "/dec").exitCode, 0);
}

}  // namespace
