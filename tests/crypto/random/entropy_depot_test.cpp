// The entropy depot: pushed bits, the scramble map, the threads' cycle.
#include "crypto/random/internal.h"
#include "kel/rng_seed.h"
#include "random_test_util.h"

namespace kel::test {
namespace {

struct Snapshot {
  uint8_t depot[64], pool[48];
  uint32_t outputIndex, bitPosition;
  Snapshot() { depot::snapshot(depot, pool, &outputIndex, &bitPosition); }
};

template <class F>
bool WaitFor(F done, int seconds = 10) {
  for (int i = 0; i < 100 * seconds && !done(); ++i) LINUX_sleepMS(10);
  return done();
}

void StopAndReset() {
  EXPECT_EQ(RNG_SEED_killEntropyThreads(), 0);
  ASSERT_TRUE(WaitFor([] { return depot::running_threads() == 0; }));
  static int released;
  released = 0;
  mem::observe(nullptr, [](const void *) { ++released; });
  EXPECT_EQ(RNG_SEED_freeMutexes(), 0);
  EXPECT_EQ(RNG_SEED_freeMutexes(), 0);
  mem::observe(nullptr, nullptr);
  EXPECT_EQ(released, 2) << "each of the two mutexes released once";
  EXPECT_EQ(RNG_SEED_resetState(), 0);
}

TEST(EntropyDepot, PushedOnesFlipEveryBitOnceStartingAtPositionOne) {
  ThreadId *ids[3];
  EXPECT_EQ(RNG_SEED_entropyThreadIds(&ids[0], &ids[1], &ids[2]), ERR_RNG_SEED_STATE);
  ASSERT_EQ(RNG_SEED_addEntropyBit(1), 0);
  const Snapshot one;
  EXPECT_EQ(one.bitPosition, 1u);
  EXPECT_EQ(one.outputIndex, 48u);
  EXPECT_EQ(RNG_SEED_addEntropyBit(0xFE), 0);  // lowest bit only: moves on, flips nothing
  EXPECT_EQ(ToHex(Snapshot().depot, 64), ToHex(one.depot, 64));
  for (int i = 0; i < 382; ++i) ASSERT_EQ(RNG_SEED_addEntropyBit(1), 0);
  const Snapshot all;
  EXPECT_EQ(all.bitPosition, 0u);
  // All of bits 1..383 and 0 flipped but bit 2 (the 0); bytes 48..63 untouched.
  EXPECT_EQ(ToHex(all.depot, 64), "fb" + std::string(94, 'f') + std::string(32, '0'));
  EXPECT_EQ(RNG_SEED_entropyThreadIds(&ids[0], &ids[1], &ids[2]), 0);
  EXPECT_EQ(RNG_SEED_entropyThreadIds(nullptr, &ids[1], &ids[2]), ERR_NULL_POINTER);
  // Stopped, nothing is taken until the reset; then pushes start over at 1.
  EXPECT_EQ(RNG_SEED_killEntropyThreads(), 0);
  uint8_t out[4];
  EXPECT_EQ(RNG_SEED_addEntropyBit(1), ERR_RNG_SEED_STOPPED);
  EXPECT_EQ(RNG_SEED_extractDepotBits(out, 4), ERR_RNG_SEED_STOPPED);
  EXPECT_EQ(RNG_SEED_freeMutexes(), 0);
  EXPECT_EQ(RNG_SEED_resetState(), 0);
  EXPECT_EQ(RNG_SEED_addEntropyBit(0), 0);
  EXPECT_EQ(Snapshot().bitPosition, 1u);
  StopAndReset();
}

// x ^ x >> 2 ^ x >> 5 ^ 13x ^ 37x ^ 57x mod 256, worked by hand.
TEST(EntropyDepot, ScrambleByte) {
  const std::pair<uint8_t, uint8_t> kRows[] = {{0x00, 0x00}, {0x01, 0x10}, {0x02, 0x20}, {0x03, 0xe0}, {0x10, 0x04},
                                               {0x55, 0xb7}, {0x80, 0x24}, {0xa7, 0xfc}, {0xff, 0x28}};
  for (const auto &[in, out] : kRows) EXPECT_EQ(depot::scramble_byte(in), out) << int(in);
}

// A zero-byte extraction starts the threads; a cycle (about 24 s) fills the pool, stirs the depot
// (not its last 4 bytes), then they rest until the pool is drawn. The default context's 384th bit
// reseeds it from 48 served (zeroed) bytes. Stopped threads start anew after a reset.
class DepotCycles : public GateOpenTest {};

TEST_F(DepotCycles, DormantAfterACycleAndTheDefaultContextReseedsAtThe384thBit) {
  RandomContext *ctx = nullptr;
  ASSERT_EQ(RANDOM_acquireContext(&ctx), 0);
  auto *c = random::as_ctr(ctx);
  const std::string key = ToHex(c->key(), 32);
  for (int i = 0; i < 383; ++i) ASSERT_EQ(RANDOM_addEntropyBit(ctx, static_cast<uint8_t>(i * 7 >> 2)), 0);
  EXPECT_EQ(ctx->entropyBitCount, 383u);
  EXPECT_EQ(Snapshot().bitPosition, 383u);
  EXPECT_EQ(RNG_SEED_extractDepotBits(nullptr, 4), ERR_NULL_POINTER);
  const Snapshot before;
  ASSERT_EQ(RNG_SEED_extractDepotBits(nullptr, 0), 0);
  EXPECT_EQ(depot::running_threads(), 3);
  ThreadId *ids[3];
  ASSERT_EQ(RNG_SEED_entropyThreadIds(&ids[0], &ids[1], &ids[2]), 0);
  EXPECT_TRUE(*ids[0] != *ids[1] && *ids[1] != *ids[2]);
  ASSERT_TRUE(WaitFor([] { return Snapshot().outputIndex == 0; }, 60));
  LINUX_sleepMS(1000);  // the last barrier steps of the other two threads
  const Snapshot filled;
  EXPECT_NE(ToHex(filled.depot, 48), ToHex(before.depot, 48));
  EXPECT_EQ(ToHex(filled.depot + 60, 4), "00000000");
  LINUX_sleepMS(3000);
  EXPECT_EQ(ToHex(Snapshot().depot, 64), ToHex(filled.depot, 64)) << "a thread stirred while dormant";
  EXPECT_EQ(depot::running_threads(), 3);
  uint8_t out[28];
  ASSERT_EQ(RNG_SEED_extractDepotBits(out, 28), 0);
  EXPECT_EQ(ToHex(out, 28), ToHex(filled.pool, 28));
  EXPECT_EQ(ToHex(c->key(), 32), key);
  ASSERT_EQ(RANDOM_addEntropyBit(ctx, 1), 0);  // waits for the next cycle
  EXPECT_TRUE(ctx->entropyBitCount == 0 && c->state.reseedCounter == 1u);
  EXPECT_NE(ToHex(c->key(), 32), key);
  const Snapshot served;
  ASSERT_EQ(served.outputIndex, 28u);
  EXPECT_EQ(ToHex(served.pool, 28), std::string(56, '0'));
  ASSERT_EQ(RNG_SEED_extractDepotBits(out, 20), 0);
  EXPECT_EQ(ToHex(out, 20), ToHex(served.pool + 28, 20));
  EXPECT_EQ(RANDOM_releaseContext(&ctx), 0);
  StopAndReset();
  EXPECT_EQ(RNG_SEED_addEntropyBit(1), 0);
  EXPECT_EQ(RNG_SEED_extractDepotBits(nullptr, 0), 0);
  EXPECT_EQ(depot::running_threads(), 3);
  StopAndReset();
}

}  // namespace
}  // namespace kel::test
