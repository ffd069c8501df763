// SHA-512 and SHA-384 (FIPS 180-4 6.4, 6.5) and the 128-bit counter helpers.
// SHA-384's init and final have no gate of their own: it reaches the gated
// SHA-512 update.
#include <cstring>

#include "crypto/fips/gate.h"
#include "crypto/hash/internal.h"
#include "crypto/hash/round_constants.h"
#include "kel/vor.h"

namespace kel::hash {
void sha512_blocks_portable(uint64_t state[8], const uint8_t *data, size_t blocks) {
  for (; blocks > 0; --blocks, data += 128) {
    uint64_t w[80];
    for (int t = 0; t < 16; ++t) w[t] = load_be64(data + 8 * t);
    for (int t = 16; t < 80; ++t)
      w[t] = sigma<19, 61, 6>(w[t - 2]) + w[t - 7] + sigma<1, 8, 7>(w[t - 15]) + w[t - 16];
    uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < 80; ++t) {
      const uint64_t t1 = h + rho<14, 18, 41>(e) + ch(e, f, g) + kSha512K[t] + w[t];
      const uint64_t t2 = rho<28, 34, 39>(a) + maj(a, b, c);
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

void u16_Incr32(Uint128 *counter, uint32_t n) {
  const uint64_t low = counter->low + n;
  counter->high += low < n;
  counter->low = low;
}

Uint128 u16_Shl(uint64_t high, uint64_t low, uint32_t n) {
  if (n == 0) return Uint128{high, low};
  if (n >= 128) return Uint128{0, 0};
  if (n >= 64) return Uint128{low << (n - 64), 0};
  return Uint128{high << n | low >> (64 - n), low << n};
}

using Sha512Shims = kel::hash::Shims<kel::hash::Sha512, true>;
using Sha384Shims = kel::hash::Shims<kel::hash::Sha384, false>;

int32_t SHA512_allocDigest(void **ctx) { return Sha512Shims::alloc(ctx); }
int32_t SHA512_freeDigest(void **ctx) { return Sha512Shims::release(ctx); }
int32_t SHA512_initDigest(void *ctx) { return Sha512Shims::init(ctx); }
int32_t SHA384_initDigest(void *ctx) { return Sha384Shims::init(ctx); }
int32_t SHA512_updateDigest(void *ctx, const uint8_t *data, uint32_t length) {
  return Sha512Shims::update(ctx, data, length);
}
int32_t SHA512_finalDigest(void *ctx, uint8_t *output) { return Sha512Shims::final(ctx, output); }
int32_t SHA384_finalDigest(void *ctx, uint8_t *output) { return Sha384Shims::final(ctx, output); }
int32_t SHA512_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output) {
  return Sha512Shims::complete(data, length, output);
}
// Gated although its init and final are not: the SHA-512 update it runs is.
int32_t SHA384_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output) {
  return kel::hash::Shims<kel::hash::Sha384, true>::complete(data, length, output);
}
