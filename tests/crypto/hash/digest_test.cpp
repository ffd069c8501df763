// Digest contexts beyond the vectors: what finalising leaves behind, the
// suites' fields, the G functions, counters, bad input and allocation.
#define OPENSSL_SUPPRESS_DEPRECATED 1  // SHA1_Transform: the oracle of the G functions
#include <openssl/sha.h>

#include <array>
#include <cstring>

#include "crypto/common/alloc.h"
#include "hash_util.h"
#include "kel/vor.h"

namespace kel::test {
namespace {

class Digest : public PathTest {};
INSTANTIATE_TEST_SUITE_P(Paths, Digest, ::testing::Bool(), PathName);

template <class T>
bool AllZero(const T &v) {
  T zero;
  std::memset(&zero, 0, sizeof zero);
  return std::memcmp(&v, &zero, sizeof v) == 0;
}

TEST_P(Digest, Sha2FinalZeroesTheContextSha1AndMd5KeepTheirs) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  uint8_t out[64];
  Sha256Context c256;
  for (auto init : {SHA256_initDigest, SHA224_initDigest}) {
    ASSERT_EQ(init(&c256), 0);
    ASSERT_EQ(SHA256_updateDigest(&c256, abc, 3), 0);
    ASSERT_EQ(init == SHA256_initDigest ? SHA256_finalDigest(&c256, out) : SHA224_finalDigest(&c256, out), 0);
    EXPECT_TRUE(AllZero(c256));
  }
  Sha512Context c512;
  for (auto init : {SHA512_initDigest, SHA384_initDigest}) {
    ASSERT_EQ(init(&c512), 0);
    ASSERT_EQ(SHA512_updateDigest(&c512, abc, 3), 0);
    ASSERT_EQ(init == SHA512_initDigest ? SHA512_finalDigest(&c512, out) : SHA384_finalDigest(&c512, out), 0);
    EXPECT_TRUE(AllZero(c512));
  }
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
  EXPECT_EQ(ToHex(out, 16), "900150983cd24fb0d6963f7d28e17f72");
}

TEST_P(Digest, ReinitialisingAbandonsAMessage) {
  for (const auto &a : Algos()) {
    const HashSuite &s = *a.suite();
    void *ctx = nullptr;
    ASSERT_EQ(s.allocFunc(&ctx), 0);
    Bytes junk(200, 0x5a), out(a.digestSize);
    ASSERT_EQ(s.initFunc(ctx), 0);
    ASSERT_EQ(s.updateFunc(ctx, junk.data(), 137), 0);
    ASSERT_EQ(s.initFunc(ctx), 0);
    ASSERT_EQ(s.updateFunc(ctx, junk.data(), 0), 0);  // zero length: nothing changes
    ASSERT_EQ(s.finalFunc(ctx, out.data()), 0);
    EXPECT_EQ(out, OpensslDigest(a, {})) << a.name;
    ASSERT_EQ(s.freeFunc(&ctx), 0);
  }
}

TEST(HashSuites, FieldsAndLookup) {
  struct Row {
    int32_t id;
    uint32_t digest, block;
    HashAllocFunc alloc;
    HashInitFunc init;
    HashUpdateFunc update;
    HashFinalFunc final;
  } rows[] = {
      {4, 16, 64, MD5Alloc_m, MD5Init_m, MD5Update_m, MD5Final_m},
      {5, 20, 64, SHA1_allocDigest, SHA1_initDigest, SHA1_updateDigest, SHA1_finalDigest},
      {14, 28, 64, SHA256_allocDigest, SHA224_initDigest, SHA256_updateDigest, SHA224_finalDigest},
      {0x10b, 32, 64, SHA256_allocDigest, SHA256_initDigest, SHA256_updateDigest, SHA256_finalDigest},
      {12, 48, 128, SHA512_allocDigest, SHA384_initDigest, SHA512_updateDigest, SHA384_finalDigest},
      {-256 + 13, 64, 128, SHA512_allocDigest, SHA512_initDigest, SHA512_updateDigest, SHA512_finalDigest},
  };
  for (const auto &r : rows) {
    const HashSuite *s = nullptr;
    ASSERT_EQ(CRYPTO_getRSAHashAlgo(r.id, &s), 0) << r.id;
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->digestSize, r.digest);
    EXPECT_EQ(s->blockSize, r.block);
    EXPECT_EQ(s->allocFunc, r.alloc);
    EXPECT_EQ(s->initFunc, r.init);
    EXPECT_EQ(s->updateFunc, r.update);
    EXPECT_EQ(s->finalFunc, r.final);
    EXPECT_EQ(s->reserved1, nullptr);
    EXPECT_EQ(s->reserved2, nullptr);
  }
  const HashSuite *md5 = nullptr;
  ASSERT_EQ(CRYPTO_getRSAHashAlgo(4, &md5), 0);
  EXPECT_EQ(md5->freeFunc, MD5Free_m);
  for (int32_t bad : {0, 3, 6, 10, 15, 0x100, 255}) {
    const HashSuite *keep = md5;
    EXPECT_EQ(CRYPTO_getRSAHashAlgo(bad, &keep), -6010) << bad;
    EXPECT_EQ(keep, md5);
  }
  EXPECT_EQ(CRYPTO_getRSAHashAlgo(11, nullptr), ERR_NULL_POINTER);
}

// G is one SHA-1 compression: check it against OpenSSL's own transform, and
// against the digest of a message that pads to exactly that one block.
TEST_P(Digest, GFunctionsAreOneCompressionFromTheirInitialValue) {
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
  // A 55-byte message pads to one block: SHA1_G of that block is its digest.
  Bytes msg = RandomBytes(rng, 55), block = msg;
  block.push_back(0x80);
  block.resize(62, 0);
  block.push_back(0x01);
  block.push_back(0xb8);  // 440 bits
  uint8_t g[20];
  ASSERT_EQ(SHA1_G(block.data(), g), 0);
  EXPECT_EQ(ToHex(g, 20), ToHex(OpensslDigest(AlgoNamed("SHA1"), msg)));
}

TEST(HashCounters, WideCountersCarryAndShift) {
  Uint128 c{0, 0xfffffffffffffff0u};
  u16_Incr32(&c, 0x20);
  EXPECT_EQ(c.high, 1u);
  EXPECT_EQ(c.low, 0x10u);
  u16_Incr32(&c, 0xffffffffu);
  EXPECT_EQ(c.high, 1u);
  EXPECT_EQ(c.low, 0x10ull + 0xffffffffull);
  struct Case {
    uint64_t hi, lo;
    uint32_t n;
    uint64_t wantHi, wantLo;
  } cases[] = {
      {1, 2, 0, 1, 2},
      {0x1, 0x8000000000000001u, 1, 0x3, 0x2},
      {0, 0xe000000000000000u, 3, 7, 0},
      {0xff, 0x1234, 64, 0x1234, 0},
      {0xff, 0x1234, 68, 0x12340, 0},
      {0xff, 0x1, 127, 0x8000000000000000u, 0},
      {0xff, 0xff, 128, 0, 0},
      {0xff, 0xff, 500, 0, 0},
  };
  for (const auto &k : cases) {
    const Uint128 r = u16_Shl(k.hi, k.lo, k.n);
    EXPECT_EQ(r.high, k.wantHi) << k.n;
    EXPECT_EQ(r.low, k.wantLo) << k.n;
  }
  const uint32_t words[2] = {0x04030201u, 0xddccbbaau};
  uint8_t bytes[8];
  MD45_encode(bytes, words, 8);
  EXPECT_EQ(ToHex(bytes, 8), "01020304aabbccdd");
  uint32_t back[2] = {};
  MD45_decode(back, bytes, 8);
  EXPECT_EQ(back[1], words[1]);
  EXPECT_EQ(MD45_PADDING[0], 0x80);
  for (int i = 1; i < 64; ++i) EXPECT_EQ(MD45_PADDING[i], 0);
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
  Sha1Context s1;
  ASSERT_EQ(SHA1_initDigest(&s1), 0);
  s1.byteCount = 0xfffffff0u;
  ASSERT_EQ(SHA1_updateDigest(&s1, msg.data(), 32), 0);
  EXPECT_EQ(s1.byteCount, 0x100000010u);
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
    EXPECT_EQ(s.freeFunc(nullptr), ERR_NULL_POINTER);
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

}  // namespace
}  // namespace kel::test
