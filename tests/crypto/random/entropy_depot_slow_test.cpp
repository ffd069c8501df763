// Depot cycles of about 24 s: the default context's reseed at its 384th
// entropy bit, and an extraction spanning the pool and the next cycle.
#include "crypto/random/internal.h"
#include "kel/rng_seed.h"
#include "random_test_util.h"

namespace kel::test {
namespace {

class DepotCycles : public GateOpenTest {};

TEST_F(DepotCycles, DefaultContextReseedsAtThe384thBitFromServedAndZeroedBytes) {
  RandomContext *ctx = nullptr;
  ASSERT_EQ(RANDOM_acquireContext(&ctx), 0);
  auto *c = random::as_ctr(ctx);
  const std::string key = ToHex(c->key(), 32);
  for (int i = 0; i < 383; ++i) ASSERT_EQ(RANDOM_addEntropyBit(ctx, static_cast<uint8_t>(i * 7 >> 2)), 0);
  EXPECT_EQ(ToHex(c->key(), 32), key);
  ASSERT_EQ(RANDOM_addEntropyBit(ctx, 1), 0);  // waits for the depot's first cycle
  EXPECT_EQ(ctx->entropyBitCount, 0u);
  EXPECT_EQ(c->state.reseedCounter, 1u);
  EXPECT_NE(ToHex(c->key(), 32), key);
  uint8_t depot[64], pool[48], second[48];
  uint32_t index = 0, position = 0;
  depot::snapshot(depot, pool, &index, &position);
  EXPECT_EQ(index, 48u);  // all 48 bytes went into the reseed
  EXPECT_EQ(ToHex(pool, 48), std::string(96, '0'));
  // 28 bytes of the next cycle, then 48: the 20 left over come first.
  ASSERT_EQ(RNG_SEED_extractDepotBits(second, 28), 0);
  depot::snapshot(depot, pool, &index, &position);
  ASSERT_EQ(index, 28u);
  const std::string rest = ToHex(pool + 28, 20);
  ASSERT_EQ(RNG_SEED_extractDepotBits(second, sizeof second), 0);
  EXPECT_EQ(ToHex(second, 20), rest);
  depot::snapshot(depot, pool, &index, &position);
  EXPECT_EQ(index, 28u);
  EXPECT_EQ(ToHex(pool, 28), std::string(56, '0'));
  EXPECT_NE(ToHex(second + 20, 20), rest);
  EXPECT_EQ(RANDOM_releaseContext(&ctx), 0);
  RNG_SEED_killEntropyThreads();
  EXPECT_EQ(RNG_SEED_extractDepotBits(second, 1), ERR_RNG_SEED_STOPPED);
}

}  // namespace
}  // namespace kel::test
