// One CTR-DRBG instance shared: by threads without a lock of their own, and
// by the two processes of a fork().
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <thread>

#include "random_test_util.h"

namespace {

using Block = std::array<uint8_t, 16>;
using kel::test::Bytes;

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

// The next output of `ctx` in a fork() child.
Block ChildOutput(RandomContext *ctx) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    Block b{};
    const int32_t st = NIST_CTRDRBG_numberGenerator(ctx, b.data(), 16);
    const bool ok = st == 0 && write(fds[1], b.data(), 16) == 16;
    _exit(ok ? 0 : 1);
  }
  close(fds[1]);
  Block b{};
  EXPECT_EQ(read(fds[0], b.data(), 16), 16);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(status, 0);
  return b;
}

// After fork() the child reseeds from the OS before its first output, so
// parent and child (and two children) never repeat each other's bytes; with
// and without the derivation function.
TEST_F(SharedDrbg, ForkedProcessesDiverge) {
  const Bytes entropy(48, 0x42);
  RandomContext *plain = nullptr, *df = nullptr;
  ASSERT_EQ(RANDOM_acquireContext(&plain), 0);
  ASSERT_EQ(NIST_CTRDRBG_newDFContext(&df, 32, 16, entropy.data(), 32, entropy.data(), 16, nullptr, 0, 0), 0);
  for (RandomContext *ctx : {plain, df}) {
    Block warm{};
    ASSERT_EQ(NIST_CTRDRBG_numberGenerator(ctx, warm.data(), 16), 0);
    const Block first = ChildOutput(ctx), second = ChildOutput(ctx);
    Block parent{};
    ASSERT_EQ(NIST_CTRDRBG_numberGenerator(ctx, parent.data(), 16), 0);
    EXPECT_NE(first, parent);
    EXPECT_NE(second, parent);
    EXPECT_NE(first, second);
  }
  EXPECT_EQ(RANDOM_releaseContext(&plain), 0);
  EXPECT_EQ(RANDOM_releaseContext(&df), 0);
}

}  // namespace
