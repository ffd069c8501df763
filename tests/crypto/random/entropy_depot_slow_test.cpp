// Depot cycles take about 24 s each: the reseed of the default context at
// its 384th entropy bit, and an extraction that spans the pool and the next
// cycle.
#include "crypto/random/internal.h"
#include "kel/rng_seed.h"
#include "random_test_util.h"

namespace {

using kel::test::ToHex;

class DepotCycles : public kel::test::GateOpenTest {};

TEST_F(DepotCycles, DefaultContextReseedsExactlyAtThe384thBit) {
  RandomContext *ctx = nullptr;
  ASSERT_EQ(RANDOM_acquireContext(&ctx), 0);
  auto *c = kel::random::as_ctr(ctx);
  uint8_t out[16];
  ASSERT_EQ(RANDOM_numberGenerator(ctx, out, 16), 0);
  ASSERT_EQ(c->state.reseedCounter, 2u);
  const std::string key = ToHex(c->key(), 32);
  for (int i = 0; i < 383; ++i) ASSERT_EQ(RANDOM_addEntropyBit(ctx, static_cast<uint8_t>(i * 7 >> 2)), 0);
  EXPECT_EQ(ctx->entropyBitCount, 383u);
  EXPECT_EQ(c->state.reseedCounter, 2u);
  EXPECT_EQ(ToHex(c->key(), 32), key);
  ASSERT_EQ(RANDOM_addEntropyBit(ctx, 1), 0);  // waits for the depot's first cycle
  EXPECT_EQ(ctx->entropyBitCount, 0u);
  EXPECT_EQ(c->state.reseedCounter, 1u);
  EXPECT_NE(ToHex(c->key(), 32), key);
  uint8_t depot[64], pool[48];
  uint32_t index = 0, position = 0;
  kel::depot::snapshot(depot, pool, &index, &position);
  EXPECT_EQ(index, 48u);  // all 48 bytes went into the reseed
  EXPECT_EQ(ToHex(pool, 48), std::string(96, '0'));  // served bytes are zeroed
  EXPECT_EQ(RANDOM_releaseContext(&ctx), 0);
  RNG_SEED_killEntropyThreads();
}

TEST_F(DepotCycles, ExtractionSpansThePoolAndTheNextCycle) {
  uint8_t first[28], second[48], depot[64], pool[48];
  uint32_t index = 0, position = 0;
  ASSERT_EQ(RNG_SEED_extractDepotBits(first, sizeof first), 0);
  kel::depot::snapshot(depot, pool, &index, &position);
  ASSERT_EQ(index, 28u);
  const std::string rest = ToHex(pool + 28, 20);
  EXPECT_EQ(ToHex(pool, 28), std::string(56, '0'));
  ASSERT_EQ(RNG_SEED_extractDepotBits(second, sizeof second), 0);
  EXPECT_EQ(ToHex(second, 20), rest);  // the 20 unserved bytes come first
  kel::depot::snapshot(depot, pool, &index, &position);
  EXPECT_EQ(index, 28u);  // then 28 bytes of a new cycle
  EXPECT_EQ(ToHex(pool, 28), std::string(56, '0'));
  EXPECT_NE(ToHex(second + 20, 28), std::string(56, '0'));
  EXPECT_NE(ToHex(second + 20, 20), rest);
  RNG_SEED_killEntropyThreads();
  EXPECT_EQ(RNG_SEED_extractDepotBits(second, 1), ERR_RNG_SEED_STOPPED);
}

}  // namespace
