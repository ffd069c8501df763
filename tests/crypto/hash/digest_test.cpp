// Beyond the vectors. Digest contexts: what finalising leaves behind, suite
// lookup, the G functions, wide counters, bad input, allocation, zeroing on
// release, and the gate (with the entries it leaves open). HMAC contexts
// (the vectors also take a suite from outside the toolkit: hash_util.h):
// reuse without allocation, release rules and zeroing, a failing suite,
// allocation failure, bad input. Base64: round trips of every length against
// OpenSSL, and every way a text can be refused.
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


class Hmac : public HashTest {};

const uint8_t kKey[] = "key";

TEST_F(Hmac, ResetReusesTheContextWithoutAllocating) {
  const Bytes key(20, 0x0b), msg(64, 0x42);
  for (const auto &a : Algos()) {
    HmacContext *ctx = nullptr;
    ASSERT_EQ(HmacCreate(&ctx, a.suite()), 0);
    ASSERT_EQ(HmacKey(ctx, key.data(), 20), 0);
    Bytes out(a.digestSize);
    const uint64_t before = kel::mem::allocation_count();
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(HmacUpdate(ctx, msg.data(), 64), 0);
      ASSERT_EQ(HmacFinal(ctx, out.data()), 0);
      EXPECT_EQ(out, Openssl(a, msg, &key)) << a.name;
      ASSERT_EQ(HmacReset(ctx), 0);
    }
    EXPECT_EQ(kel::mem::allocation_count(), before) << a.name;
    // A new key replaces the precomputed pads.
    const Bytes key2(msg.begin(), msg.begin() + 7);
    ASSERT_EQ(HmacKey(ctx, key2.data(), 7), 0);
    ASSERT_EQ(HmacUpdate(ctx, msg.data(), 64), 0);
    ASSERT_EQ(HmacFinal(ctx, out.data()), 0);
    EXPECT_EQ(out, Openssl(a, msg, &key2)) << a.name;
    ASSERT_EQ(HmacDelete(&ctx), 0);
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(HmacDelete(&ctx), 0);
  }
  // The fixed functions allocate nothing at all, even for a long key.
  const uint64_t before = kel::mem::allocation_count();
  uint8_t out[20];
  const uint8_t *parts[2] = {msg.data(), key.data()};
  const uint32_t lens[2] = {64, 20};
  ASSERT_EQ(HMAC_MD5(key.data(), 20, msg.data(), 64, key.data(), 20, out), 0);
  const Bytes longKey(65, 0x11);  // hashed first
  ASSERT_EQ(HMAC_SHA1Ex(longKey.data(), 65, parts, lens, 2, out), 0);
  EXPECT_EQ(kel::mem::allocation_count(), before);
}

int32_t FailingFree(void **) { return -6104; }

// Whatever the suite, HMAC releases its digest context (the key's inner
// chaining state) and itself zeroed; never keyed, it releases itself alone;
// a digest context that cannot be freed keeps the HMAC context alive.
TEST_F(Hmac, DeleteRulesAndZeroing) {
  ReleaseWatch watch;
  HmacContext *ctx = nullptr;
  uint8_t out[64];
  for (const auto &a : Algos()) {
    ASSERT_EQ(HmacCreate(&ctx, a.suite()), 0);
    ASSERT_EQ(HmacKey(ctx, kKey, 3) | HmacUpdate(ctx, kKey, 3) | HmacFinal(ctx, out) | HmacKey(ctx, kKey, 2), 0);
    ASSERT_EQ(HmacDelete(&ctx), 0);
  }
  EXPECT_EQ(watch.released, 2 * 6);
  ASSERT_EQ(HmacCreate(&ctx, AlgoNamed("MD5").suite()), 0);
  EXPECT_EQ(HmacDelete(&ctx), 0);
  watch.stop();
  EXPECT_EQ(watch.released, 2 * 6 + 1);
  EXPECT_EQ(watch.dirty, 0);
  EXPECT_TRUE(watch.live.empty());
  EXPECT_EQ(HmacDelete(nullptr), ERR_NULL_POINTER);
  HashSuite stubborn = *AlgoNamed("SHA256").suite();
  stubborn.freeFunc = FailingFree;
  ASSERT_EQ(HmacCreate(&ctx, &stubborn), 0);
  ASSERT_EQ(HmacKey(ctx, kKey, 3), 0);
  EXPECT_EQ(HmacDelete(&ctx), -6104);
  ASSERT_NE(ctx, nullptr);
  ASSERT_EQ(SHA256_freeDigest(&ctx->hashCtx), 0);
  EXPECT_EQ(HmacDelete(&ctx), 0);
  EXPECT_EQ(ctx, nullptr);
}

// A foreign suite whose n-th call fails: HMAC hands that status back from
// whichever step made the call. A suite too wide for the context is refused.
int gCallsLeft = -1;
bool FailNow() { return --gCallsLeft == 0; }
HashSuite gReal;

TEST_F(Hmac, EveryFailingCallOfAForeignSuiteIsReported) {
  gReal = *AlgoNamed("SHA256").suite();
  HashSuite flaky = gReal;
  flaky.allocFunc = [](void **c) { return FailNow() ? -6104 : gReal.allocFunc(c); };
  flaky.initFunc = [](void *c) { return FailNow() ? -6104 : gReal.initFunc(c); };
  flaky.updateFunc = [](void *c, const uint8_t *d, uint32_t n) {
    return FailNow() ? -6104 : gReal.updateFunc(c, d, n);
  };
  flaky.finalFunc = [](void *c, uint8_t *o) { return FailNow() ? -6104 : gReal.finalFunc(c, o); };
  const Bytes key(100, 0x0b), msg(10, 1);  // a key longer than the block is hashed first
  uint8_t out[32];
  int failures = 0;
  for (;; ++failures) {
    gCallsLeft = failures + 1;
    const int32_t st = HmacQuick(key.data(), 100, msg.data(), 10, out, &flaky);
    if (st == 0) break;
    EXPECT_EQ(st, -6104) << "call " << failures + 1;
    ASSERT_LT(failures, 20);
  }
  gCallsLeft = -1;
  EXPECT_EQ(failures, 12);  // key digest 4, inner pad 2, text 1, final 5
  EXPECT_EQ(Bytes(out, out + 32), Openssl(AlgoNamed("SHA256"), msg, &key));
  HmacContext *ctx = nullptr;
  HashSuite wide = gReal, deep = gReal;
  wide.blockSize = deep.digestSize = HMAC_MAX_BLOCK_SIZE + 1;
  EXPECT_EQ(HmacCreate(&ctx, &wide), -6010);
  EXPECT_EQ(HmacCreate(&ctx, &deep), -6010);
  EXPECT_EQ(ctx, nullptr);
}

// Bad input, and allocation failure that leaves nothing behind.
TEST_F(Hmac, NullPointersAndAllocationFailure) {
  const HashSuite *suite = AlgoNamed("SHA1").suite();
  uint8_t out[20];
  HmacContext *ctx = reinterpret_cast<HmacContext *>(0x1);
  kel::mem::fail_after(0);
  EXPECT_EQ(HmacCreate(&ctx, suite), ERR_MEM_ALLOC_FAIL);
  EXPECT_EQ(ctx, reinterpret_cast<HmacContext *>(0x1));
  ctx = nullptr;
  ASSERT_EQ(HmacCreate(&ctx, suite), 0);
  kel::mem::fail_after(0);  // the digest context, allocated on first need
  EXPECT_EQ(HmacKey(ctx, kKey, 3), ERR_MEM_ALLOC_FAIL);
  kel::mem::fail_after(-1);
  EXPECT_EQ(HmacDelete(&ctx), 0);
  for (int64_t n : {0, 1}) {
    kel::mem::fail_after(n);
    EXPECT_EQ(HmacQuick(kKey, 3, kKey, 3, out, suite), ERR_MEM_ALLOC_FAIL);
  }
  kel::mem::fail_after(-1);
  EXPECT_EQ(HmacCreate(nullptr, suite), ERR_NULL_POINTER);
  EXPECT_EQ(HmacCreate(&ctx, nullptr), ERR_NULL_POINTER);
  ASSERT_EQ(HmacCreate(&ctx, suite), 0);
  EXPECT_EQ(HmacUpdate(ctx, kKey, 3), ERR_NULL_POINTER);  // not keyed: no digest context yet
  EXPECT_EQ(HmacKey(ctx, nullptr, 0), ERR_NULL_POINTER);
  EXPECT_EQ(HmacKey(nullptr, kKey, 3), ERR_NULL_POINTER);
  ASSERT_EQ(HmacKey(ctx, kKey, 3), 0);
  EXPECT_EQ(HmacUpdate(ctx, nullptr, 0), ERR_NULL_POINTER);
  EXPECT_EQ(HmacFinal(ctx, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(HmacReset(nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(HmacDelete(&ctx), 0);
  EXPECT_EQ(HmacQuick(kKey, 3, nullptr, 0, out, suite), ERR_NULL_POINTER);
  EXPECT_EQ(HmacQuick(kKey, 3, kKey, 3, out, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(HMAC_MD5(nullptr, 3, kKey, 3, nullptr, 0, out), ERR_NULL_POINTER);
  EXPECT_EQ(HMAC_MD5_quick(kKey, 3, kKey, 3, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(HMAC_SHA1(kKey, 3, kKey, 3, kKey, 3, nullptr), ERR_NULL_POINTER);
  const uint8_t *parts[2] = {kKey, nullptr};
  const uint32_t lens[2] = {3, 0};
  EXPECT_EQ(HMAC_SHA1Ex(kKey, 3, parts, lens, 2, out), ERR_NULL_POINTER);
  // No texts at all: the MAC of the empty message; a null second text is
  // skipped whatever its length.
  const Bytes key(kKey, kKey + 3);
  ASSERT_EQ(HMAC_SHA1Ex(kKey, 3, nullptr, nullptr, 0, out), 0);
  EXPECT_EQ(Bytes(out, out + 20), Openssl(AlgoNamed("SHA1"), {}, &key));
  ASSERT_EQ(HMAC_SHA1(kKey, 3, kKey, 3, nullptr, 99, out), 0);
  EXPECT_EQ(Bytes(out, out + 20), Openssl(AlgoNamed("SHA1"), key, &key));
}

class Base64 : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(BASE64_initializeContext(), 0); }
  void TearDown() override { BASE64_freeContext(); }

  static std::string Encode(const Bytes &data) {
    uint8_t *text = nullptr;
    uint32_t len = 99;
    const uint8_t *p = data.empty() ? reinterpret_cast<const uint8_t *>("") : data.data();
    EXPECT_EQ(BASE64_encodeMessage(p, static_cast<uint32_t>(data.size()), &text, &len), 0);
    std::string s(reinterpret_cast<char *>(text), len);
    EXPECT_EQ(BASE64_freeMessage(&text), 0);
    return s;
  }
  // The status, and the bytes when it is 0.
  static int32_t Decode(const std::string &text, Bytes *out) {
    uint8_t *data = nullptr;
    uint32_t len = 0;
    const auto *p = reinterpret_cast<const uint8_t *>(text.data());
    const int32_t s = BASE64_decodeMessage(p, static_cast<uint32_t>(text.size()), &data, &len);
    if (s == 0) out->assign(data, data + len);
    if (data != nullptr) {
      EXPECT_EQ(BASE64_freeMessage(&data), 0);  // handed over even on failure
    }
    return s;
  }
};

TEST_F(Base64, RoundTripsAgreeWithOpenssl) {
  std::mt19937 rng(5);
  for (size_t n = 0; n < 200; ++n) {
    Bytes data(n);
    for (auto &b : data) b = static_cast<uint8_t>(rng());
    std::string want(4 * ((n + 2) / 3) + 1, '\0');
    want.resize(EVP_EncodeBlock(reinterpret_cast<unsigned char *>(want.data()), data.data(), static_cast<int>(n)));
    ASSERT_EQ(Encode(data), want) << n;
    if (n == 0) continue;
    Bytes back;
    ASSERT_EQ(Decode(want, &back), 0);
    EXPECT_EQ(back, data) << n;
  }
}

TEST_F(Base64, RefusedTexts) {
  for (const char *bad : {"", "Zg=", "Zm9vY", "Zm9vYg=", "Zg==Zm9v", "Zm8=Zm9v", "=m9v", "Z=9v", "==9v", "Zm9!",
                          "Zm9v\nZm9v", "Zm 9", "Zm9-", "Zm9_", "Zg\x80=", "====", "Zm9v===="}) {
    Bytes out;
    EXPECT_EQ(Decode(bad, &out), ERR_BASE64_BAD_INPUT) << bad;
  }
  // After the first "=" of the last group nothing more is looked at.
  Bytes out;
  ASSERT_EQ(Decode("Zg=x", &out), 0);
  EXPECT_EQ(out, Bytes{'f'});
}

TEST_F(Base64, NullsTablesAndAllocation) {
  uint8_t *buf = nullptr;
  uint32_t len = 0;
  const uint8_t text[] = "Zm9v";
  EXPECT_EQ(BASE64_encodeMessage(nullptr, 0, &buf, &len), ERR_NULL_POINTER);
  EXPECT_EQ(BASE64_encodeMessage(text, 4, nullptr, &len), ERR_NULL_POINTER);
  EXPECT_EQ(BASE64_encodeMessage(text, 4, &buf, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(BASE64_decodeMessage(nullptr, 4, &buf, &len), ERR_NULL_POINTER);
  EXPECT_EQ(BASE64_decodeMessage(text, 4, nullptr, &len), ERR_NULL_POINTER);
  EXPECT_EQ(BASE64_freeMessage(nullptr), ERR_NULL_POINTER);
  // A text too long for a 32-bit length is refused before anything is read.
  EXPECT_EQ(BASE64_encodeMessage(text, 0xffffffffu, &buf, &len), -6003);
  EXPECT_EQ(buf, nullptr);

  kel::mem::fail_after(0);
  EXPECT_EQ(BASE64_encodeMessage(text, 4, &buf, &len), ERR_MEM_ALLOC_FAIL);
  kel::mem::fail_after(0);
  EXPECT_EQ(BASE64_decodeMessage(text, 4, &buf, &len), ERR_MEM_ALLOC_FAIL);
  kel::mem::fail_after(0);
  EXPECT_EQ(BASE64_initializeContext(), ERR_MEM_ALLOC_FAIL);
  kel::mem::fail_after(-1);
  EXPECT_EQ(buf, nullptr);

  // Initialising twice does not leak (the sanitizer build checks); after the
  // release, decoding has no table and a second release has nothing to free.
  ASSERT_EQ(BASE64_initializeContext(), 0);
  ASSERT_EQ(BASE64_freeContext(), 0);
  EXPECT_EQ(BASE64_freeContext(), ERR_NULL_POINTER);
  EXPECT_EQ(BASE64_decodeMessage(text, 4, &buf, &len), ERR_BASE64_NO_TABLE);
  EXPECT_EQ(buf, nullptr);
  // Encoding needs no table.
  ASSERT_EQ(BASE64_encodeMessage(text, 4, &buf, &len), 0);
  EXPECT_EQ(len, 8u);
  EXPECT_EQ(BASE64_freeMessage(&buf), 0);
}

}  // namespace
}  // namespace kel::test
