// SHA-256 and SHA-224 (FIPS 180-4 6.2, 6.3). SHA-224 has no gate of its own:
// it reaches the gated SHA-256 update.
#include <cstring>

#include "crypto/fips/gate.h"
#include "crypto/hash/md.h"
#include "crypto/hash/round_constants.h"
#include "kel/vor.h"

namespace kel::hash {
namespace {

constexpr uint32_t kInit256[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                  0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
constexpr uint32_t kInit224[8] = {0xc1059ed8, 0x367cd507, 0x3070dd17, 0xf70e5939,
                                  0xffc00b31, 0x68581511, 0x64f98fa7, 0xbefa4fa4};

int32_t init(void *ctx, const uint32_t (&iv)[8]) {
  if (ctx == nullptr) return ERR_NULL_POINTER;
  auto &c = *static_cast<Sha256Context *>(ctx);
  std::memcpy(c.state, iv, sizeof c.state);
  c.byteCount = 0;
  c.bufferIndex = 0;
  return 0;
}

// Pads, writes `words` state words and leaves the context all zeros.
int32_t final(void *ctx, uint8_t *output, int words) {
  if (ctx == nullptr || output == nullptr) return ERR_NULL_POINTER;
  auto &c = *static_cast<Sha256Context *>(ctx);
  sha_pad<Sha256>(c);
  for (int i = 0; i < words; ++i) store_be32(output + 4 * i, c.state[i]);
  VOR_MEMSET(&c, 0, sizeof c);
  return 0;
}

}  // namespace

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

int32_t SHA256_allocDigest(void **ctx) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  return VOR_alloc(sizeof(Sha256Context), ctx);
}

int32_t SHA256_freeDigest(void **ctx) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || *ctx == nullptr) return ERR_NULL_POINTER;
  VOR_MEMSET(*ctx, 0, sizeof(Sha256Context));
  return VOR_free(ctx);
}

int32_t SHA256_initDigest(void *ctx) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  return kel::hash::init(ctx, kel::hash::kInit256);
}

int32_t SHA224_initDigest(void *ctx) { return kel::hash::init(ctx, kel::hash::kInit224); }

int32_t SHA256_updateDigest(void *ctx, const uint8_t *data, uint32_t length) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || data == nullptr) return ERR_NULL_POINTER;
  kel::hash::md_update<kel::hash::Sha256>(*static_cast<Sha256Context *>(ctx), data, length);
  return 0;
}

int32_t SHA256_finalDigest(void *ctx, uint8_t *output) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  return kel::hash::final(ctx, output, 8);
}

int32_t SHA224_finalDigest(void *ctx, uint8_t *output) { return kel::hash::final(ctx, output, 7); }

// The final function zeroes the stack context.
int32_t SHA256_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  Sha256Context c;
  int32_t s = SHA256_initDigest(&c);
  if (s == 0) s = SHA256_updateDigest(&c, data, length);
  if (s == 0) s = SHA256_finalDigest(&c, output);
  return s;
}

int32_t SHA224_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output) {
  Sha256Context c;
  int32_t s = SHA224_initDigest(&c);
  if (s == 0) s = SHA256_updateDigest(&c, data, length);
  if (s == 0) s = SHA224_finalDigest(&c, output);
  return s;
}
