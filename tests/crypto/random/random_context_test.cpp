// The random context: its kinds and their refusals, entropy bits of the
// default context, and the seeded constructors with a bad seed device.
#include <sys/mount.h>

#include "crypto/random/internal.h"
#include "random_test_util.h"
#include "support/sandbox.h"

namespace kel::test {
namespace {

class RandomContextTest : public GateOpenTest {};

TEST_F(RandomContextTest, KindsAndRefusals) {
  RandomContext *ctx = nullptr;
  EXPECT_EQ(RANDOM_acquireContextEx(nullptr, 3), ERR_NULL_POINTER);
  EXPECT_EQ(RANDOM_acquireContextEx(&ctx, 2), ERR_RANDOM_UNSUPPORTED);
  EXPECT_EQ(RANDOM_acquireContextEx(&ctx, 4), ERR_RANDOM_UNSUPPORTED);
  EXPECT_EQ(ctx, nullptr);
  // Oversized requests are refused, not wrapped; zero bytes are served.
  const struct {
    uint8_t kind;
    uint32_t expect, tooLong;
    int32_t tooLongStatus;
  } cases[] = {{0, RANDOM_KIND_CTRDRBG, 65536, ERR_DRBG_REQUEST_TOO_LARGE},
               {3, RANDOM_KIND_CTRDRBG, 0xFFFFFFFFu, ERR_DRBG_REQUEST_TOO_LARGE},
               {1, RANDOM_KIND_FIPS186, 0x80000000u, ERR_RANDOM_BAD_LENGTH}};
  for (const auto &c : cases) {
    ASSERT_EQ(RANDOM_acquireContextEx(&ctx, c.kind), 0);
    EXPECT_EQ(ctx->kind, c.expect);
    Bytes a(100), b(100);
    EXPECT_EQ(RANDOM_numberGenerator(ctx, a.data(), 100), 0);
    EXPECT_EQ(RANDOM_rngFun(ctx, 100, b.data()), 0);  // length before buffer
    EXPECT_NE(ToHex(a), ToHex(b));
    EXPECT_EQ(RANDOM_numberGenerator(ctx, nullptr, 1), ERR_NULL_POINTER);
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
  // An EC-DRBG context takes no entropy bits (ec_drbg_test: nor the rest).
  RandomContext ec{RANDOM_KIND_ECDRBG, 0};
  uint8_t out[4];
  EXPECT_EQ(RANDOM_addEntropyBit(&ec, 1), ERR_NULL_POINTER);
  EXPECT_EQ(RANDOM_releaseContext(nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(RANDOM_numberGenerator(nullptr, out, 4), ERR_NULL_POINTER);
  EXPECT_EQ(RANDOM_addEntropyBit(nullptr, 1), ERR_NULL_POINTER);
}

// Entropy bits of the default context go to the depot; the key stays until
// the 384th (tests/crypto/random/entropy_depot_slow_test.cpp has the rest).
TEST_F(RandomContextTest, EntropyBitsGoToTheDepot) {
  RandomContext *ctx = nullptr;
  ASSERT_EQ(RANDOM_acquireContext(&ctx), 0);
  auto *c = random::as_ctr(ctx);
  EXPECT_EQ(c->state.keyLength, 32u);
  const std::string key = ToHex(c->key(), 32);
  for (int i = 0; i < 383; ++i) ASSERT_EQ(RANDOM_addEntropyBit(ctx, static_cast<uint8_t>(i & 1)), 0);
  EXPECT_EQ(ctx->entropyBitCount, 383u);
  EXPECT_EQ(ToHex(c->key(), 32), key);
  uint8_t depot[64], pool[48];
  uint32_t index = 0, position = 0;
  depot::snapshot(depot, pool, &index, &position);
  EXPECT_EQ(position, 383u);
  EXPECT_EQ(index, 48u);  // nothing extracted
  RANDOM_releaseContext(&ctx);
}

class SeedSourceTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    gFIPS_powerupStatus = 0;
    ASSERT_TRUE(MountTmpfs("/mnt/seed"));
  }
  void TearDown() override {
    gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
    umount2("/dev/urandom", MNT_DETACH);
    umount2("/mnt/seed", MNT_DETACH);
  }
  void Seed(const std::string &content) {
    umount2("/dev/urandom", MNT_DETACH);
    ASSERT_TRUE(WriteFile("/mnt/seed/urandom", content));
    ASSERT_EQ(mount("/mnt/seed/urandom", "/dev/urandom", nullptr, MS_BIND, nullptr), 0);
  }
};

// Each read reopens the device: one repeated word repeats, which both
// constructors refuse; an empty or short device is no seed at all, and a
// missing one neither.
TEST_F(SeedSourceTest, BadSeedDevicesFailClosed) {
  RandomContext *ctx = nullptr;
  Seed(std::string(64, 'A'));
  EXPECT_EQ(RANDOM_acquireContext(&ctx), ERR_RANDOM_SEED_SOURCE);
  EXPECT_EQ(RANDOM_acquireContextEx(&ctx, 1), ERR_FIPS186_XKEY_EQUALS_XSEED);
  uint8_t buf[64];
  for (const std::string content : {"", "0123456789abcdefghijklmnopqrstuvwxyzABCD"}) {
    Seed(content);
    EXPECT_EQ(LINUX_getSeed(buf, sizeof buf), 0);
    EXPECT_EQ(RANDOM_acquireContextEx(&ctx, 1), ERR_RANDOM_SEED_SOURCE) << content.size();
    EXPECT_EQ(RANDOM_acquireContext(&ctx), ERR_RANDOM_SEED_SOURCE);
  }
  Seed("0123456789");
  EXPECT_EQ(LINUX_getSeed(buf, 10), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 10), "0123456789");
  umount2("/dev/urandom", MNT_DETACH);
  ASSERT_TRUE(MountTmpfs("/dev"));  // no seed device at all
  EXPECT_EQ(RANDOM_acquireContext(&ctx), ERR_RANDOM_SEED_SOURCE);
  EXPECT_EQ(RANDOM_acquireContextEx(&ctx, 1), LINUX_ERR_SEED_OPEN);
  gFIPS_powerupStatus = -16501;  // the gate is asked before the device
  EXPECT_EQ(RANDOM_acquireContextEx(&ctx, 1), -16501);
  EXPECT_EQ(ctx, nullptr);
  umount2("/dev", MNT_DETACH);
}

}  // namespace
}  // namespace kel::test
