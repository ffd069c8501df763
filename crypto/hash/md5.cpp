// MD5 (RFC 1321). Not an approved algorithm: no power-up gate.
#include <bit>
#include <cstring>

#include "crypto/hash/md.h"
#include "crypto/hash/round_constants.h"
#include "kel/vor.h"

namespace kel::hash {
namespace {

constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

}  // namespace

void md5_blocks_portable(uint32_t state[4], const uint8_t *data, size_t blocks) {
  for (; blocks > 0; --blocks, data += 64) {
    uint32_t x[16];
    MD45_decode(x, data, 64);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
      uint32_t f;
      int g;
      switch (i >> 4) {
        case 0: f = d ^ (b & (c ^ d)), g = i; break;
        case 1: f = c ^ (d & (b ^ c)), g = (5 * i + 1) & 15; break;
        case 2: f = b ^ c ^ d, g = (3 * i + 5) & 15; break;
        default: f = c ^ (b | ~d), g = (7 * i) & 15; break;
      }
      const uint32_t t = d;
      d = c;
      c = b;
      b += std::rotl(a + f + kMd5T[i] + x[g], kShift[i >> 4][i & 3]);
      a = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
  }
}

}  // namespace kel::hash

using kel::hash::Md5;

extern "C" const uint8_t MD45_PADDING[64] = {0x80};

void MD45_encode(uint8_t *output, const uint32_t *input, uint32_t length) {
  for (uint32_t i = 0; i < length / 4; ++i) kel::hash::store_le32(output + 4 * i, input[i]);
}

void MD45_decode(uint32_t *output, const uint8_t *input, uint32_t length) {
  for (uint32_t i = 0; i < length / 4; ++i) output[i] = kel::hash::load_le32(input + 4 * i);
}

int32_t MD5Alloc_m(void **ctx) { return VOR_alloc(sizeof(Md5Context), ctx); }

// The context holds chaining state (for HMAC, the key's inner state): it is
// zeroed before the block goes back.
int32_t MD5Free_m(void **ctx) {
  if (ctx == nullptr || *ctx == nullptr) return ERR_NULL_POINTER;
  VOR_MEMSET(*ctx, 0, sizeof(Md5Context));
  return VOR_free(ctx);
}

int32_t MD5Init_m(void *ctx) {
  if (ctx == nullptr) return ERR_NULL_POINTER;
  auto &c = *static_cast<Md5Context *>(ctx);
  c.state[0] = 0x67452301;
  c.state[1] = 0xefcdab89;
  c.state[2] = 0x98badcfe;
  c.state[3] = 0x10325476;
  c.bitCount = 0;
  c.bufferIndex = 0;
  return 0;
}

int32_t MD5Update_m(void *ctx, const uint8_t *data, uint32_t length) {
  if (ctx == nullptr || data == nullptr) return ERR_NULL_POINTER;
  kel::hash::md_update<Md5>(*static_cast<Md5Context *>(ctx), data, length);
  return 0;
}

// RFC 1321 3.3-3.5: the padding and the length go through the update, so the
// context's bit count afterwards includes them.
int32_t MD5Final_m(void *ctx, uint8_t *output) {
  if (ctx == nullptr || output == nullptr) return ERR_NULL_POINTER;
  auto &c = *static_cast<Md5Context *>(ctx);
  uint8_t bits[8];
  kel::hash::store_le64(bits, c.bitCount);
  const uint32_t i = static_cast<uint32_t>((c.bitCount >> 3) & 63);
  kel::hash::md_update<Md5>(c, MD45_PADDING, i < 56 ? 56 - i : 120 - i);
  kel::hash::md_update<Md5>(c, bits, 8);
  MD45_encode(output, c.state, 16);
  return 0;
}

int32_t MD5_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output) {
  Md5Context c;
  int32_t s = MD5Init_m(&c);
  if (s == 0) s = MD5Update_m(&c, data, length);
  if (s == 0) s = MD5Final_m(&c, output);
  return s;
}
