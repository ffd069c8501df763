// kelctl enc: the shipped command refuses while the power-up gate is closed;
// with the gate open (in this process) it round-trips files and refuses a
// wrong key or an altered file without writing any plaintext.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <thread>
#include <string>
#include <vector>

#include "kel/fips.h"
#include "support/sandbox.h"

#include "tools/kelctl/commands.h"

namespace {

namespace fs = std::filesystem;

const char *kKey128 = "000102030405060708090a0b0c0d0e0f";
const char *kKey256 = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";

class EncCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kelctl-enc-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    saved_ = gFIPS_powerupStatus;
    gFIPS_powerupStatus = 0;  // the self-test is not part of this test
  }
  void TearDown() override {
    gFIPS_powerupStatus = saved_;
    fs::remove_all(dir_);
  }
  std::string Path(const std::string &name) { return dir_ + "/" + name; }
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "enc");
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    return kelctl::RunEnc(static_cast<int>(argv.size()), argv.data());
  }
  void Write(const std::string &name, const std::string &data) { ASSERT_TRUE(kel::test::WriteFile(Path(name), data)); }
  std::string Read(const std::string &name) { return kel::test::ReadFile(Path(name)); }
  // Only the names given exist in the directory (no temporary leftovers).
  void ExpectOnly(std::vector<std::string> names) {
    std::vector<std::string> seen;
    for (const auto &e : fs::directory_iterator(dir_)) seen.push_back(e.path().filename());
    std::sort(seen.begin(), seen.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(seen, names);
  }

  std::string dir_;
  int32_t saved_ = 0;
};

TEST_F(EncCommand, RoundTripsFilesOfEveryShape) {
  for (size_t size : {size_t{0}, size_t{16}, size_t{200001}}) {
    std::string plain(size, '\0');
    for (size_t i = 0; i < size; ++i) plain[i] = static_cast<char>(i * 7 + size);
    Write("plain", plain);
    const char *key = size % 2 ? kKey256 : kKey128;
    ASSERT_EQ(Run({"-e", "--key", key, "--in", Path("plain"), "--out", Path("sealed")}), 0) << size;
    const std::string sealed = Read("sealed");
    ASSERT_EQ(sealed.size(), size + 20 + 16);
    EXPECT_EQ(sealed.substr(0, 8), std::string("KELGCM1\0", 8));
    ASSERT_EQ(Run({"-d", "--key", key, "--in", Path("sealed"), "--out", Path("opened")}), 0);
    EXPECT_EQ(Read("opened"), plain) << size;
    ExpectOnly({"plain", "sealed", "opened"});
    EXPECT_EQ(fs::status(Path("opened")).permissions() & fs::perms::others_read, fs::perms::none);
  }
  // A fresh nonce each time: the same file never seals the same way twice.
  ASSERT_EQ(Run({"-e", "-k", kKey128, "-i", Path("plain"), "-o", Path("again")}), 0);
  EXPECT_NE(Read("again"), Read("sealed"));
}

TEST_F(EncCommand, RefusesWrongKeysAndAlteredFilesWithoutWritingPlaintext) {
  Write("plain", std::string(100000, 'p'));
  ASSERT_EQ(Run({"-e", "--key", kKey128, "--in", Path("plain"), "--out", Path("sealed")}), 0);
  const std::string sealed = Read("sealed");
  Write("opened", "previous contents");  // must survive every refusal

  EXPECT_EQ(Run({"-d", "--key", "ff0102030405060708090a0b0c0d0e0f", "--in", Path("sealed"), "--out", Path("opened")}),
            kelctl::kExitFailed);
  // One flipped bit in the header (nonce), the body and the tag; a cut file.
  for (size_t at : {size_t{10}, size_t{70000}, sealed.size() - 1}) {
    std::string bad = sealed;
    bad[at] ^= 0x01;
    Write("bad", bad);
    EXPECT_EQ(Run({"-d", "--key", kKey128, "--in", Path("bad"), "--out", Path("opened")}), kelctl::kExitFailed) << at;
  }
  for (size_t len : {sealed.size() - 1, size_t{3}}) {
    Write("bad", sealed.substr(0, len));
    EXPECT_EQ(Run({"-d", "--key", kKey128, "--in", Path("bad"), "--out", Path("opened")}), kelctl::kExitFailed) << len;
  }
  EXPECT_EQ(Read("opened"), "previous contents");
  ExpectOnly({"plain", "sealed", "opened", "bad"});
}

TEST_F(EncCommand, BadUsageAndUnwritableOutput) {
  Write("plain", "hello");
  EXPECT_EQ(Run({"-e", "--key", "0011", "--in", Path("plain"), "--out", Path("x")}), kelctl::kExitUsage);
  EXPECT_EQ(Run({"-e", "--in", Path("plain"), "--out", Path("x")}), kelctl::kExitUsage);
  EXPECT_EQ(Run({"-e", "-d", "--key", kKey128, "--in", Path("plain"), "--out", Path("x")}), kelctl::kExitUsage);
  EXPECT_EQ(Run({"-e", "--key", kKey128, "--in", Path("missing"), "--out", Path("x")}), kelctl::kExitFailed);
  EXPECT_EQ(Run({"-e", "--key", kKey128, "--in", Path("plain"), "--out", Path("no/such/dir/x")}),
            kelctl::kExitFailed);
  Write("key", std::string(kKey128) + "\n");
  EXPECT_EQ(Run({"-e", "--key-file", Path("key"), "--in", Path("plain"), "--out", Path("x")}), 0);
  EXPECT_EQ(Run({"-d", "--key-file", Path("key"), "--in", Path("x"), "--out", Path("y")}), 0);
  EXPECT_EQ(Read("y"), "hello");
}

// Runs fn with standard input reading data from a pipe.
void WithStdin(const std::string &data, const std::function<void()> &fn) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::thread writer([&] {
    EXPECT_TRUE(write(fds[1], data.data(), data.size()) == static_cast<ssize_t>(data.size()));
    close(fds[1]);
  });
  const int saved = dup(0);
  dup2(fds[0], 0);
  close(fds[0]);
  fn();
  writer.join();
  dup2(saved, 0);
  close(saved);
}

TEST_F(EncCommand, WritesRegularFilesOnlyOrTheStandardStreams) {
  Write("plain", std::string(100000, 'q'));
  Write("target", "keep");
  ASSERT_EQ(symlink(Path("target").c_str(), Path("link").c_str()), 0);
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(Path("dir").c_str(), 0700), 0);
  std::vector<std::string> names = {"plain", "target", "link", "fifo", "dir"};
  if (geteuid() == 0) {  // a device node like /dev/full
    ASSERT_EQ(mknod(Path("full").c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
    names.push_back("full");
  }
  for (const std::string &name : names) {
    if (name == "plain" || name == "target") continue;
    EXPECT_EQ(Run({"-e", "--key", kKey128, "--in", Path("plain"), "--out", Path(name)}), kelctl::kExitFailed) << name;
  }
  EXPECT_EQ(Read("target"), "keep");
  EXPECT_TRUE(fs::is_symlink(Path("link")) && fs::is_fifo(Path("fifo")) && fs::is_directory(Path("dir")));
  if (geteuid() == 0) {
    EXPECT_TRUE(fs::is_character_file(Path("full")));
  }
  ExpectOnly(names);

  // "-" is standard output for --out and standard input (a pipe) for --in.
  const std::string sealed = kel::test::CaptureStdout(
      [&] { EXPECT_EQ(Run({"-e", "--key", kKey128, "--in", Path("plain"), "--out", "-"}), 0); });
  ASSERT_EQ(sealed.size(), 100000u + 36);
  std::string opened;
  WithStdin(sealed, [&] {
    opened = kel::test::CaptureStdout([&] { EXPECT_EQ(Run({"-d", "--key", kKey128, "--in", "-", "--out", "-"}), 0); });
  });
  EXPECT_EQ(opened, Read("plain"));
  WithStdin(sealed.substr(0, sealed.size() - 1), [&] {
    opened = kel::test::CaptureStdout(
        [&] { EXPECT_EQ(Run({"-d", "--key", kKey128, "--in", "-", "--out", "-"}), kelctl::kExitFailed); });
  });
  EXPECT_EQ(opened, "") << "nothing unauthenticated";
  // A standard output that cannot take the data fails the command.
  const int saved = dup(1), full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  dup2(full, 1);
  const int rc = Run({"-e", "--key", kKey128, "--in", Path("plain"), "--out", "-"});
  dup2(saved, 1);
  close(saved);
  close(full);
  EXPECT_EQ(rc, kelctl::kExitFailed);
  ExpectOnly(names);
}

}  // namespace
