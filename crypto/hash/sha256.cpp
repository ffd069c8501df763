// SHA-256 and SHA-224 (FIPS 180-4 6.2, 6.3). SHA-224's init and final have
// no gate of their own: it reaches the gated SHA-256 update.
#include <cstring>

#include "crypto/fips/gate.h"
#include "crypto/hash/internal.h"
#include "crypto/hash/round_constants.h"
#include "kel/vor.h"

namespace kel::hash {
void sha256_blocks_portable(uint32_t state[8], const uint8_t *data, size_t blocks) {
  for (; blocks > 0; --blocks, data += 64) {
    uint32_t w[64];
    for (int t = 0; t < 16; ++t) w[t] = load_be32(data + 4 * t);
    for (int t = 16; t < 64; ++t)
      w[t] = sigma<17, 19, 10>(w[t - 2]) + w[t - 7] + sigma<7, 18, 3>(w[t - 15]) + w[t - 16];
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < 64; ++t) {
      const uint32_t t1 = h + rho<6, 11, 25>(e) + ch(e, f, g) + kSha256K[t] + w[t];
      const uint32_t t2 = rho<2, 13, 22>(a) + maj(a, b, c);
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

}  // namespace kel::hash

using Sha256Shims = kel::hash::Shims<kel::hash::Sha256, true>;
using Sha224Shims = kel::hash::Shims<kel::hash::Sha224, false>;

int32_t SHA256_allocDigest(void **ctx) { return Sha256Shims::alloc(ctx); }
int32_t SHA256_freeDigest(void **ctx) { return Sha256Shims::release(ctx); }
int32_t SHA256_initDigest(void *ctx) { return Sha256Shims::init(ctx); }
int32_t SHA224_initDigest(void *ctx) { return Sha224Shims::init(ctx); }
int32_t SHA256_updateDigest(void *ctx, const uint8_t *data, uint32_t length) {
  return Sha256Shims::update(ctx, data, length);
}
int32_t SHA256_finalDigest(void *ctx, uint8_t *output) { return Sha256Shims::final(ctx, output); }
int32_t SHA224_finalDigest(void *ctx, uint8_t *output) { return Sha224Shims::final(ctx, output); }
int32_t SHA256_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output) {
  return Sha256Shims::complete(data, length, output);
}
// Gated although its init and final are not: the SHA-256 update it runs is.
int32_t SHA224_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output) {
  return kel::hash::Shims<kel::hash::Sha224, true>::complete(data, length, output);
}
