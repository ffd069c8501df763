// kelctl enc and ec in this process with the gate open (the standard streams
// through the built tool); a closed gate refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>

#include "crypto/crypto_test_util.h"
#include "support/sandbox.h"
#include "tools/kelctl/commands.h"

namespace {

namespace fs = std::filesystem;
using namespace kel::test;
const std::string kKey128 = "000102030405060708090a0b0c0d0e0f";
const std::string kKey256 = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";

// The self-test is not part of these tests.
class GateOpen : public GateOpenTest {
 protected:
  std::string P(const std::string &name) { return dir_ / name; }
  static int Main(int (*command)(int, char **), std::vector<std::string> args) {
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    return command(int(argv.size()), argv.data());
  }
  TempDir dir_;
};

class EncCommand : public GateOpen {
 protected:
  // "enc" with a mode, a key, --in and --out (names in the folder).
  int Run(const std::string &mode, const std::string &key, const std::string &in, const std::string &out) {
    return Main(kelctl::RunEnc, {"enc", mode, "--key", key, "--in", P(in), "--out", P(out)});
  }
  void ExpectOnly(std::vector<std::string> names) {  // no temporary leftovers
    std::sort(names.begin(), names.end());
    EXPECT_EQ(DirNames(dir_.path()), names);
  }
};

TEST_F(EncCommand, RoundTripsAndRefusesWrongKeysAlteredFilesAndBadUsage) {
  for (size_t size : {size_t{0}, size_t{16}, size_t{200001}}) {
    std::string plain(size, '\0');
    for (size_t i = 0; i < size; ++i) plain[i] = static_cast<char>(i * 7 + size);
    ASSERT_TRUE(WriteFile(P("plain"), plain));
    const std::string &key = size % 2 ? kKey256 : kKey128;
    ASSERT_EQ(Run("-e", key, "plain", "sealed"), 0) << size;
    ASSERT_EQ(ReadFile(P("sealed")).size(), size + 20 + 16);
    EXPECT_EQ(ReadFile(P("sealed")).substr(0, 8), std::string("KELGCM1\0", 8));
    ASSERT_EQ(Run("-d", key, "sealed", "opened"), 0);
    EXPECT_EQ(ReadFile(P("opened")), plain) << size;
    ExpectOnly({"plain", "sealed", "opened"});
    EXPECT_EQ(fs::status(P("opened")).permissions() & fs::perms::others_read, fs::perms::none);
  }
  ASSERT_TRUE(WriteFile(P("plain"), std::string(100000, 'p')));
  ASSERT_EQ(Run("-e", kKey128, "plain", "sealed"), 0);
  ASSERT_EQ(Run("-e", kKey128, "plain", "again"), 0);
  EXPECT_NE(ReadFile(P("again")), ReadFile(P("sealed"))) << "a fresh nonce each time";
  const std::string sealed = ReadFile(P("sealed"));
  ASSERT_TRUE(WriteFile(P("opened"), "previous contents"));  // must survive every refusal
  EXPECT_EQ(Run("-d", "ff" + kKey128.substr(2), "sealed", "opened"), kelctl::kExitFailed);
  for (const std::string &bad : {sealed.substr(0, 10) + char(sealed[10] ^ 1) + sealed.substr(11),  // nonce
                                 sealed.substr(0, 70000) + char(sealed[70000] ^ 1) + sealed.substr(70001),  // body
                                 sealed.substr(0, sealed.size() - 1) + char(sealed.back() ^ 1),  // tag
                                 sealed.substr(0, sealed.size() - 1), sealed.substr(0, 3)}) {
    ASSERT_TRUE(WriteFile(P("bad"), bad));
    EXPECT_EQ(Run("-d", kKey128, "bad", "opened"), kelctl::kExitFailed) << bad.size();
  }
  EXPECT_EQ(ReadFile(P("opened")), "previous contents");
  EXPECT_EQ(Run("-e", "0011", "plain", "x"), kelctl::kExitUsage);
  EXPECT_EQ(Run("-e", kKey128, "missing", "x"), kelctl::kExitFailed);
  EXPECT_EQ(Run("-e", kKey128, "plain", "no/such/dir/x"), kelctl::kExitFailed);
  ExpectOnly({"plain", "sealed", "opened", "bad", "again"});
  ASSERT_TRUE(WriteFile(P("key"), kKey128 + "\n"));
  EXPECT_EQ(Main(kelctl::RunEnc, {"enc", "-e", "--key-file", P("key"), "--in", P("plain"), "--out", P("x")}), 0);
  EXPECT_EQ(Run("-d", kKey128, "x", "y"), 0);
  EXPECT_EQ(ReadFile(P("y")), ReadFile(P("plain")));
}

TEST_F(EncCommand, WritesRegularFilesOnlyOrTheStandardStreams) {
  ASSERT_TRUE(WriteFile(P("plain"), std::string(100000, 'q')));
  ASSERT_TRUE(WriteFile(P("target"), "keep"));
  ASSERT_EQ(symlink(P("target").c_str(), P("link").c_str()), 0);
  ASSERT_EQ(mkfifo(P("fifo").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(P("dir").c_str(), 0700), 0);
  std::vector<std::string> names = {"plain", "target", "link", "fifo", "dir"};
  if (geteuid() == 0) {  // a device node like /dev/full
    ASSERT_EQ(mknod(P("full").c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
    names.push_back("full");
  }
  for (size_t i = 2; i < names.size(); ++i) EXPECT_EQ(Run("-e", kKey128, "plain", names[i]), kelctl::kExitFailed) << names[i];
  EXPECT_EQ(ReadFile(P("target")), "keep");
  EXPECT_TRUE(fs::is_symlink(P("link")) && fs::is_fifo(P("fifo")) && fs::is_directory(P("dir")));
  ExpectOnly(names);
  // The standard streams, as the installed tool meets them: a pipe in, a
  // standard output that cannot take the data.
  const std::string enc = kKelctl + " enc --key " + kKey128, seal = enc + " -e --in " + P("plain") + " --out -";
  EXPECT_EQ(Shell(seal + " | wc -c").out, "100036\n");
  const std::string opener = " | " + enc + " -d --in - --out - 2>/dev/null; }";
  Outcome r = Shell("{ " + seal + opener);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, ReadFile(P("plain")));
  r = Shell("{ " + seal + " | head -c -1" + opener);
  EXPECT_EQ(r.exitCode, kelctl::kExitFailed);
  EXPECT_EQ(r.out, "") << "nothing unauthenticated";
  EXPECT_EQ(Shell("{ " + seal + " >/dev/null; }").exitCode, 0);
  EXPECT_EQ(Shell("{ " + seal + " >/dev/full; }").exitCode, kelctl::kExitFailed);
  ExpectOnly(names);
}

class EcCommand : public GateOpen {
 protected:
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "ec");
    return Main(kelctl::RunEc, std::move(args));
  }
  std::string Hex(const std::string &file) {
    const std::string bytes = ReadFile(P(file));
    return ToHex(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
  }
};

TEST_F(EcCommand, SignVerifyAndDeriveOnBothCurves) {
  ASSERT_TRUE(WriteFile(P("msg"), "the message to sign\n"));
  for (const char *curve : {"p256", "p384"}) {
    SCOPED_TRACE(curve);
    const size_t len = std::string(curve) == "p256" ? 32 : 48;
    ASSERT_EQ(Run({"genkey", "--curve", curve, "--out", P("a")}), 0);
    ASSERT_EQ(Run({"genkey", "--curve", curve, "--out", P("b")}), 0);
    EXPECT_EQ(ReadFile(P("a.key")).size(), len);
    EXPECT_EQ(ReadFile(P("a.pub")).size(), 2 * len + 1);
    // raw key in, raw signature out; hex public key and signature back in
    ASSERT_EQ(Run({"sign", "--curve", curve, "--key", "@" + P("a.key"), "--out", P("sig"), P("msg")}), 0);
    EXPECT_EQ(ReadFile(P("sig")).size(), 2 * len);
    EXPECT_EQ(Run({"verify", "--curve", curve, "--pub", Hex("a.pub"), "--sig", Hex("sig"), P("msg")}), 0);
    EXPECT_EQ(Run({"verify", "--curve", curve, "--pub", "@" + P("b.pub"), "--sig", "@" + P("sig"), P("msg")}),
              1);
    EXPECT_EQ(Run({"verify", "--curve", curve, "--hash", "sha512", "--pub", "@" + P("a.pub"), "--sig",
                   "@" + P("sig"), P("msg")}), 1);
    ASSERT_TRUE(WriteFile(P("msg2"), "the message to sign!\n"));
    EXPECT_EQ(Run({"verify", "--curve", curve, "--pub", "@" + P("a.pub"), "--sig", "@" + P("sig"), P("msg2")}),
              1);
    ASSERT_EQ(Run({"derive", "--curve", curve, "--key", "@" + P("a.key"), "--peer", "@" + P("b.pub"), "--out",
                   P("ab")}), 0);
    ASSERT_EQ(Run({"derive", "--curve", curve, "--key", Hex("b.key"), "--peer", Hex("a.pub"), "--out", P("ba")}), 0);
    EXPECT_EQ(ReadFile(P("ab")).size(), len);
    EXPECT_EQ(ReadFile(P("ab")), ReadFile(P("ba")));
  }
  // a P-256 point is no P-384 key; a point off the curve is refused
  ASSERT_EQ(Run({"genkey", "--out", P("c")}), 0);
  EXPECT_EQ(Run({"derive", "--curve", "p384", "--key", "01", "--peer", "@" + P("c.pub")}), 1);
  std::string pub = Hex("c.pub");
  pub.back() = pub.back() == '0' ? '1' : '0';
  EXPECT_EQ(Run({"derive", "--key", "01", "--peer", pub}), 1);
}

TEST_F(EcCommand, UsageAndTheGate) {
  EXPECT_EQ(Run({"derive", "--key", "zz", "--peer", "04"}), 2);  // not hex
  gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
  EXPECT_EQ(Run({"genkey", "--out", P("k")}), 1);  // the command never opens the gate itself
  EXPECT_FALSE(fs::exists(P("k.key")));
}

}  // namespace
