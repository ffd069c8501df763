// The entropy depot without waiting for a cycle: bit positions of pushed
// bits, the thread-identifier query, stopping and resetting, and a
// zero-byte extraction that starts the threads.
#include "crypto/random/internal.h"
#include "kel/hash.h"
#include "kel/rng_seed.h"
#include "random_test_util.h"

namespace {

using kel::test::ToHex;

struct Snapshot {
  uint8_t depot[64], pool[48];
  uint32_t outputIndex, bitPosition;
  Snapshot() { kel::depot::snapshot(depot, pool, &outputIndex, &bitPosition); }
};

// Stops the depot and waits until its threads have ended.
void StopDepot() {
  EXPECT_EQ(RNG_SEED_killEntropyThreads(), 0);
  for (int i = 0; i < 1000 && kel::depot::running_threads() > 0; ++i) LINUX_sleepMS(10);
  ASSERT_EQ(kel::depot::running_threads(), 0);
  EXPECT_EQ(RNG_SEED_freeMutexes(), 0);
  EXPECT_EQ(RNG_SEED_resetState(), 0);
}

TEST(EntropyDepot, PushedOnesFlipEveryBitOnceStartingAtPositionOne) {
  ThreadId *ids[3];
  EXPECT_EQ(RNG_SEED_entropyThreadIds(&ids[0], &ids[1], &ids[2]), ERR_RNG_SEED_STATE);
  ASSERT_EQ(RNG_SEED_addEntropyBit(1), 0);
  Snapshot one;
  EXPECT_EQ(one.bitPosition, 1u);
  EXPECT_EQ(one.depot[0], 0x02);
  EXPECT_EQ(one.outputIndex, 48u);
  EXPECT_EQ(RNG_SEED_addEntropyBit(0xFE), 0);  // lowest bit only: moves on, flips nothing
  Snapshot two;
  EXPECT_EQ(two.bitPosition, 2u);
  EXPECT_EQ(ToHex(two.depot, 64), ToHex(one.depot, 64));
  for (int i = 0; i < 382; ++i) ASSERT_EQ(RNG_SEED_addEntropyBit(1), 0);
  Snapshot all;
  EXPECT_EQ(all.bitPosition, 0u);
  // Bits 1..383 and 0 flipped once each, bit 1 pushed first: every depot bit
  // but bit 2 (the 0 pushed second) is set; bytes 48..63 are untouched.
  EXPECT_EQ(ToHex(all.depot, 48), "fb" + std::string(94, 'f'));
  EXPECT_EQ(ToHex(all.depot + 48, 16), std::string(32, '0'));
  EXPECT_EQ(RNG_SEED_entropyThreadIds(&ids[0], &ids[1], &ids[2]), 0);
  EXPECT_EQ(RNG_SEED_entropyThreadIds(nullptr, &ids[1], &ids[2]), ERR_NULL_POINTER);
}

TEST(EntropyDepot, StopAndReset) {
  ASSERT_EQ(RNG_SEED_addEntropyBit(1), 0);
  EXPECT_EQ(RNG_SEED_killEntropyThreads(), 0);
  uint8_t out[4];
  EXPECT_EQ(RNG_SEED_addEntropyBit(1), ERR_RNG_SEED_STOPPED);
  EXPECT_EQ(RNG_SEED_extractDepotBits(out, 4), ERR_RNG_SEED_STOPPED);
  EXPECT_EQ(RNG_SEED_freeMutexes(), 0);
  EXPECT_EQ(RNG_SEED_addEntropyBit(1), ERR_RNG_SEED_STOPPED);  // still stopped until the reset
  EXPECT_EQ(RNG_SEED_resetState(), 0);
  ThreadId *ids[3];
  EXPECT_EQ(RNG_SEED_entropyThreadIds(&ids[0], &ids[1], &ids[2]), ERR_RNG_SEED_STATE);
  // The next push builds the mutexes again and starts over at position 1.
  EXPECT_EQ(RNG_SEED_addEntropyBit(0), 0);
  EXPECT_EQ(Snapshot().bitPosition, 1u);
  EXPECT_EQ(RNG_SEED_freeMutexes(), 0);
  EXPECT_EQ(RNG_SEED_resetState(), 0);
}

TEST(EntropyDepot, ZeroByteExtractionStartsTheThreadsWhichStopOnRequest) {
  EXPECT_EQ(RNG_SEED_extractDepotBits(nullptr, 4), ERR_NULL_POINTER);
  const Snapshot before;
  EXPECT_EQ(RNG_SEED_extractDepotBits(nullptr, 0), 0);
  EXPECT_EQ(kel::depot::running_threads(), 3);
  ThreadId *ids[3];
  ASSERT_EQ(RNG_SEED_entropyThreadIds(&ids[0], &ids[1], &ids[2]), 0);
  EXPECT_NE(*ids[0], *ids[1]);
  EXPECT_NE(*ids[1], *ids[2]);
  LINUX_sleepMS(300);  // the threads stir and mix the depot
  const Snapshot after;
  EXPECT_NE(ToHex(after.depot, 48), ToHex(before.depot, 48));
  EXPECT_EQ(ToHex(after.depot + 60, 4), "00000000");  // the mixing never writes bytes 60..63
  EXPECT_EQ(after.outputIndex, 48u);  // no cycle finished yet
  StopDepot();
  // Built again from scratch: pushes work, and a new extraction starts new threads.
  EXPECT_EQ(RNG_SEED_addEntropyBit(1), 0);
  EXPECT_EQ(RNG_SEED_extractDepotBits(nullptr, 0), 0);
  EXPECT_EQ(kel::depot::running_threads(), 3);
  StopDepot();
}

}  // namespace
