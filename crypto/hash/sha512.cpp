// SHA-512 and SHA-384 (FIPS 180-4 6.4, 6.5) and the 128-bit counter helpers.
// SHA-384 has no gate of its own: it reaches the gated SHA-512 update.
#include <cstring>

#include "crypto/fips/gate.h"
#include "crypto/hash/md.h"
#include "crypto/hash/round_constants.h"
#include "kel/vor.h"

namespace kel::hash {
namespace {

constexpr uint64_t kInit512[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b, 0xa54ff53a5f1d36f1,
                                  0x510e527fade682d1, 0x9b05688c2b3e6c1f, 0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
constexpr uint64_t kInit384[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17, 0x152fecd8f70e5939,
                                  0x67332667ffc00b31, 0x8eb44a8768581511, 0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};

int32_t init(void *ctx, const uint64_t (&iv)[8]) {
  if (ctx == nullptr) return ERR_NULL_POINTER;
  auto &c = *static_cast<Sha512Context *>(ctx);
  std::memcpy(c.state, iv, sizeof c.state);
  c.byteCount = Uint128{0, 0};
  c.bufferIndex = 0;
  return 0;
}

int32_t final(void *ctx, uint8_t *output, int words) {
  if (ctx == nullptr || output == nullptr) return ERR_NULL_POINTER;
  auto &c = *static_cast<Sha512Context *>(ctx);
  sha_pad<Sha512>(c);
  for (int i = 0; i < words; ++i) store_be64(output + 8 * i, c.state[i]);
  VOR_MEMSET(&c, 0, sizeof c);
  return 0;
}

}  // namespace

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

int32_t SHA512_allocDigest(void **ctx) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  return VOR_alloc(sizeof(Sha512Context), ctx);
}

int32_t SHA512_freeDigest(void **ctx) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || *ctx == nullptr) return ERR_NULL_POINTER;
  VOR_MEMSET(*ctx, 0, sizeof(Sha512Context));
  return VOR_free(ctx);
}

int32_t SHA512_initDigest(void *ctx) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  return kel::hash::init(ctx, kel::hash::kInit512);
}

int32_t SHA384_initDigest(void *ctx) { return kel::hash::init(ctx, kel::hash::kInit384); }

int32_t SHA512_updateDigest(void *ctx, const uint8_t *data, uint32_t length) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || data == nullptr) return ERR_NULL_POINTER;
  kel::hash::md_update<kel::hash::Sha512>(*static_cast<Sha512Context *>(ctx), data, length);
  return 0;
}

int32_t SHA512_finalDigest(void *ctx, uint8_t *output) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  return kel::hash::final(ctx, output, 8);
}

int32_t SHA384_finalDigest(void *ctx, uint8_t *output) { return kel::hash::final(ctx, output, 6); }

int32_t SHA512_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  Sha512Context c;
  int32_t s = SHA512_initDigest(&c);
  if (s == 0) s = SHA512_updateDigest(&c, data, length);
  if (s == 0) s = SHA512_finalDigest(&c, output);
  return s;
}

int32_t SHA384_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output) {
  Sha512Context c;
  int32_t s = SHA384_initDigest(&c);
  if (s == 0) s = SHA512_updateDigest(&c, data, length);
  if (s == 0) s = SHA384_finalDigest(&c, output);
  return s;
}
