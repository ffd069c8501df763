// Messages of almost 2^32 bytes in one call: the 32-bit length must reach
// the block loop and the counters whole. The message is a mapping of zero
// pages, so nothing is allocated for it.
#include <sys/mman.h>

#include "hash_util.h"

namespace kel::test {
namespace {

class LongLength : public PathTest {};
INSTANTIATE_TEST_SUITE_P(Paths, LongLength, ::testing::Values(true), PathName);

TEST_P(LongLength, FourGigabytesLessOne) {
  const size_t len = 0xffffffffu;
  void *map = mmap(nullptr, len, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  const auto *zeros = static_cast<const uint8_t *>(map);
  for (const char *name : {"SHA256"}) {
    const Algo &a = AlgoNamed(name);
    uint8_t got[64];
    ASSERT_EQ(a.oneCall(zeros, 0xffffffffu, got), 0);
    Bytes want(EVP_MAX_MD_SIZE);
    unsigned wl = 0;
    EVP_Digest(zeros, len, want.data(), &wl, a.evp(), nullptr);
    EXPECT_EQ(ToHex(got, a.digestSize), ToHex(want.data(), wl)) << name;
  }
  // One byte pending in the buffer, then a length that would wrap a 32-bit sum.
  Sha1Context c;
  ASSERT_EQ(SHA1_initDigest(&c), 0);
  ASSERT_EQ(SHA1_updateDigest(&c, zeros, 1), 0);
  ASSERT_EQ(SHA1_updateDigest(&c, zeros, 0xffffffffu), 0);
  EXPECT_EQ(c.byteCount, 0x100000000u);
  munmap(map, len);
}

}  // namespace
}  // namespace kel::test
