// MD5 (RFC 1321). Not an approved algorithm: no power-up gate.
#include <bit>
#include <cstring>

#include "crypto/hash/internal.h"
#include "crypto/hash/round_constants.h"
#include "kel/vor.h"

namespace kel::hash {
namespace {

constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

}  // namespace

void md5_blocks_portable(uint32_t state[4], const uint8_t *data, size_t blocks) {
  for (; blocks > 0; --blocks, data += 64) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = load_le32(data + 4 * i);
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

using Md5Shims = kel::hash::Shims<kel::hash::Md5, false>;

extern "C" const uint8_t MD45_PADDING[64] = {0x80};

void MD45_encode(uint8_t *output, const uint32_t *input, uint32_t length) {
  for (uint32_t i = 0; i < length / 4; ++i) kel::store_le32(output + 4 * i, input[i]);
}

void MD45_decode(uint32_t *output, const uint8_t *input, uint32_t length) {
  for (uint32_t i = 0; i < length / 4; ++i) output[i] = kel::load_le32(input + 4 * i);
}

int32_t MD5Alloc_m(void **ctx) { return Md5Shims::alloc(ctx); }
int32_t MD5Free_m(void **ctx) { return Md5Shims::release(ctx); }
int32_t MD5Init_m(void *ctx) { return Md5Shims::init(ctx); }
int32_t MD5Update_m(void *ctx, const uint8_t *data, uint32_t length) { return Md5Shims::update(ctx, data, length); }
int32_t MD5Final_m(void *ctx, uint8_t *output) { return Md5Shims::final(ctx, output); }
int32_t MD5_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output) {
  return Md5Shims::complete(data, length, output);
}
