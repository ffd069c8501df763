// SHA-1 (FIPS 180-4 6.1) and the FIPS 186-2 G functions built on its
// compression.
#include <bit>
#include <cstring>

#include "crypto/fips/gate.h"
#include "crypto/hash/internal.h"
#include "kel/vor.h"

namespace kel::hash {

void sha1_blocks_portable(uint32_t state[5], const uint8_t *data, size_t blocks) {
  for (; blocks > 0; --blocks, data += 64) {
    uint32_t w[80];
    for (int t = 0; t < 16; ++t) w[t] = load_be32(data + 4 * t);
    for (int t = 16; t < 80; ++t) w[t] = std::rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    auto step = [&](uint32_t f, uint32_t k, uint32_t wt) {
      const uint32_t t = std::rotl(a, 5) + f + e + k + wt;
      e = d;
      d = c;
      c = std::rotl(b, 30);
      b = a;
      a = t;
    };
    for (int t = 0; t < 20; ++t) step(ch(b, c, d), 0x5a827999, w[t]);
    for (int t = 20; t < 40; ++t) step(b ^ c ^ d, 0x6ed9eba1, w[t]);
    for (int t = 40; t < 60; ++t) step(maj(b, c, d), 0x8f1bbcdc, w[t]);
    for (int t = 60; t < 80; ++t) step(b ^ c ^ d, 0xca62c1d6, w[t]);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
  }
}

namespace {

// One compression from the given initial value, no padding, no length.
int32_t g_function(const uint32_t (&iv)[5], const uint8_t *block, uint8_t *output) {
  uint32_t s[5];
  std::memcpy(s, iv, sizeof s);
  sha1_blocks(s, block, 1);
  for (int i = 0; i < 5; ++i) store_be32(output + 4 * i, s[i]);
  return 0;
}

}  // namespace
}  // namespace kel::hash

using Sha1Shims = kel::hash::Shims<kel::hash::Sha1, true>;

int32_t SHA1_allocDigest(void **ctx) { return Sha1Shims::alloc(ctx); }
int32_t SHA1_freeDigest(void **ctx) { return Sha1Shims::release(ctx); }
int32_t SHA1_initDigest(void *ctx) { return Sha1Shims::init(ctx); }
int32_t SHA1_updateDigest(void *ctx, const uint8_t *data, uint32_t length) {
  return Sha1Shims::update(ctx, data, length);
}
// The context keeps its last state (and the bit count) after finalising.
int32_t SHA1_finalDigest(void *ctx, uint8_t *output) { return Sha1Shims::final(ctx, output); }
int32_t SHA1_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output) {
  return Sha1Shims::complete(data, length, output);
}

int32_t SHA1_G(const uint8_t *block, uint8_t *output) {
  return kel::hash::g_function(kel::hash::Sha1::kInit, block, output);
}
int32_t SHA1_GK(const uint8_t *block, uint8_t *output) {
  // FIPS 186-2 3.2: the per-message secret uses the initial value rotated by one word.
  static constexpr uint32_t kRotated[5] = {0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0, 0x67452301};
  return kel::hash::g_function(kRotated, block, output);
}
