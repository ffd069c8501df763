// The entropy depot without waiting for a cycle: bit positions of pushed
// bits, the thread-identifier query, stopping and resetting, and a
// zero-byte extraction that starts the threads.
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

// Polls (up to 10 s) until done() holds.
template <class F>
bool WaitFor(F done) {
  for (int i = 0; i < 1000 && !done(); ++i) LINUX_sleepMS(10);
  return done();
}

void StopAndReset() {
  EXPECT_EQ(RNG_SEED_killEntropyThreads(), 0);
  ASSERT_TRUE(WaitFor([] { return depot::running_threads() == 0; }));
  EXPECT_EQ(RNG_SEED_freeMutexes(), 0);
  EXPECT_EQ(RNG_SEED_resetState(), 0);
}

TEST(EntropyDepot, PushedOnesFlipEveryBitOnceStartingAtPositionOne) {
  ThreadId *ids[3];
  EXPECT_EQ(RNG_SEED_entropyThreadIds(&ids[0], &ids[1], &ids[2]), ERR_RNG_SEED_STATE);
  ASSERT_EQ(RNG_SEED_addEntropyBit(1), 0);
  const Snapshot one;
  EXPECT_EQ(one.bitPosition, 1u);
  EXPECT_EQ(one.depot[0], 0x02);
  EXPECT_EQ(one.outputIndex, 48u);
  EXPECT_EQ(RNG_SEED_addEntropyBit(0xFE), 0);  // lowest bit only: moves on, flips nothing
  EXPECT_EQ(ToHex(Snapshot().depot, 64), ToHex(one.depot, 64));
  for (int i = 0; i < 382; ++i) ASSERT_EQ(RNG_SEED_addEntropyBit(1), 0);
  const Snapshot all;
  EXPECT_EQ(all.bitPosition, 0u);
  // Bits 1..383 and 0 flipped once each but bit 2 (the 0 pushed second);
  // bytes 48..63 are untouched.
  EXPECT_EQ(ToHex(all.depot, 64), "fb" + std::string(94, 'f') + std::string(32, '0'));
  EXPECT_EQ(RNG_SEED_entropyThreadIds(&ids[0], &ids[1], &ids[2]), 0);
  EXPECT_EQ(RNG_SEED_entropyThreadIds(nullptr, &ids[1], &ids[2]), ERR_NULL_POINTER);
  // Stopped, nothing is taken until the reset; then the next push builds the
  // mutexes again and starts over at position 1.
  EXPECT_EQ(RNG_SEED_killEntropyThreads(), 0);
  uint8_t out[4];
  EXPECT_EQ(RNG_SEED_addEntropyBit(1), ERR_RNG_SEED_STOPPED);
  EXPECT_EQ(RNG_SEED_extractDepotBits(out, 4), ERR_RNG_SEED_STOPPED);
  EXPECT_EQ(RNG_SEED_freeMutexes(), 0);
  EXPECT_EQ(RNG_SEED_addEntropyBit(1), ERR_RNG_SEED_STOPPED);
  EXPECT_EQ(RNG_SEED_resetState(), 0);
  EXPECT_EQ(RNG_SEED_entropyThreadIds(&ids[0], &ids[1], &ids[2]), ERR_RNG_SEED_STATE);
  EXPECT_EQ(RNG_SEED_addEntropyBit(0), 0);
  EXPECT_EQ(Snapshot().bitPosition, 1u);
  StopAndReset();
}

// The threads stir the depot (never its last four bytes) before any cycle
// ends, stop on request, and start anew after a reset.
TEST(EntropyDepot, ZeroByteExtractionStartsTheThreadsWhichStopOnRequest) {
  EXPECT_EQ(RNG_SEED_extractDepotBits(nullptr, 4), ERR_NULL_POINTER);
  const Snapshot before;
  EXPECT_EQ(RNG_SEED_extractDepotBits(nullptr, 0), 0);
  EXPECT_EQ(depot::running_threads(), 3);
  ThreadId *ids[3];
  ASSERT_EQ(RNG_SEED_entropyThreadIds(&ids[0], &ids[1], &ids[2]), 0);
  EXPECT_NE(*ids[0], *ids[1]);
  EXPECT_NE(*ids[1], *ids[2]);
  EXPECT_TRUE(WaitFor([&] { return ToHex(Snapshot().depot, 48) != ToHex(before.depot, 48); }));
  const Snapshot after;
  EXPECT_EQ(ToHex(after.depot + 60, 4), "00000000");
  EXPECT_EQ(after.outputIndex, 48u);  // no cycle finished yet
  StopAndReset();
  EXPECT_EQ(RNG_SEED_addEntropyBit(1), 0);
  EXPECT_EQ(RNG_SEED_extractDepotBits(nullptr, 0), 0);
  EXPECT_EQ(depot::running_threads(), 3);
  StopAndReset();
}

}  // namespace
}  // namespace kel::test
