// The random context: its kinds, their refusals and a bad seed device.
#include <sys/mount.h>

#include "random_test_util.h"
#include "support/sandbox.h"

namespace kel::test {
namespace {

class RandomContextTest : public GateOpenTest {};

TEST_F(RandomContextTest, KindsAndRefusals) {
  RandomContext *ctx = nullptr;
  uint8_t out[4];
  for (const int32_t st : {RANDOM_acquireContextEx(nullptr, 3), RANDOM_releaseContext(nullptr),
                           RANDOM_numberGenerator(nullptr, out, 4), RANDOM_addEntropyBit(nullptr, 1)})
    EXPECT_EQ(st, ERR_NULL_POINTER);
  for (uint8_t kind : {2, 4}) EXPECT_EQ(RANDOM_acquireContextEx(&ctx, kind), ERR_RANDOM_UNSUPPORTED) << int(kind);
  EXPECT_EQ(ctx, nullptr);
  // Oversized requests are refused, not wrapped; zero bytes are served.
  const struct { uint8_t kind; uint32_t expect, tooLong; int32_t tooLongStatus; } cases[] = {
      {0, RANDOM_KIND_CTRDRBG, 65536, ERR_DRBG_REQUEST_TOO_LARGE},
      {3, RANDOM_KIND_CTRDRBG, 0xFFFFFFFFu, ERR_DRBG_REQUEST_TOO_LARGE},
      {1, RANDOM_KIND_FIPS186, 0x80000000u, ERR_RANDOM_BAD_LENGTH}};
  for (const auto &c : cases) {
    ASSERT_EQ(RANDOM_acquireContextEx(&ctx, c.kind), 0);
    EXPECT_EQ(ctx->kind, c.expect);
    Bytes a(100);
    EXPECT_EQ(RANDOM_numberGenerator(ctx, a.data(), 100), 0);
    EXPECT_EQ(RANDOM_numberGenerator(ctx, a.data(), c.tooLong), c.tooLongStatus);
    EXPECT_EQ(RANDOM_numberGenerator(ctx, a.data(), 0), 0);
    // In the error state release is refused until a new self-test passes.
    gFIPS_powerupStatus = -16525;
    EXPECT_EQ(RANDOM_releaseContext(&ctx), -16525);
    EXPECT_EQ(RANDOM_rngFun(ctx, 8, a.data()), -16525);
    gFIPS_powerupStatus = 0;
    EXPECT_EQ(RANDOM_releaseContext(&ctx), 0);
    EXPECT_EQ(ctx, nullptr);
  }
}

// Each read reopens the device, so a word repeats: both constructors refuse
// it, and an empty, short or missing device.
TEST_F(SandboxTest, BadSeedDevicesFailClosed) {
  gFIPS_powerupStatus = 0;
  ASSERT_TRUE(MountTmpfs("/mnt/seed") && WriteFile("/mnt/seed/urandom", std::string(64, 'A')));
  ASSERT_EQ(mount("/mnt/seed/urandom", "/dev/urandom", nullptr, MS_BIND, nullptr), 0);
  RandomContext *ctx = nullptr;
  EXPECT_EQ(RANDOM_acquireContext(&ctx), ERR_RANDOM_SEED_SOURCE);
  EXPECT_EQ(RANDOM_acquireContextEx(&ctx, 1), ERR_FIPS186_XKEY_EQUALS_XSEED);
  for (const std::string content : {"", "0123456789abcdefghijklmnopqrstuvwxyzABCD"}) {
    ASSERT_TRUE(WriteFile("/dev/urandom", content));
    EXPECT_EQ(RANDOM_acquireContextEx(&ctx, 1), ERR_RANDOM_SEED_SOURCE) << content.size();
    EXPECT_EQ(RANDOM_acquireContext(&ctx), ERR_RANDOM_SEED_SOURCE);
  }
  ASSERT_TRUE(MountTmpfs("/dev"));  // no seed device at all
  EXPECT_EQ(RANDOM_acquireContext(&ctx), ERR_RANDOM_SEED_SOURCE);
  EXPECT_EQ(RANDOM_acquireContextEx(&ctx, 1), LINUX_ERR_SEED_OPEN);
  gFIPS_powerupStatus = -16501;  // the gate is asked before the device
  EXPECT_EQ(RANDOM_acquireContextEx(&ctx, 1), -16501);
  EXPECT_EQ(ctx, nullptr);
}

}  // namespace
}  // namespace kel::test
