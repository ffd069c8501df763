// SHA-512 and SHA-384 (FIPS 180-4 6.4, 6.5) and the 128-bit counter helpers.
// SHA-384 has no gate of its own: it reaches the gated SHA-512 update.
#include <cstring>

#include "crypto/fips/gate.h"
#include "crypto/hash/md.h"
#include "kel/vor.h"

namespace kel::hash {
namespace {

// FIPS 180-4 4.2.3.
constexpr uint64_t kK[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc, 0x3956c25bf348b538,
    0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118, 0xd807aa98a3030242, 0x12835b0145706fbe,
    0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2, 0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235,
    0xc19bf174cf692694, 0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5, 0x983e5152ee66dfab,
    0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4, 0xc6e00bf33da88fc2, 0xd5a79147930aa725,
    0x06ca6351e003826f, 0x142929670a0e6e70, 0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed,
    0x53380d139d95b3df, 0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30, 0xd192e819d6ef5218,
    0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8, 0x19a4c116b8d2d0c8, 0x1e376c085141ab53,
    0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8, 0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373,
    0x682e6ff3d6b2b8a3, 0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b, 0xca273eceea26619c,
    0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178, 0x06f067aa72176fba, 0x0a637dc5a2c898a6,
    0x113f9804bef90dae, 0x1b710b35131c471b, 0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc,
    0x431d67c49c100d4c, 0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817};

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
      const uint64_t t1 = h + rho<14, 18, 41>(e) + ch(e, f, g) + kK[t] + w[t];
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
