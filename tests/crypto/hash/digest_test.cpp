// Digest contexts beyond the vectors: what finalising leaves behind, suite
// lookup, the G functions, wide counters, bad input, allocation, zeroing on
// release, and the gate (with the entries it leaves open).
#include <functional>
#include <map>

#include "hash_util.h"
#include "kel/base64.h"

namespace kel::test {
namespace {

class Digest : public HashTest {};

template <class T>
bool AllZero(const T &v) {
  const auto *p = reinterpret_cast<const uint8_t *>(&v);
  return std::all_of(p, p + sizeof v, [](uint8_t b) { return b == 0; });
}

// SHA-2 final zeroes its context; SHA-1 keeps the state and the count (now
// in bits); MD5 absorbs padding and length through the update.
TEST_F(Digest, WhatFinalLeaves) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  uint8_t out[64];
  Sha256Context c256;
  Sha512Context c512;
  Sha1Context c1;
  Md5Context m;
  ASSERT_EQ(SHA224_initDigest(&c256) | SHA256_updateDigest(&c256, abc, 3) | SHA224_finalDigest(&c256, out), 0);
  ASSERT_EQ(SHA512_initDigest(&c512) | SHA512_updateDigest(&c512, abc, 3) | SHA512_finalDigest(&c512, out), 0);
  ASSERT_EQ(SHA1_initDigest(&c1) | SHA1_updateDigest(&c1, abc, 3) | SHA1_finalDigest(&c1, out), 0);
  ASSERT_EQ(MD5Init_m(&m) | MD5Update_m(&m, abc, 3) | MD5Final_m(&m, out), 0);
  EXPECT_TRUE(AllZero(c256));
  EXPECT_TRUE(AllZero(c512));
  EXPECT_EQ(c1.byteCount, 24u);
  EXPECT_EQ(c1.state[0], 0xa9993e36u);
  EXPECT_EQ(m.bitCount, 512u);
  EXPECT_EQ(m.bufferIndex, 0u);
}

// Only the low byte of the number selects the digest.
TEST_F(Digest, SuiteLookup) {
  const HashSuite *s = nullptr;
  ASSERT_EQ(CRYPTO_getRSAHashAlgo(0x10b, &s), 0);
  EXPECT_EQ(s, AlgoNamed("SHA256").suite());
  ASSERT_EQ(CRYPTO_getRSAHashAlgo(-256 + 13, &s), 0);
  EXPECT_EQ(s, AlgoNamed("SHA512").suite());
  for (int32_t bad : {0, 3, 6, 10, 15, 0x100, 255}) {
    EXPECT_EQ(CRYPTO_getRSAHashAlgo(bad, &s), -6010) << bad;
    EXPECT_EQ(s, AlgoNamed("SHA512").suite());
  }
  EXPECT_EQ(CRYPTO_getRSAHashAlgo(11, nullptr), ERR_NULL_POINTER);
}

// G is one SHA-1 compression from the initial value, GK the same from the
// value rotated by a word: of the padded block of "abc", the SHA-1 of "abc",
// and (from OpenSSL's SHA1_Transform) the rotated one.
TEST_F(Digest, GFunctionsAreOneCompression) {
  uint8_t block[64] = {'a', 'b', 'c', 0x80}, out[20];
  block[63] = 24;
  ForEachCpuPath([&] {
    ASSERT_EQ(SHA1_G(block, out), 0);
    EXPECT_EQ(ToHex(out, 20), "a9993e364706816aba3e25717850c26c9cd0d89d");
    ASSERT_EQ(SHA1_GK(block, out), 0);
    EXPECT_EQ(ToHex(out, 20), "bddb508227afe0e9f14ce98deca8ec6becef2cb1");
  });
}

// Counts past 2^32 bytes must not wrap in 32 bits: start the counters just
// below the boundary and cross it; the 128-bit helpers carry and shift.
TEST_F(Digest, WideCounters) {
  Uint128 c{0, 0xfffffffffffffff0u};
  u16_Incr32(&c, 0x20);
  EXPECT_TRUE(c.high == 1u && c.low == 0x10u);
  const struct {
    uint64_t hi, lo;
    uint32_t n;
    uint64_t wantHi, wantLo;
  } shifts[] = {{1, 2, 0, 1, 2},
                {0x1, 0x8000000000000001u, 1, 0x3, 0x2},
                {0xff, 0x1234, 68, 0x12340, 0},
                {0xff, 0xff, 128, 0, 0},
                {0xff, 0x1, 127, 0x8000000000000000u, 0}};
  for (const auto &k : shifts) {
    const Uint128 r = u16_Shl(k.hi, k.lo, k.n);
    EXPECT_TRUE(r.high == k.wantHi && r.low == k.wantLo) << k.n;
  }
  Bytes msg(96, 0x61);
  Sha256Context s2;
  ASSERT_EQ(SHA256_initDigest(&s2), 0);
  s2.byteCount = 0xffffffc0u;
  ASSERT_EQ(SHA256_updateDigest(&s2, msg.data(), 96), 0);
  EXPECT_EQ(s2.byteCount, 0x100000020u);
  Md5Context m;
  ASSERT_EQ(MD5Init_m(&m), 0);
  m.bitCount = 0xffffff00u;
  ASSERT_EQ(MD5Update_m(&m, msg.data(), 96), 0);
  EXPECT_EQ(m.bitCount, 0xffffff00ull + 768u);
  Sha512Context s5;
  ASSERT_EQ(SHA512_initDigest(&s5), 0);
  s5.byteCount = Uint128{0, ~0ull - 10};
  ASSERT_EQ(SHA512_updateDigest(&s5, msg.data(), 96), 0);
  EXPECT_TRUE(s5.byteCount.high == 1u && s5.byteCount.low == 85u);
}

// A refused call leaves the context alone; allocation may fail; one-call
// digests allocate nothing; a released context holds only zeros.
TEST_F(Digest, NullPointersAllocationAndZeroing) {
  uint8_t out[64], data[1] = {0};
  ReleaseWatch watch;
  for (const auto &a : Algos()) {
    const HashSuite &s = *a.suite();
    EXPECT_EQ(s.initFunc(nullptr), ERR_NULL_POINTER) << a.name;
    void *ctx = nullptr;
    ASSERT_EQ(s.allocFunc(&ctx), 0);
    ASSERT_EQ(s.initFunc(ctx), 0);
    const Bytes before(static_cast<uint8_t *>(ctx), static_cast<uint8_t *>(ctx) + 96);
    EXPECT_EQ(s.updateFunc(nullptr, data, 1), ERR_NULL_POINTER);
    EXPECT_EQ(s.updateFunc(ctx, nullptr, 0), ERR_NULL_POINTER) << a.name;
    EXPECT_EQ(s.finalFunc(ctx, nullptr), ERR_NULL_POINTER);
    EXPECT_EQ(s.finalFunc(nullptr, out), ERR_NULL_POINTER);
    EXPECT_EQ(std::memcmp(before.data(), ctx, before.size()), 0) << a.name << ": a refused call changed the context";
    EXPECT_EQ(a.oneCall(nullptr, 0, out), ERR_NULL_POINTER);
    EXPECT_EQ(a.oneCall(data, 1, nullptr), ERR_NULL_POINTER);
    ASSERT_EQ(s.updateFunc(ctx, data, 1), 0);  // state worth wiping
    ASSERT_EQ(s.freeFunc(&ctx), 0);
    EXPECT_EQ(s.freeFunc(&ctx), ERR_NULL_POINTER);
    EXPECT_EQ(s.allocFunc(nullptr), ERR_NULL_POINTER);
    mem::fail_after(0);
    EXPECT_EQ(s.allocFunc(&ctx), ERR_MEM_ALLOC_FAIL) << a.name;
    EXPECT_EQ(ctx, nullptr);
    mem::fail_after(-1);
    const uint64_t count = mem::allocation_count();
    ASSERT_EQ(a.oneCall(out, 64, out), 0);
    EXPECT_EQ(mem::allocation_count(), count) << a.name;
  }
  watch.stop();
  EXPECT_EQ(watch.dirty, 0);
  EXPECT_TRUE(watch.live.empty());
}

// While the status is not 0 every gated entry returns it and touches
// nothing; MD5, HMAC-MD5, the G functions, SHA-224 and SHA-384 init and
// final and Base64 go on working.
TEST_F(Digest, Gate) {
  const int32_t status = -16525;
  const HashSuite *sha256 = AlgoNamed("SHA256").suite();
  alignas(16) uint8_t ctx[sizeof(HmacContext)];
  uint8_t out[64], msg[200];
  void *block = nullptr, *slot = nullptr;
  ASSERT_EQ(VOR_alloc(64, &block), 0);
  auto *h = reinterpret_cast<HmacContext *>(ctx);
  auto *hp = reinterpret_cast<HmacContext **>(&slot);
  std::vector<std::function<int32_t()>> gated = {[&] { return HmacCreate(hp, sha256); },
                                                 [&] { return HmacKey(h, msg, 20); },
                                                 [&] { return HmacReset(h); },
                                                 [&] { return HmacUpdate(h, msg, 20); },
                                                 [&] { return HmacFinal(h, out); },
                                                 [&] { return HmacDelete(hp); },
                                                 [&] { return HmacQuickEx(msg, 5, msg, 7, msg, 3, out, sha256); },
                                                 [&] { return HmacQuick(msg, 5, msg, 7, out, sha256); },
                                                 [&] { return HMAC_SHA1(msg, 5, msg, 7, nullptr, 0, out); },
                                                 [&] { return HMAC_SHA1_quick(msg, 99, msg, 7, out); },
                                                 [&] { return HMAC_SHA1Ex(msg, 5, nullptr, nullptr, 0, out); },
                                                 [&] { return HmacCreate(nullptr, nullptr); },
                                                 [&] { return SHA1_initDigest(nullptr); }};
  for (const char *name : {"SHA1", "SHA256", "SHA512"}) {
    const HashSuite s = *AlgoNamed(name).suite();
    gated.insert(gated.end(),
                 {[s, &slot] { return s.allocFunc(&slot); }, [s, &slot] { return s.freeFunc(&slot); },
                  [s, &ctx] { return s.initFunc(ctx); }, [s, &ctx, &msg] { return s.updateFunc(ctx, msg, 200); },
                  [s, &ctx, &out] { return s.finalFunc(ctx, out); }});
  }
  for (const auto &a : Algos())
    if (a.id != 4) gated.push_back([&a, &msg, &out] { return a.oneCall(msg, 9, out); });
  gFIPS_powerupStatus = status;
  for (size_t i = 0; i < gated.size(); ++i) {
    std::memset(ctx, 0xa5, sizeof ctx);
    std::memset(out, 0x5a, sizeof out);
    slot = block;
    EXPECT_EQ(gated[i](), status) << "entry " << i;
    EXPECT_TRUE(std::all_of(ctx, ctx + sizeof ctx, [](uint8_t b) { return b == 0xa5; })) << "entry " << i;
    EXPECT_TRUE(std::all_of(out, out + 64, [](uint8_t b) { return b == 0x5a; })) << "entry " << i;
    EXPECT_EQ(slot, block) << "entry " << i;
  }
  VOR_free(&block);
  const Bytes abc = {'a', 'b', 'c'};
  for (const auto &[form, md] : AllForms(AlgoNamed("MD5"), abc))
    EXPECT_EQ(ToHex(md), "900150983cd24fb0d6963f7d28e17f72") << form;
  uint8_t empty[64] = {0x80}, *text = nullptr;
  uint32_t tl = 0;
  Sha256Context c;
  Sha512Context c5;
  for (const int32_t st : {HMAC_MD5_quick(abc.data(), 3, abc.data(), 3, out), SHA1_G(empty, out), SHA1_GK(empty, out),
                           SHA224_initDigest(&c), SHA224_finalDigest(&c, out), SHA384_initDigest(&c5),
                           SHA384_finalDigest(&c5, out), BASE64_initializeContext(),
                           BASE64_encodeMessage(abc.data(), 3, &text, &tl), BASE64_freeMessage(&text),
                           BASE64_freeContext()})
    EXPECT_EQ(st, 0);
}

}  // namespace
}  // namespace kel::test
