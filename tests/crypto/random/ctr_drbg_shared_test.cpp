// One CTR-DRBG instance shared by threads without a lock of their own.
#include <algorithm>
#include <array>
#include <atomic>
#include <thread>

#include "random_test_util.h"

namespace {

using Block = std::array<uint8_t, 16>;

class SharedDrbg : public kel::test::GateOpenTest {};

// 8 threads, 100,000 requests each, on the process-wide kind of context:
// every block differs from every other, and no request fails (a torn update
// hands two threads the same block or trips the continuous test).
TEST_F(SharedDrbg, ThreadsWithoutALockGetDistinctBlocks) {
  constexpr int kThreads = 8, kRequests = 100000;
  RandomContext *ctx = nullptr;
  ASSERT_EQ(RANDOM_acquireContext(&ctx), 0);
  std::vector<std::vector<Block>> got(kThreads, std::vector<Block>(kRequests));
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRequests; ++i)
        if (RANDOM_numberGenerator(ctx, got[t][i].data(), 16) != 0) failures.fetch_add(1);
    });
  for (auto &t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(gFIPS_powerupStatus, 0);
  std::vector<Block> all;
  for (auto &v : got) all.insert(all.end(), v.begin(), v.end());
  std::sort(all.begin(), all.end());
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end()) << "a block was handed out twice";
  EXPECT_EQ(RANDOM_releaseContext(&ctx), 0);
}

}  // namespace
