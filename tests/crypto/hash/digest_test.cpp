// Digest contexts beyond the vectors: what finalising leaves behind, suite
// lookup, the G functions, wide counters, bad input, allocation and the
// run-time switch of the hardware kernels.
#define OPENSSL_SUPPRESS_DEPRECATED 1  // SHA1_Transform: the oracle of the G functions
#include <openssl/sha.h>

#include "crypto/common/alloc.h"
#include "crypto/hash/x86/kernels.h"
#include "hash_util.h"
#include "kel/vor.h"

namespace kel::test {
namespace {

class Digest : public PathTest {};
INSTANTIATE_TEST_SUITE_P(Paths, Digest, ::testing::Values(~0u, 0u), PathName);

template <class T>
bool AllZero(const T &v) {
  const auto *p = reinterpret_cast<const uint8_t *>(&v);
  return std::all_of(p, p + sizeof v, [](uint8_t b) { return b == 0; });
}

TEST_P(Digest, Sha2FinalZeroesTheContextSha1AndMd5KeepTheirs) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  uint8_t out[64];
  Sha256Context c256;
  Sha512Context c512;
  ASSERT_EQ(SHA224_initDigest(&c256), 0);
  ASSERT_EQ(SHA256_updateDigest(&c256, abc, 3), 0);
  ASSERT_EQ(SHA224_finalDigest(&c256, out), 0);
  EXPECT_TRUE(AllZero(c256));
  ASSERT_EQ(SHA512_initDigest(&c512), 0);
  ASSERT_EQ(SHA512_updateDigest(&c512, abc, 3), 0);
  ASSERT_EQ(SHA512_finalDigest(&c512, out), 0);
  EXPECT_TRUE(AllZero(c512));
  // SHA-1 keeps its state and the count, now in bits.
  Sha1Context c1;
  ASSERT_EQ(SHA1_initDigest(&c1), 0);
  ASSERT_EQ(SHA1_updateDigest(&c1, abc, 3), 0);
  ASSERT_EQ(SHA1_finalDigest(&c1, out), 0);
  EXPECT_EQ(c1.byteCount, 24u);
  EXPECT_EQ(c1.state[0], 0xa9993e36u);
  // MD5 absorbs its padding and length through the update: 512 bits in all.
  Md5Context m;
  ASSERT_EQ(MD5Init_m(&m), 0);
  ASSERT_EQ(MD5Update_m(&m, abc, 3), 0);
  ASSERT_EQ(MD5Final_m(&m, out), 0);
  EXPECT_EQ(m.bitCount, 512u);
  EXPECT_EQ(m.bufferIndex, 0u);
}

// Only the low byte of the number selects the digest.
TEST(HashSuites, Lookup) {
  for (const auto &[id, name] :
       std::vector<std::pair<int32_t, const char *>>{{0x10b, "SHA256"}, {-256 + 13, "SHA512"}}) {
    const HashSuite *s = nullptr;
    ASSERT_EQ(CRYPTO_getRSAHashAlgo(id, &s), 0) << id;
    EXPECT_EQ(s, AlgoNamed(name).suite());
  }
  for (const auto &a : Algos()) EXPECT_EQ(a.suite()->blockSize, a.blockSize) << a.name;
  const HashSuite *keep = AlgoNamed("MD5").suite();
  for (int32_t bad : {0, 3, 6, 10, 15, 0x100, 255}) {
    EXPECT_EQ(CRYPTO_getRSAHashAlgo(bad, &keep), -6010) << bad;
    EXPECT_EQ(keep, AlgoNamed("MD5").suite());
  }
  EXPECT_EQ(CRYPTO_getRSAHashAlgo(11, nullptr), ERR_NULL_POINTER);
}

// G is one SHA-1 compression from the initial value (GK: rotated by a word).
TEST_P(Digest, GFunctionsAreOneCompression) {
  std::mt19937 rng(7);
  for (int round = 0; round < 8; ++round) {
    Bytes block = RandomBytes(rng, 64);
    for (bool rotated : {false, true}) {
      SHA_CTX ref;
      SHA1_Init(&ref);
      if (rotated) {
        const uint32_t h0 = ref.h0;
        ref.h0 = ref.h1, ref.h1 = ref.h2, ref.h2 = ref.h3, ref.h3 = ref.h4, ref.h4 = h0;
      }
      SHA1_Transform(&ref, block.data());
      uint8_t want[20], got[20];
      const uint32_t h[5] = {ref.h0, ref.h1, ref.h2, ref.h3, ref.h4};
      for (int i = 0; i < 5; ++i) VOR_HTONL(want + 4 * i, h[i]);
      ASSERT_EQ((rotated ? SHA1_GK : SHA1_G)(block.data(), got), 0);
      EXPECT_EQ(ToHex(got, 20), ToHex(want, 20));
    }
  }
}

TEST(HashCounters, WideCountersCarryAndShift) {
  Uint128 c{0, 0xfffffffffffffff0u};
  u16_Incr32(&c, 0x20);
  EXPECT_EQ(c.high, 1u);
  EXPECT_EQ(c.low, 0x10u);
  struct Case {
    uint64_t hi, lo;
    uint32_t n;
    uint64_t wantHi, wantLo;
  } cases[] = {
      {1, 2, 0, 1, 2},         {0x1, 0x8000000000000001u, 1, 0x3, 0x2},  {0xff, 0x1234, 68, 0x12340, 0},
      {0xff, 0xff, 128, 0, 0}, {0xff, 0x1, 127, 0x8000000000000000u, 0},
  };
  for (const auto &k : cases) {
    const Uint128 r = u16_Shl(k.hi, k.lo, k.n);
    EXPECT_EQ(r.high, k.wantHi) << k.n;
    EXPECT_EQ(r.low, k.wantLo) << k.n;
  }
}

// Counts past 2^32 bytes must not wrap in 32 bits: start the counters just
// below the boundary and cross it.
TEST_P(Digest, CountsDoNotWrapAtFourGigabytes) {
  Bytes msg(96, 0x61);
  Sha256Context c;
  ASSERT_EQ(SHA256_initDigest(&c), 0);
  c.byteCount = 0xffffffc0u;  // as if 2^32 - 64 bytes had been absorbed
  ASSERT_EQ(SHA256_updateDigest(&c, msg.data(), 96), 0);
  EXPECT_EQ(c.byteCount, 0x100000020u);
  Md5Context m;
  ASSERT_EQ(MD5Init_m(&m), 0);
  m.bitCount = 0xffffff00u;
  ASSERT_EQ(MD5Update_m(&m, msg.data(), 96), 0);
  EXPECT_EQ(m.bitCount, 0xffffff00ull + 768u);
  Sha512Context s5;
  ASSERT_EQ(SHA512_initDigest(&s5), 0);
  s5.byteCount = Uint128{0, ~0ull - 10};
  ASSERT_EQ(SHA512_updateDigest(&s5, msg.data(), 96), 0);
  EXPECT_EQ(s5.byteCount.high, 1u);
  EXPECT_EQ(s5.byteCount.low, 85u);
}

TEST_P(Digest, NullPointersAndAllocationFailure) {
  uint8_t out[64], data[1] = {0};
  for (const auto &a : Algos()) {
    const HashSuite &s = *a.suite();
    EXPECT_EQ(s.initFunc(nullptr), ERR_NULL_POINTER) << a.name;
    void *ctx = nullptr;
    ASSERT_EQ(s.allocFunc(&ctx), 0);
    ASSERT_EQ(s.initFunc(ctx), 0);
    std::vector<uint8_t> before(static_cast<uint8_t *>(ctx), static_cast<uint8_t *>(ctx) + 96);
    EXPECT_EQ(s.updateFunc(nullptr, data, 1), ERR_NULL_POINTER);
    EXPECT_EQ(s.updateFunc(ctx, nullptr, 0), ERR_NULL_POINTER) << a.name;
    EXPECT_EQ(s.finalFunc(ctx, nullptr), ERR_NULL_POINTER);
    EXPECT_EQ(s.finalFunc(nullptr, out), ERR_NULL_POINTER);
    EXPECT_EQ(std::memcmp(before.data(), ctx, before.size()), 0) << a.name << ": a refused call changed the context";
    EXPECT_EQ(a.oneCall(nullptr, 0, out), ERR_NULL_POINTER);
    EXPECT_EQ(a.oneCall(data, 1, nullptr), ERR_NULL_POINTER);
    ASSERT_EQ(s.freeFunc(&ctx), 0);
    EXPECT_EQ(s.freeFunc(&ctx), ERR_NULL_POINTER);
    EXPECT_EQ(s.allocFunc(nullptr), ERR_NULL_POINTER);
    kel::mem::fail_after(0);
    EXPECT_EQ(s.allocFunc(&ctx), ERR_MEM_ALLOC_FAIL) << a.name;
    EXPECT_EQ(ctx, nullptr);
    kel::mem::fail_after(-1);
  }
}

TEST_P(Digest, OneCallDigestsAllocateNothing) {
  Bytes msg(1000, 0x33), out(64);
  const uint64_t before = kel::mem::allocation_count();
  for (const auto &a : Algos()) ASSERT_EQ(a.oneCall(msg.data(), 1000, out.data()), 0);
  EXPECT_EQ(kel::mem::allocation_count(), before);
}

// The portable runs test the portable loops only if the switch turns the
// kernels off (the vectors run on each path and compare nothing across them).
TEST(HashKernels, FollowTheCpuSwitch) {
  for (bool (*available)() : {kel::hash::sha1_shani_available, kel::hash::sha256_shani_available,
                              kel::hash::sha512_avx2_available, kel::hash::md5_bmi2_available}) {
    kel::cpu::restrict_to(~0u);
    EXPECT_TRUE(available()) << "this CPU offers every kernel's features";
    kel::cpu::restrict_to(0);
    EXPECT_FALSE(available());
  }
  kel::cpu::restrict_to(~0u);
}

}  // namespace
}  // namespace kel::test
