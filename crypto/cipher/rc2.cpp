// RC2 (RFC 2268): key expansion with an effective key length, the block
// functions and the CBC contexts of the RC2 suites. Not gated.
#include <string.h>

#include <array>

#include "crypto/common/mem.h"
#include "kel/rc2.h"
#include "kel/vor.h"

namespace kel::rc2 {
namespace {

// RFC 2268 section 2: PITABLE, a permutation of 0..255 from the digits of pi.
constexpr uint8_t kPiTable[256] = {
    0xd9, 0x78, 0xf9, 0xc4, 0x19, 0xdd, 0xb5, 0xed, 0x28, 0xe9, 0xfd, 0x79, 0x4a, 0xa0, 0xd8, 0x9d,
    0xc6, 0x7e, 0x37, 0x83, 0x2b, 0x76, 0x53, 0x8e, 0x62, 0x4c, 0x64, 0x88, 0x44, 0x8b, 0xfb, 0xa2,
    0x17, 0x9a, 0x59, 0xf5, 0x87, 0xb3, 0x4f, 0x13, 0x61, 0x45, 0x6d, 0x8d, 0x09, 0x81, 0x7d, 0x32,
    0xbd, 0x8f, 0x40, 0xeb, 0x86, 0xb7, 0x7b, 0x0b, 0xf0, 0x95, 0x21, 0x22, 0x5c, 0x6b, 0x4e, 0x82,
    0x54, 0xd6, 0x65, 0x93, 0xce, 0x60, 0xb2, 0x1c, 0x73, 0x56, 0xc0, 0x14, 0xa7, 0x8c, 0xf1, 0xdc,
    0x12, 0x75, 0xca, 0x1f, 0x3b, 0xbe, 0xe4, 0xd1, 0x42, 0x3d, 0xd4, 0x30, 0xa3, 0x3c, 0xb6, 0x26,
    0x6f, 0xbf, 0x0e, 0xda, 0x46, 0x69, 0x07, 0x57, 0x27, 0xf2, 0x1d, 0x9b, 0xbc, 0x94, 0x43, 0x03,
    0xf8, 0x11, 0xc7, 0xf6, 0x90, 0xef, 0x3e, 0xe7, 0x06, 0xc3, 0xd5, 0x2f, 0xc8, 0x66, 0x1e, 0xd7,
    0x08, 0xe8, 0xea, 0xde, 0x80, 0x52, 0xee, 0xf7, 0x84, 0xaa, 0x72, 0xac, 0x35, 0x4d, 0x6a, 0x2a,
    0x96, 0x1a, 0xd2, 0x71, 0x5a, 0x15, 0x49, 0x74, 0x4b, 0x9f, 0xd0, 0x5e, 0x04, 0x18, 0xa4, 0xec,
    0xc2, 0xe0, 0x41, 0x6e, 0x0f, 0x51, 0xcb, 0xcc, 0x24, 0x91, 0xaf, 0x50, 0xa1, 0xf4, 0x70, 0x39,
    0x99, 0x7c, 0x3a, 0x85, 0x23, 0xb8, 0xb4, 0x7a, 0xfc, 0x02, 0x36, 0x5b, 0x25, 0x55, 0x97, 0x31,
    0x2d, 0x5d, 0xfa, 0x98, 0xe3, 0x8a, 0x92, 0xae, 0x05, 0xdf, 0x29, 0x10, 0x67, 0x6c, 0xba, 0xc9,
    0xd3, 0x00, 0xe6, 0xcf, 0xe1, 0x9e, 0xa8, 0x2c, 0x63, 0x16, 0x01, 0x3f, 0x58, 0xe2, 0x89, 0xa9,
    0x0d, 0x38, 0x34, 0x1b, 0xab, 0x33, 0xff, 0xb0, 0xbb, 0x48, 0x0c, 0x5f, 0xb9, 0xb1, 0xcd, 0x2e,
    0xc5, 0xf3, 0xdb, 0x47, 0xe5, 0xa5, 0x9c, 0x77, 0x0a, 0xa6, 0x20, 0x68, 0xfe, 0x7f, 0xc1, 0xad,
};

consteval bool pi_table_is_permutation() {
  std::array<bool, 256> seen{};
  for (uint8_t v : kPiTable) {
    if (seen[v]) return false;
    seen[v] = true;
  }
  return true;
}
static_assert(pi_table_is_permutation());

inline uint16_t rol16(uint16_t x, int s) { return static_cast<uint16_t>(x << s | x >> (16 - s)); }
inline uint16_t ror16(uint16_t x, int s) { return static_cast<uint16_t>(x >> s | x << (16 - s)); }

constexpr int kShift[4] = {1, 2, 3, 5};

// One MIX round (RFC 2268 3.1): each word takes the next key word.
inline void mix(uint16_t r[4], const uint16_t *k, int &j) {
  for (int i = 0; i < 4; ++i) {
    uint16_t v = static_cast<uint16_t>(r[i] + k[j++] + (r[(i + 3) & 3] & r[(i + 2) & 3]) +
                                       (~r[(i + 3) & 3] & r[(i + 1) & 3]));
    r[i] = rol16(v, kShift[i]);
  }
}

// One MASH round (RFC 2268 3.2): a key word chosen by the previous word.
inline void mash(uint16_t r[4], const uint16_t *k) {
  for (int i = 0; i < 4; ++i) r[i] = static_cast<uint16_t>(r[i] + k[r[(i + 3) & 3] & 63]);
}

inline void r_mix(uint16_t r[4], const uint16_t *k, int &j) {
  for (int i = 3; i >= 0; --i) {
    uint16_t v = ror16(r[i], kShift[i]);
    r[i] = static_cast<uint16_t>(v - k[j--] - (r[(i + 3) & 3] & r[(i + 2) & 3]) - (~r[(i + 3) & 3] & r[(i + 1) & 3]));
  }
}

inline void r_mash(uint16_t r[4], const uint16_t *k) {
  for (int i = 3; i >= 0; --i) r[i] = static_cast<uint16_t>(r[i] - k[r[(i + 3) & 3] & 63]);
}

inline void load(const uint8_t *in, uint16_t r[4]) {
  for (int i = 0; i < 4; ++i) r[i] = static_cast<uint16_t>(in[2 * i] | in[2 * i + 1] << 8);
}

inline void store(uint8_t *out, const uint16_t r[4]) {
  for (int i = 0; i < 4; ++i) {
    out[2 * i] = static_cast<uint8_t>(r[i]);
    out[2 * i + 1] = static_cast<uint8_t>(r[i] >> 8);
  }
}

}  // namespace

// RFC 2268 section 4: 5 mixing rounds, a mashing round, 6 mixing, a mashing
// round, 5 mixing.
void encrypt_block(const uint16_t *k, const uint8_t *in, uint8_t *out) {
  uint16_t r[4];
  load(in, r);
  int j = 0;
  for (int i = 0; i < 5; ++i) mix(r, k, j);
  mash(r, k);
  for (int i = 0; i < 6; ++i) mix(r, k, j);
  mash(r, k);
  for (int i = 0; i < 5; ++i) mix(r, k, j);
  store(out, r);
}

// RFC 2268 section 5 (decryption): the same rounds undone in reverse order.
void decrypt_block(const uint16_t *k, const uint8_t *in, uint8_t *out) {
  uint16_t r[4];
  load(in, r);
  int j = 63;
  for (int i = 0; i < 5; ++i) r_mix(r, k, j);
  r_mash(r, k);
  for (int i = 0; i < 6; ++i) r_mix(r, k, j);
  r_mash(r, k);
  for (int i = 0; i < 5; ++i) r_mix(r, k, j);
  store(out, r);
}

}  // namespace kel::rc2

int32_t rc2_keyschedule(Rc2Context *ctx, const uint8_t *key, uint32_t keyLength, uint32_t effectiveBits) {
  if (ctx == nullptr || key == nullptr) return ERR_NULL_POINTER;
  if (keyLength == 0 || keyLength > RC2_MAX_KEY_SIZE || effectiveBits > 1024) return ERR_RC2_BAD_KEY_LENGTH;
  const uint32_t t1 = effectiveBits == 0 ? 1024 : effectiveBits;
  const uint32_t t8 = (t1 + 7) / 8;
  const uint8_t tm = static_cast<uint8_t>(255u >> ((8 - t1 % 8) % 8));
  kel::mem::Wiped<uint8_t[128]> l;
  memcpy(l, key, keyLength);
  for (uint32_t i = keyLength; i < 128; ++i) l[i] = kel::rc2::kPiTable[(l[i - 1] + l[i - keyLength]) & 255];
  // Reduce the effective key to t1 bits.
  l[128 - t8] = kel::rc2::kPiTable[l[128 - t8] & tm];
  for (int i = 127 - static_cast<int>(t8); i >= 0; --i) l[i] = kel::rc2::kPiTable[l[i + 1] ^ l[i + t8]];
  for (int i = 0; i < 64; ++i) ctx->K[i] = static_cast<uint16_t>(l[2 * i] | l[2 * i + 1] << 8);
  return 0;
}

int32_t rc2_encrypt(const Rc2Context *ctx, const uint8_t *input, uint8_t *output) {
  if (ctx == nullptr || input == nullptr || output == nullptr) return ERR_NULL_POINTER;
  kel::rc2::encrypt_block(ctx->K, input, output);
  return 0;
}

int32_t rc2_decrypt(const Rc2Context *ctx, const uint8_t *input, uint8_t *output) {
  if (ctx == nullptr || input == nullptr || output == nullptr) return ERR_NULL_POINTER;
  kel::rc2::decrypt_block(ctx->K, input, output);
  return 0;
}

void *CreateRC2Ctx2(const uint8_t *key, uint32_t keyLength, int32_t effectiveBits) {
  if (key == nullptr || keyLength == 0 || keyLength > RC2_MAX_KEY_SIZE) return nullptr;
  if (effectiveBits < 0 || effectiveBits > 1024) return nullptr;
  auto *ctx = kel::mem::make<Rc2Context>();
  if (ctx != nullptr && rc2_keyschedule(ctx, key, keyLength, static_cast<uint32_t>(effectiveBits)) != 0)
    kel::mem::destroy(&ctx);
  return ctx;
}

void *CreateRC2Ctx(const uint8_t *key, uint32_t keyLength, int32_t direction) {
  (void)direction;
  if (keyLength > RC2_MAX_KEY_SIZE) return nullptr;
  return CreateRC2Ctx2(key, keyLength, static_cast<int32_t>(keyLength * 8));
}

int32_t DeleteRC2Ctx(void **ctx) {
  if (ctx == nullptr) return ERR_NULL_POINTER;
  if (*ctx == nullptr) return 0;
  kel::mem::destroy<Rc2Context>(ctx);
  return 0;
}

int32_t DoRC2(void *ctx, uint8_t *data, uint32_t length, int32_t direction, uint8_t *iv) {
  if (ctx == nullptr) return 0;
  if (data == nullptr || iv == nullptr) return ERR_NULL_POINTER;
  if (length % RC2_BLOCK_SIZE != 0) return ERR_RC2_BAD_DATA_LENGTH;
  const uint16_t *k = static_cast<const Rc2Context *>(ctx)->K;
  kel::mem::Wiped<uint8_t[RC2_BLOCK_SIZE]> c;
  for (uint32_t off = 0; off < length; off += RC2_BLOCK_SIZE) {
    uint8_t *block = data + off;
    if (direction != 0) {
      for (int i = 0; i < RC2_BLOCK_SIZE; ++i) block[i] ^= iv[i];
      kel::rc2::encrypt_block(k, block, block);
      memcpy(iv, block, RC2_BLOCK_SIZE);
    } else {
      memcpy(c, block, RC2_BLOCK_SIZE);
      kel::rc2::decrypt_block(k, block, block);
      for (int i = 0; i < RC2_BLOCK_SIZE; ++i) block[i] ^= iv[i];
      memcpy(iv, c, RC2_BLOCK_SIZE);
    }
  }
  return 0;
}

extern "C" const CipherSuite CRYPTO_RC2Suite = {RC2_BLOCK_SIZE, CreateRC2Ctx, DeleteRC2Ctx, DoRC2};
extern "C" const CipherSuite CRYPTO_RC2EffectiveBitsSuite = {RC2_BLOCK_SIZE, CreateRC2Ctx2, DeleteRC2Ctx, DoRC2};
