// Fixed one-call HMAC-MD5 and HMAC-SHA1 (RFC 2104) with every state on the
// stack: nothing is allocated. Both digests have 64-byte blocks.
#include <cstring>

#include "crypto/fips/gate.h"
#include "crypto/hash/internal.h"
#include "kel/hmac.h"
#include "kel/vor.h"

namespace kel::hash {
namespace {

// The stack state of one computation, wiped whatever the outcome.
template <class T, uint32_t kDigest>
struct Scratch {
  typename T::Ctx ctx;
  uint8_t block[64];
  uint8_t hashedKey[kDigest];
  ~Scratch() { mem::secure_zero(this, sizeof *this); }
};

// The pointers the texts come through.
int32_t check_texts(const uint8_t *key, const uint8_t *const *texts, const uint32_t *lengths, uint32_t count) {
  if (key == nullptr || (count != 0 && (texts == nullptr || lengths == nullptr))) return ERR_NULL_POINTER;
  return 0;
}
int32_t check_parts(const uint8_t *const *texts, uint32_t count, const uint8_t *result) {
  for (uint32_t i = 0; i < count; ++i)
    if (texts[i] == nullptr) return ERR_NULL_POINTER;
  return result == nullptr ? ERR_NULL_POINTER : 0;
}

// HMAC over `count` texts; the result first receives the inner digest.
template <class T, uint32_t kDigest>
void hmac_parts(const uint8_t *key, uint32_t keyLength, const uint8_t *const *texts, const uint32_t *lengths,
                uint32_t count, uint8_t *result) {
  Scratch<T, kDigest> w;
  if (keyLength > 64) {
    complete<T>(key, keyLength, w.hashedKey);
    key = w.hashedKey;
    keyLength = kDigest;
  }
  for (uint32_t i = 0; i < 64; ++i) w.block[i] = static_cast<uint8_t>((i < keyLength ? key[i] : 0) ^ 0x36);
  T::init(w.ctx);
  md_update<T>(w.ctx, w.block, 64);
  for (uint32_t i = 0; i < count; ++i) md_update<T>(w.ctx, texts[i], lengths[i]);
  T::finish(w.ctx, result);
  for (uint32_t i = 0; i < 64; ++i) w.block[i] ^= 0x36 ^ 0x5c;
  T::init(w.ctx);
  md_update<T>(w.ctx, w.block, 64);
  md_update<T>(w.ctx, result, kDigest);
  T::finish(w.ctx, result);
}

// One text, and a second one only when it is there and not empty; the gate
// (when there is one) between the first checks and the second.
template <class T, uint32_t kDigest, bool kGated>
int32_t hmac_two(const uint8_t *key, uint32_t keyLength, const uint8_t *text, uint32_t textLength,
                 const uint8_t *text2, uint32_t text2Length, uint8_t *result) {
  const uint8_t *texts[2] = {text, text2};
  const uint32_t lengths[2] = {textLength, text2Length};
  const uint32_t count = (text2 != nullptr && text2Length != 0) ? 2 : 1;
  if (int32_t s = check_texts(key, texts, lengths, count); s != 0) return s;
  if constexpr (kGated) {
    if (int32_t s = fips::gate(); s != 0) return s;
  }
  if (int32_t s = check_parts(texts, count, result); s != 0) return s;
  hmac_parts<T, kDigest>(key, keyLength, texts, lengths, count, result);
  return 0;
}

}  // namespace
}  // namespace kel::hash

int32_t HMAC_MD5(const uint8_t *key, uint32_t keyLength, const uint8_t *text, uint32_t textLength,
                 const uint8_t *text2, uint32_t text2Length, uint8_t *result) {
  return kel::hash::hmac_two<kel::hash::Md5, 16, false>(key, keyLength, text, textLength, text2, text2Length, result);
}

int32_t HMAC_MD5_quick(const uint8_t *key, uint32_t keyLength, const uint8_t *text, uint32_t textLength,
                       uint8_t *result) {
  return HMAC_MD5(key, keyLength, text, textLength, nullptr, 0, result);
}

int32_t HMAC_SHA1(const uint8_t *key, uint32_t keyLength, const uint8_t *text, uint32_t textLength,
                  const uint8_t *text2, uint32_t text2Length, uint8_t *result) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  return kel::hash::hmac_two<kel::hash::Sha1, 20, false>(key, keyLength, text, textLength, text2, text2Length,
                                                          result);
}

int32_t HMAC_SHA1_quick(const uint8_t *key, uint32_t keyLength, const uint8_t *text, uint32_t textLength,
                        uint8_t *result) {
  return HMAC_SHA1(key, keyLength, text, textLength, nullptr, 0, result);
}

// Its missing key or text list is reported before the gate, as the SHA-1
// operations it is made of check the gate themselves.
int32_t HMAC_SHA1Ex(const uint8_t *key, uint32_t keyLength, const uint8_t *const *texts,
                    const uint32_t *textLengths, uint32_t count, uint8_t *result) {
  if (int32_t s = kel::hash::check_texts(key, texts, textLengths, count); s != 0) return s;
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (int32_t s = kel::hash::check_parts(texts, count, result); s != 0) return s;
  kel::hash::hmac_parts<kel::hash::Sha1, 20>(key, keyLength, texts, textLengths, count, result);
  return 0;
}
