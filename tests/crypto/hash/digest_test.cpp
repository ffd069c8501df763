// The digests, HMAC and Base64: the published vectors (the CAVP Monte Carlo
// chains, of one short length each, reach nothing more) and OpenSSL around
// every block boundary in every form on every path; then contexts, the gate and bad input.
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>
#include <functional>
#include <random>
#include <thread>

#include "kel/base64.h"
#include "kel/hash.h"
#include "kel/hmac.h"
#include "kel/vor.h"
#include "tests/crypto/crypto_test_util.h"

namespace kel::test {
namespace {

struct Algo {
  const char *name;
  int32_t id;  // CRYPTO_getRSAHashAlgo number
  uint32_t digestSize;
  uint32_t blockSize;
  int32_t (*oneCall)(const uint8_t *, uint32_t, uint8_t *);
  const EVP_MD *(*evp)();
  const HashSuite *suite() const {
    const HashSuite *s = nullptr;
    EXPECT_EQ(CRYPTO_getRSAHashAlgo(id, &s), 0);
    return s;
  }
};

const std::vector<Algo> &Algos() {
  static const std::vector<Algo> all = {
      {"MD5", 4, 16, 64, MD5_completeDigest, EVP_md5},
      {"SHA1", 5, 20, 64, SHA1_completeDigest, EVP_sha1},
      {"SHA224", 14, 28, 64, SHA224_completeDigest, EVP_sha224},
      {"SHA256", 11, 32, 64, SHA256_completeDigest, EVP_sha256},
      {"SHA384", 12, 48, 128, SHA384_completeDigest, EVP_sha384},
      {"SHA512", 13, 64, 128, SHA512_completeDigest, EVP_sha512},
  };
  return all;
}

const Algo &AlgoNamed(const std::string &name) {
  for (const auto &a : Algos())
    if (name == a.name) return a;
  ADD_FAILURE() << "no digest " << name;
  return Algos()[0];
}

// A valid pointer even for an empty buffer.
const uint8_t kNothing = 0;
const uint8_t *Ptr(const Bytes &b) { return b.empty() ? &kNothing : b.data(); }
using Forms = std::vector<std::pair<std::string, Bytes>>;

// OpenSSL's digest of msg, or its HMAC under *key.
Bytes Openssl(const Algo &a, const Bytes &msg, const Bytes *key = nullptr) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned len = 0;
  if (key == nullptr)
    EVP_Digest(Ptr(msg), msg.size(), out.data(), &len, a.evp(), nullptr);
  else
    HMAC(a.evp(), Ptr(*key), static_cast<int>(key->size()), Ptr(msg), msg.size(), out.data(), &len);
  out.resize(len);
  return out;
}

// Streams msg through the suite in pieces of the given sizes (cycled; 0
// means one update with everything).
Bytes SuiteDigest(const HashSuite &s, const Bytes &msg, const std::vector<size_t> &pieces = {0}) {
  void *ctx = nullptr;
  EXPECT_EQ(s.allocFunc(&ctx), 0);
  EXPECT_EQ(s.initFunc(ctx), 0);
  const uint8_t *p = Ptr(msg);
  size_t off = 0, k = 0;
  do {
    size_t n = pieces[k++ % pieces.size()];
    if (n == 0 || n > msg.size() - off) n = msg.size() - off;
    EXPECT_EQ(s.updateFunc(ctx, p + off, static_cast<uint32_t>(n)), 0);
    off += n;
  } while (off < msg.size());
  Bytes out(s.digestSize);
  EXPECT_EQ(s.finalFunc(ctx, out.data()), 0);
  EXPECT_EQ(s.freeFunc(&ctx), 0);
  EXPECT_EQ(ctx, nullptr);
  return out;
}

// Every form a caller may use, each labelled for the failure message.
Forms AllForms(const Algo &a, const Bytes &msg, uint32_t seed = 1) {
  Forms r;
  Bytes one(a.digestSize);
  EXPECT_EQ(a.oneCall(Ptr(msg), static_cast<uint32_t>(msg.size()), one.data()), 0);
  r.emplace_back("one-call", one);
  const HashSuite &s = *a.suite();
  r.emplace_back("suite", SuiteDigest(s, msg));
  std::mt19937 rng(seed);
  std::vector<size_t> random;
  for (int i = 0; i < 16; ++i) random.push_back(1 + rng() % (2 * a.blockSize + 7));
  r.emplace_back("random pieces", SuiteDigest(s, msg, random));
  return r;
}

Bytes RandomBytes(std::mt19937 &rng, size_t n) {
  Bytes b(n);
  for (auto &x : b) x = static_cast<uint8_t>(rng());
  return b;
}

// Every HMAC form for this digest, labelled; a copy of the suite is not one of
// the toolkit's records and takes the textbook path.
Forms AllHmacForms(const Algo &a, const Bytes &key, const Bytes &msg, uint32_t seed = 1) {
  const uint8_t *k = Ptr(key), *m = Ptr(msg);
  const auto kl = static_cast<uint32_t>(key.size()), ml = static_cast<uint32_t>(msg.size());
  std::mt19937 rng(seed);
  Forms r;
  const HashSuite *suite = a.suite();

  Bytes out(a.digestSize);
  const auto add = [&](const char *form, int32_t status) {
    EXPECT_EQ(status, 0) << form;
    r.emplace_back(form, out);
  };
  HmacContext *ctx = nullptr;
  EXPECT_EQ(HmacCreate(&ctx, suite), 0);
  EXPECT_EQ(HmacKey(ctx, k, kl), 0);
  EXPECT_EQ(HmacUpdate(ctx, m, ml), 0);
  add("generic", HmacFinal(ctx, out.data()));
  EXPECT_EQ(HmacReset(ctx), 0);
  Bytes data = msg;
  InPieces(data, [&] { return 1 + rng() % (2 * a.blockSize + 3); },
           [&](uint8_t *p, uint32_t n) { return HmacUpdate(ctx, p, n); });
  add("generic pieces after reset", HmacFinal(ctx, out.data()));
  EXPECT_EQ(HmacDelete(&ctx), 0);

  const uint32_t cut = ml ? static_cast<uint32_t>(rng() % (ml + 1)) : 0;
  add("HmacQuick", HmacQuick(k, kl, m, ml, out.data(), suite));
  add("HmacQuickEx split", HmacQuickEx(k, kl, m, cut, m + cut, ml - cut, out.data(), suite));
  const HashSuite foreign = *suite;
  add("foreign suite", HmacQuick(k, kl, m, ml, out.data(), &foreign));

  if (a.id == 4 || a.id == 5) {
    const bool md5 = a.id == 4;
    add("fixed quick", (md5 ? HMAC_MD5_quick : HMAC_SHA1_quick)(k, kl, m, ml, out.data()));
    add("fixed two", (md5 ? HMAC_MD5 : HMAC_SHA1)(k, kl, m, cut, m + cut, ml - cut, out.data()));
    if (!md5) {
      const uint32_t cut2 = cut + (ml - cut) / 2;
      const uint8_t *parts[3] = {m, m + cut, m + cut2};
      const uint32_t lens[3] = {cut, cut2 - cut, ml - cut2};
      add("HMAC_SHA1Ex three parts", HMAC_SHA1Ex(k, kl, parts, lens, 3, out.data()));
    }
  }
  return r;
}

using Vectors = GateOpenTest;

// Lengths within 3 bytes of every multiple of the block up to four blocks,
// and of the last length that still pads into one block.
std::vector<size_t> BoundaryLengths(size_t block) {
  const size_t lengthField = block == 128 ? 16 : 8;
  std::vector<size_t> lens;
  for (size_t k = 0; k <= 4; ++k)
    for (size_t edge : {k * block, k * block + block - lengthField - 1})
      for (size_t d = 0; d <= 6; ++d)
        if (edge + d >= 3) lens.push_back(edge + d - 3);
  return lens;
}

// Every digest and HMAC form of one message against OpenSSL; keys of the
// boundary lengths too, cycled against the messages.
void ExpectOpenssl(const Algo &a, std::mt19937 &rng, size_t len, size_t keyLen) {
  const Bytes msg = RandomBytes(rng, len), key = RandomBytes(rng, keyLen);
  const Bytes digest = Openssl(a, msg), mac = Openssl(a, msg, &key);
  for (const auto &[form, got] : AllForms(a, msg, static_cast<uint32_t>(rng())))
    ASSERT_EQ(ToHex(got), ToHex(digest)) << a.name << " length " << len << " " << form;
  for (const auto &[form, got] : AllHmacForms(a, key, msg, static_cast<uint32_t>(rng())))
    ASSERT_EQ(ToHex(got), ToHex(mac)) << a.name << " key " << keyLen << " msg " << len << " " << form;
}

// Digest records of Len (bits), Msg and MD (a Len of 0 carries "Msg = 00");
// CAVP HMAC: [L=n] is the digest size in bytes, Mac the first Tlen bytes;
// then OpenSSL on the boundary lengths.
TEST_F(Vectors, PublishedAndOpensslOnEveryPath) {
  std::mt19937 rng(11);
  ForEachCpuPath([&] {
    for (const char *file :
         {"rfc1321_md5", "SHA1ShortMsg", "SHA1LongMsg", "SHA224ShortMsg", "SHA224LongMsg", "SHA256ShortMsg",
          "SHA256LongMsg", "SHA384ShortMsg", "SHA384LongMsg", "SHA512ShortMsg", "SHA512LongMsg"}) {
      const std::string name(file);
      const Algo &a = AlgoNamed(name[0] == 'r' ? "MD5" : name.substr(0, name.find_first_of("SL", 1)));
      const auto records = ReadRsp("hash/" + name + (name[0] == 'r' ? ".txt" : ".rsp"));
      ASSERT_GE(records.size(), 7u) << file;
      for (const auto &r : records) {
        Bytes msg = r.Hex("Msg");
        msg.resize(std::stoul(r.Get("Len")) / 8);
        for (const auto &[form, got] : AllForms(a, msg, static_cast<uint32_t>(r.line)))
          EXPECT_EQ(ToHex(got), r.Get("MD")) << file << ":" << r.line << " " << form;
      }
    }
    const auto records = ReadRsp("hmac/HMAC.rsp");
    ASSERT_GT(records.size(), 1000u);
    for (const auto &r : records) {
      const auto a = std::find_if(Algos().begin() + 1, Algos().end(),
                                  [&r](const Algo &x) { return x.digestSize == std::stoul(r.section.at("L")); });
      ASSERT_NE(a, Algos().end()) << r.line;
      const std::string tag = r.Get("Mac");
      for (const auto &[form, mac] : AllHmacForms(*a, r.Hex("Key"), r.Hex("Msg")))
        EXPECT_EQ(ToHex(mac).substr(0, tag.size()), tag) << "HMAC.rsp:" << r.line << " " << form;
    }
    for (const auto &a : Algos()) {
      const auto lens = BoundaryLengths(a.blockSize);
      for (size_t i = 0; i < lens.size(); ++i)
        ExpectOpenssl(a, rng, lens[i], lens[(i * 7) % lens.size()] % (2 * a.blockSize + 2));
    }
  });
}

// Contexts share nothing and the kernel table is read by every thread.
TEST_F(Vectors, ThreadsAgreeWithOpenssl) {
  std::vector<std::thread> threads;
  for (uint32_t t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      std::mt19937 rng(t);
      for (int i = 0; i < 60; ++i) ExpectOpenssl(Algos()[(t + i) % 6], rng, rng() % 300, rng() % 200);
    });
  for (auto &t : threads) t.join();
}

using Digest = GateOpenTest;

template <class T>
bool AllZero(const T &v) {
  const auto *p = reinterpret_cast<const uint8_t *>(&v);
  return std::all_of(p, p + sizeof v, [](uint8_t b) { return b == 0; });
}

// SHA-2 final zeroes its context (a caller's on the stack is wiped by nothing else).
TEST_F(Digest, WhatFinalLeaves) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  uint8_t out[64];
  Sha256Context c256;
  Sha512Context c512;
  ASSERT_FALSE(SHA224_initDigest(&c256) || SHA256_updateDigest(&c256, abc, 3) || SHA224_finalDigest(&c256, out));
  ASSERT_FALSE(SHA512_initDigest(&c512) || SHA512_updateDigest(&c512, abc, 3) || SHA512_finalDigest(&c512, out));
  EXPECT_TRUE(AllZero(c256));
  EXPECT_TRUE(AllZero(c512));
}

// Only the low byte of the number selects the digest.
TEST_F(Digest, SuiteLookup) {
  const HashSuite *s = nullptr;
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
  gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;  // they are not behind the gate
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
  // {high, low, shift, high after, low after}
  const uint64_t shifts[][5] = {{1, 2, 0, 1, 2},
                                {0x1, 0x8000000000000001u, 1, 0x3, 0x2},
                                {0xff, 0x1234, 68, 0x12340, 0},
                                {0xff, 0xff, 128, 0, 0}};
  for (const auto &k : shifts) {
    const Uint128 r = u16_Shl(k[0], k[1], static_cast<uint32_t>(k[2]));
    EXPECT_TRUE(r.high == k[3] && r.low == k[4]) << k[2];
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
// nothing; HMAC-MD5 and SHA-224 and SHA-384 init and final go on working (MD5
// does in kelctl's tests, the G functions and Base64 in their own).
TEST_F(Digest, Gate) {
  const int32_t status = -16525;
  const HashSuite *sha256 = AlgoNamed("SHA256").suite();
  alignas(16) uint8_t ctx[sizeof(HmacContext)];
  uint8_t out[64], msg[200];
  void *block = nullptr, *slot = nullptr;
  ASSERT_EQ(VOR_alloc(64, &block), 0);
  auto *h = reinterpret_cast<HmacContext *>(ctx);
  auto *hp = reinterpret_cast<HmacContext **>(&slot);
  std::vector<std::function<int32_t()>> gated = {[&] { return HmacKey(h, msg, 20); },
                                                 [&] { return HmacReset(h); },
                                                 [&] { return HmacUpdate(h, msg, 20); },
                                                 [&] { return HmacFinal(h, out); },
                                                 [&] { return HmacDelete(hp); },
                                                 [&] { return HmacQuickEx(msg, 5, msg, 7, msg, 3, out, sha256); },
                                                 [&] { return HMAC_SHA1(msg, 5, msg, 7, nullptr, 0, out); },
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
  const uint8_t abc[] = {'a', 'b', 'c'};
  Sha256Context c;
  Sha512Context c5;
  for (const int32_t st : {HMAC_MD5_quick(abc, 3, abc, 3, out), SHA224_initDigest(&c),
                           SHA224_finalDigest(&c, out), SHA384_initDigest(&c5),
                           SHA384_finalDigest(&c5, out)})
    EXPECT_EQ(st, 0);
}


using Hmac = GateOpenTest;

const uint8_t kKey[] = "key";

int32_t FailingFree(void **) { return -6104; }

// Whatever the suite, reset and a new key reuse the context without
// allocating, and HMAC releases its digest context (the key's inner chaining
// state) and itself zeroed; never keyed, it releases itself alone; a digest
// context that cannot be freed keeps the HMAC context alive.
TEST_F(Hmac, ReuseDeleteAndZeroing) {
  const Bytes key(20, 0x0b), msg(64, 0x42), key2(msg.begin(), msg.begin() + 7);
  ReleaseWatch watch;
  HmacContext *ctx = nullptr;
  for (const auto &a : Algos()) {
    ASSERT_EQ(HmacCreate(&ctx, a.suite()), 0);
    ASSERT_EQ(HmacKey(ctx, key.data(), 20), 0);
    Bytes out(a.digestSize);
    const uint64_t before = mem::allocation_count();
    for (const Bytes *k : {&key, &key, &key, &key2}) {
      // A new key after final replaces the precomputed pads.
      ASSERT_EQ(k == &key2 ? HmacKey(ctx, key2.data(), 7) : HmacReset(ctx), 0);
      ASSERT_EQ(HmacUpdate(ctx, msg.data(), 64), 0);
      ASSERT_EQ(HmacFinal(ctx, out.data()), 0);
      EXPECT_EQ(out, Openssl(a, msg, k)) << a.name;
    }
    EXPECT_EQ(mem::allocation_count(), before) << a.name;
    ASSERT_EQ(HmacDelete(&ctx), 0);
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(HmacDelete(&ctx), 0);
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
  // The fixed functions allocate nothing at all, even for a key long enough to be hashed first.
  const uint64_t before = mem::allocation_count();
  uint8_t out[20];
  const Bytes longKey(65, 0x11);
  ASSERT_EQ(HMAC_MD5(longKey.data(), 65, msg.data(), 64, key.data(), 20, out), 0);
  ASSERT_EQ(HMAC_SHA1(longKey.data(), 65, msg.data(), 64, key.data(), 20, out), 0);
  EXPECT_EQ(mem::allocation_count(), before);
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
  for (int64_t n : {0, 1}) {
    kel::mem::fail_after(n);
    EXPECT_EQ(HmacQuick(kKey, 3, kKey, 3, out, suite), ERR_MEM_ALLOC_FAIL);
  }
  kel::mem::fail_after(-1);
  EXPECT_EQ(HmacCreate(nullptr, suite), ERR_NULL_POINTER);
  ctx = nullptr;
  EXPECT_EQ(HmacCreate(&ctx, nullptr), ERR_NULL_POINTER);
  ASSERT_EQ(HmacCreate(&ctx, suite), 0);
  kel::mem::fail_after(0);  // the digest context, allocated on first need
  EXPECT_EQ(HmacKey(ctx, kKey, 3), ERR_MEM_ALLOC_FAIL);
  kel::mem::fail_after(-1);
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

// Base64 is not behind the gate: these tests leave it closed.
class Base64 : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(BASE64_initializeContext(), 0); }
  void TearDown() override { BASE64_freeContext(); }

  // The status, and the bytes when it is 0.
  static int32_t Decode(const std::string &text, Bytes *out) {
    uint8_t *data = nullptr;
    uint32_t len = 0;
    const auto *p = reinterpret_cast<const uint8_t *>(text.data());
    const int32_t s = BASE64_decodeMessage(p, static_cast<uint32_t>(text.size()), &data, &len);
    if (s == 0) out->assign(data, data + len);
    EXPECT_EQ(data == nullptr ? 0 : BASE64_freeMessage(&data), 0);  // handed over even on failure
    return s;
  }
};

TEST_F(Base64, RoundTripsAgreeWithOpenssl) {
  std::mt19937 rng(5);
  for (size_t n = 0; n < 200; ++n) {
    const Bytes data = RandomBytes(rng, n);
    std::string want(4 * ((n + 2) / 3) + 1, '\0');
    want.resize(EVP_EncodeBlock(reinterpret_cast<unsigned char *>(want.data()), data.data(), static_cast<int>(n)));
    uint8_t *text = nullptr;
    uint32_t len = 99;
    ASSERT_EQ(BASE64_encodeMessage(Ptr(data), static_cast<uint32_t>(n), &text, &len), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(text), len), want) << n;
    ASSERT_EQ(BASE64_freeMessage(&text), 0);
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
