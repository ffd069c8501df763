// Fixed one-call HMAC-MD5 and HMAC-SHA1 (RFC 2104) with every state on the
// stack: nothing is allocated. Both digests have 64-byte blocks.
#include <cstring>

#include "crypto/fips/gate.h"
#include "crypto/hash/md.h"
#include "kel/hmac.h"
#include "kel/vor.h"

namespace kel::hash {
namespace {

struct Md5Ops {
  using Ctx = Md5Context;
  static constexpr uint32_t kDigest = 16;
  static int32_t init(Ctx *c) { return MD5Init_m(c); }
  static int32_t update(Ctx *c, const uint8_t *p, uint32_t n) { return MD5Update_m(c, p, n); }
  static int32_t final(Ctx *c, uint8_t *out) { return MD5Final_m(c, out); }
  static int32_t complete(const uint8_t *p, uint32_t n, uint8_t *out) { return MD5_completeDigest(p, n, out); }
};

struct Sha1Ops {
  using Ctx = Sha1Context;
  static constexpr uint32_t kDigest = 20;
  static int32_t init(Ctx *c) { return SHA1_initDigest(c); }
  static int32_t update(Ctx *c, const uint8_t *p, uint32_t n) { return SHA1_updateDigest(c, p, n); }
  static int32_t final(Ctx *c, uint8_t *out) { return SHA1_finalDigest(c, out); }
  static int32_t complete(const uint8_t *p, uint32_t n, uint8_t *out) { return SHA1_completeDigest(p, n, out); }
};

// The stack state of one computation, wiped whatever the outcome.
template <class Ops>
struct Scratch {
  typename Ops::Ctx ctx;
  uint8_t block[64];
  uint8_t hashedKey[Ops::kDigest];
  ~Scratch() { VOR_MEMSET(this, 0, sizeof *this); }
};

// HMAC over `count` texts; the result first receives the inner digest.
template <class Ops>
int32_t hmac_parts(const uint8_t *key, uint32_t keyLength, const uint8_t *const *texts, const uint32_t *lengths,
                   uint32_t count, uint8_t *result) {
  if (key == nullptr || (count != 0 && (texts == nullptr || lengths == nullptr))) return ERR_NULL_POINTER;
  Scratch<Ops> w;
  if (keyLength > 64) {
    if (int32_t s = Ops::complete(key, keyLength, w.hashedKey); s != 0) return s;
    key = w.hashedKey;
    keyLength = Ops::kDigest;
  }
  for (uint32_t i = 0; i < 64; ++i) w.block[i] = static_cast<uint8_t>((i < keyLength ? key[i] : 0) ^ 0x36);
  if (int32_t s = Ops::init(&w.ctx); s != 0) return s;
  if (int32_t s = Ops::update(&w.ctx, w.block, 64); s != 0) return s;
  for (uint32_t i = 0; i < count; ++i)
    if (int32_t s = Ops::update(&w.ctx, texts[i], lengths[i]); s != 0) return s;
  if (int32_t s = Ops::final(&w.ctx, result); s != 0) return s;
  for (uint32_t i = 0; i < 64; ++i) w.block[i] ^= 0x36 ^ 0x5c;
  if (int32_t s = Ops::init(&w.ctx); s != 0) return s;
  if (int32_t s = Ops::update(&w.ctx, w.block, 64); s != 0) return s;
  if (int32_t s = Ops::update(&w.ctx, result, Ops::kDigest); s != 0) return s;
  return Ops::final(&w.ctx, result);
}

// One text, and a second one only when it is there and not empty.
template <class Ops>
int32_t hmac_two(const uint8_t *key, uint32_t keyLength, const uint8_t *text, uint32_t textLength,
                 const uint8_t *text2, uint32_t text2Length, uint8_t *result) {
  const uint8_t *texts[2] = {text, text2};
  const uint32_t lengths[2] = {textLength, text2Length};
  const uint32_t count = (text2 != nullptr && text2Length != 0) ? 2 : 1;
  return hmac_parts<Ops>(key, keyLength, texts, lengths, count, result);
}

}  // namespace
}  // namespace kel::hash

using kel::hash::Md5Ops;
using kel::hash::Sha1Ops;

int32_t HMAC_MD5(const uint8_t *key, uint32_t keyLength, const uint8_t *text, uint32_t textLength,
                 const uint8_t *text2, uint32_t text2Length, uint8_t *result) {
  return kel::hash::hmac_two<Md5Ops>(key, keyLength, text, textLength, text2, text2Length, result);
}

int32_t HMAC_MD5_quick(const uint8_t *key, uint32_t keyLength, const uint8_t *text, uint32_t textLength,
                       uint8_t *result) {
  return HMAC_MD5(key, keyLength, text, textLength, nullptr, 0, result);
}

int32_t HMAC_SHA1(const uint8_t *key, uint32_t keyLength, const uint8_t *text, uint32_t textLength,
                  const uint8_t *text2, uint32_t text2Length, uint8_t *result) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  return kel::hash::hmac_two<Sha1Ops>(key, keyLength, text, textLength, text2, text2Length, result);
}

int32_t HMAC_SHA1_quick(const uint8_t *key, uint32_t keyLength, const uint8_t *text, uint32_t textLength,
                        uint8_t *result) {
  return HMAC_SHA1(key, keyLength, text, textLength, nullptr, 0, result);
}

// Not gated itself: the SHA-1 operations it calls are.
int32_t HMAC_SHA1Ex(const uint8_t *key, uint32_t keyLength, const uint8_t *const *texts,
                    const uint32_t *textLengths, uint32_t count, uint8_t *result) {
  return kel::hash::hmac_parts<Sha1Ops>(key, keyLength, texts, textLengths, count, result);
}
