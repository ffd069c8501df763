// kelctl ec: refused behind a closed gate; with the gate open (in this
// process) keys round-trip through raw files and hex, signatures verify and
// altered files do not, and both sides of an exchange derive one secret.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kel/fips.h"
#include "support/sandbox.h"

#include "tools/kelctl/commands.h"

namespace {

namespace fs = std::filesystem;

class EcCommand : public ::testing::Test {
 protected:
  void SetUp() override { gFIPS_powerupStatus = 0; }  // the self-test is not part of this test
  void TearDown() override { gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN; }
  std::string Path(const std::string &name) { return dir_ / name; }
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "ec");
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    return kelctl::RunEc(static_cast<int>(argv.size()), argv.data());
  }
  std::string Hex(const std::string &file) {
    std::string h;
    char b[3];
    for (unsigned char c : kel::test::ReadFile(Path(file))) h += (std::snprintf(b, 3, "%02x", c), b);
    return h;
  }
  kel::test::TempDir dir_;
};

TEST_F(EcCommand, SignVerifyAndDeriveOnBothCurves) {
  ASSERT_TRUE(kel::test::WriteFile(Path("msg"), "the message to sign\n"));
  for (const char *curve : {"p256", "p384"}) {
    SCOPED_TRACE(curve);
    const size_t len = std::string(curve) == "p256" ? 32 : 48;
    ASSERT_EQ(Run({"genkey", "--curve", curve, "--out", Path("a")}), 0);
    ASSERT_EQ(Run({"genkey", "--curve", curve, "--out", Path("b")}), 0);
    EXPECT_EQ(kel::test::ReadFile(Path("a.key")).size(), len);
    EXPECT_EQ(kel::test::ReadFile(Path("a.pub")).size(), 2 * len + 1);
    // raw key in, raw signature out; hex public key and signature back in
    ASSERT_EQ(Run({"sign", "--curve", curve, "--key", "@" + Path("a.key"), "--out", Path("sig"), Path("msg")}), 0);
    EXPECT_EQ(kel::test::ReadFile(Path("sig")).size(), 2 * len);
    EXPECT_EQ(Run({"verify", "--curve", curve, "--pub", Hex("a.pub"), "--sig", Hex("sig"), Path("msg")}), 0);
    EXPECT_EQ(Run({"verify", "--curve", curve, "--pub", "@" + Path("b.pub"), "--sig", "@" + Path("sig"), Path("msg")}),
              1);
    EXPECT_EQ(Run({"verify", "--curve", curve, "--hash", "sha512", "--pub", "@" + Path("a.pub"), "--sig",
                   "@" + Path("sig"), Path("msg")}), 1);
    ASSERT_TRUE(kel::test::WriteFile(Path("msg2"), "the message to sign!\n"));
    EXPECT_EQ(Run({"verify", "--curve", curve, "--pub", "@" + Path("a.pub"), "--sig", "@" + Path("sig"), Path("msg2")}),
              1);
    ASSERT_EQ(Run({"derive", "--curve", curve, "--key", "@" + Path("a.key"), "--peer", "@" + Path("b.pub"), "--out",
                   Path("ab")}), 0);
    ASSERT_EQ(Run({"derive", "--curve", curve, "--key", Hex("b.key"), "--peer", Hex("a.pub"), "--out", Path("ba")}), 0);
    EXPECT_EQ(kel::test::ReadFile(Path("ab")).size(), len);
    EXPECT_EQ(kel::test::ReadFile(Path("ab")), kel::test::ReadFile(Path("ba")));
  }
  // a P-256 point is no P-384 key; a point off the curve is refused
  ASSERT_EQ(Run({"genkey", "--out", Path("c")}), 0);
  EXPECT_EQ(Run({"derive", "--curve", "p384", "--key", "01", "--peer", "@" + Path("c.pub")}), 1);
  std::string pub = Hex("c.pub");
  pub.back() = pub.back() == '0' ? '1' : '0';
  EXPECT_EQ(Run({"derive", "--key", "01", "--peer", pub}), 1);
}

TEST_F(EcCommand, UsageAndTheGate) {
  EXPECT_EQ(Run({"sign", "--key", "01"}), 2);                    // no file
  EXPECT_EQ(Run({"verify", "--pub", "04", "x"}), 2);             // no signature
  EXPECT_EQ(Run({"derive", "--key", "zz", "--peer", "04"}), 2);  // not hex
  gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
  EXPECT_EQ(Run({"genkey", "--out", Path("k")}), 1);  // the command never opens the gate itself
  EXPECT_FALSE(fs::exists(Path("k.key")));
}

}  // namespace
