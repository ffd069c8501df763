// GHASH without carry-less multiply instructions, in constant time: 64-bit
// integer multiplications of operands with holes (BearSSL's ghash_ctmul64).
// Each operand is split into four words holding every fourth bit; in a
// product of two such words every sum lands in its own 4-bit slot, so the
// carries fall into the holes and the masks drop them. The upper halves come
// from the same multiplier on bit-reversed operands.
#include "crypto/cipher/gcm_internal.h"
#include "crypto/common/bytes.h"

namespace kel::gcm::portable {
namespace {

// The low 64 bits of the carry-less product of x and y.
uint64_t bmul64(uint64_t x, uint64_t y) {
  constexpr uint64_t m0 = 0x1111111111111111, m1 = m0 << 1, m2 = m0 << 2, m3 = m0 << 3;
  const uint64_t x0 = x & m0, x1 = x & m1, x2 = x & m2, x3 = x & m3;
  const uint64_t y0 = y & m0, y1 = y & m1, y2 = y & m2, y3 = y & m3;
  const uint64_t z0 = (x0 * y0) ^ (x1 * y3) ^ (x2 * y2) ^ (x3 * y1);
  const uint64_t z1 = (x0 * y1) ^ (x1 * y0) ^ (x2 * y3) ^ (x3 * y2);
  const uint64_t z2 = (x0 * y2) ^ (x1 * y1) ^ (x2 * y0) ^ (x3 * y3);
  const uint64_t z3 = (x0 * y3) ^ (x1 * y2) ^ (x2 * y1) ^ (x3 * y0);
  return (z0 & m0) | (z1 & m1) | (z2 & m2) | (z3 & m3);
}

uint64_t rev64(uint64_t x) {
  x = ((x & 0x5555555555555555) << 1) | ((x >> 1) & 0x5555555555555555);
  x = ((x & 0x3333333333333333) << 2) | ((x >> 2) & 0x3333333333333333);
  x = ((x & 0x0F0F0F0F0F0F0F0F) << 4) | ((x >> 4) & 0x0F0F0F0F0F0F0F0F);
  return __builtin_bswap64(x);
}

}  // namespace

void ghash(const uint32_t H[4], uint32_t X[4], const uint8_t *data, size_t n) {
  // GCM's bit order is reflected: the 128-bit value y1:y0 read big-endian
  // holds the polynomial's coefficient 0 at its top bit.
  const uint64_t h1 = uint64_t{H[0]} << 32 | H[1], h0 = uint64_t{H[2]} << 32 | H[3];
  const uint64_t h0r = rev64(h0), h1r = rev64(h1), h2 = h0 ^ h1, h2r = h0r ^ h1r;
  uint64_t y1 = uint64_t{X[0]} << 32 | X[1], y0 = uint64_t{X[2]} << 32 | X[3];
  for (size_t i = 0; i < n; ++i, data += 16) {
    y1 ^= kel::load_be64(data);
    y0 ^= kel::load_be64(data + 8);
    // Karatsuba over the two halves, low and (reversed) high products.
    const uint64_t y0r = rev64(y0), y1r = rev64(y1), y2 = y0 ^ y1, y2r = y0r ^ y1r;
    const uint64_t z0 = bmul64(y0, h0), z1 = bmul64(y1, h1);
    uint64_t z2 = bmul64(y2, h2);
    uint64_t z0h = bmul64(y0r, h0r), z1h = bmul64(y1r, h1r), z2h = bmul64(y2r, h2r);
    z2 ^= z0 ^ z1;
    z2h ^= z0h ^ z1h;
    z0h = rev64(z0h) >> 1;
    z1h = rev64(z1h) >> 1;
    z2h = rev64(z2h) >> 1;
    uint64_t v0 = z0, v1 = z0h ^ z2, v2 = z1 ^ z2h, v3 = z1h;
    // The reflected product is one bit short: shift the 256 bits left by one.
    v3 = v3 << 1 | v2 >> 63;
    v2 = v2 << 1 | v1 >> 63;
    v1 = v1 << 1 | v0 >> 63;
    v0 <<= 1;
    // Reduction modulo x^128 + x^7 + x^2 + x + 1.
    v2 ^= v0 ^ (v0 >> 1) ^ (v0 >> 2) ^ (v0 >> 7);
    v1 ^= (v0 << 63) ^ (v0 << 62) ^ (v0 << 57);
    v3 ^= v1 ^ (v1 >> 1) ^ (v1 >> 2) ^ (v1 >> 7);
    v2 ^= (v1 << 63) ^ (v1 << 62) ^ (v1 << 57);
    y0 = v2;
    y1 = v3;
  }
  X[0] = static_cast<uint32_t>(y1 >> 32);
  X[1] = static_cast<uint32_t>(y1);
  X[2] = static_cast<uint32_t>(y0 >> 32);
  X[3] = static_cast<uint32_t>(y0);
}

}  // namespace kel::gcm::portable
