// Shared by the random-number tests: byte-string arguments and the allocation-failure walk.
#pragma once

#include <cstring>

#include "kel/ctr_drbg.h"
#include "kel/random.h"
#include "kel/vor.h"
#include "tests/crypto/crypto_test_util.h"

namespace kel::test {

inline const uint8_t *Ptr(const Bytes &b) { return b.empty() ? nullptr : b.data(); }
inline uint32_t Len(const Bytes &b) { return static_cast<uint32_t>(b.size()); }

// Fails each allocation of create() in turn until it succeeds: each failure must
// hand out nothing and keep no block. Returns the number of failures.
template <class F>
int FailEachAllocation(F create, int32_t (*release)(RandomContext **)) {
  ReleaseWatch watch;
  for (int n = 0; n < 200; ++n) {
    RandomContext *ctx = nullptr;
    mem::fail_after(n);
    const int32_t st = create(&ctx);
    mem::fail_after(-1);
    if (st == 0) {
      EXPECT_EQ(release(&ctx), 0);
      return n;
    }
    EXPECT_TRUE(st == ERR_MEM_ALLOC_FAIL || st == LINUX_ERR_CREATE) << n << ": " << st;
    EXPECT_TRUE(ctx == nullptr && watch.live.empty()) << n << ": nothing handed out, nothing kept";
  }
  ADD_FAILURE() << "never succeeded";
  return 0;
}

}  // namespace kel::test
