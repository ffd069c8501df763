// Seed source: the FIPS-mode flag picks the device. Inside the sandbox,
// small files with distinct contents lie over /dev/random and /dev/urandom,
// so each read shows which device it came from.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <string>

#include "kel/os.h"
#include "support/sandbox.h"

namespace {

using kel::test::WriteFile;

class SeedTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(kel::test::MountTmpfs("/mnt/seed"));
    ASSERT_TRUE(WriteFile("/mnt/seed/random", "RANDOM-device-16"));
    ASSERT_TRUE(WriteFile("/mnt/seed/urandom", "urandom-dev-16by"));
    ASSERT_EQ(mount("/mnt/seed/random", "/dev/random", nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(mount("/mnt/seed/urandom", "/dev/urandom", nullptr, MS_BIND, nullptr), 0);
  }
  void TearDown() override {
    VORANE_setFIPSMode(0);
    umount2("/dev/random", MNT_DETACH);
    umount2("/dev/urandom", MNT_DETACH);
    umount2("/mnt/seed", MNT_DETACH);
  }

  static std::string Seed(int32_t length, int32_t *result) {
    std::string buf(static_cast<size_t>(length > 0 ? length : 0), '\0');
    *result = LINUX_getSeed(reinterpret_cast<uint8_t *>(buf.data()), length);
    return buf;
  }
};

TEST_F(SeedTest, FipsModeSwitchesTheDevice) {
  int32_t r = -1;
  EXPECT_EQ(VORANE_getFIPSMode(), 0u);
  EXPECT_EQ(Seed(16, &r), "urandom-dev-16by");
  EXPECT_EQ(r, 1);

  VORANE_setFIPSMode(1);
  EXPECT_EQ(bFIPSMode, 1u);
  EXPECT_EQ(VORANE_getFIPSMode(), 1u);
  for (int i = 0; i < 3; ++i) {  // every later read, not just the next
    EXPECT_EQ(Seed(6, &r), "RANDOM");
    EXPECT_EQ(r, 1);
  }
  VORANE_setFIPSMode(0x80);  // any non-zero value means on
  EXPECT_EQ(Seed(6, &r), "RANDOM");

  VORANE_setFIPSMode(0);
  EXPECT_EQ(bFIPSMode, 0u);
  EXPECT_EQ(Seed(7, &r), "urandom");
  EXPECT_EQ(r, 1);
}

TEST_F(SeedTest, ShortReadGivesZero) {
  int32_t r = -1;
  std::string got = Seed(32, &r);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(got.substr(0, 16), "urandom-dev-16by") << "the bytes there are still delivered";
  Seed(0, &r);
  EXPECT_EQ(r, 0) << "an empty request reads no item";
}

TEST_F(SeedTest, UnopenableDeviceGivesMinus5800) {
  int rc = kel::test::RunInChild([] {
    ASSERT_EQ(unshare(CLONE_NEWNS), 0);
    ASSERT_TRUE(kel::test::MountTmpfs("/dev"));  // no random devices at all
    uint8_t buf[8];
    EXPECT_EQ(LINUX_getSeed(buf, 8), -5800);
    VORANE_setFIPSMode(1);
    EXPECT_EQ(LINUX_getSeed(buf, 8), -5800);
  });
  EXPECT_EQ(rc, 0);
  uint8_t buf[4];
  EXPECT_EQ(LINUX_getSeed(nullptr, 4), -6001);
  EXPECT_EQ(LINUX_getSeed(buf, 4), 1) << "the parent's devices are untouched";
}

}  // namespace
