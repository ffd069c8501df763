// MD5 block compression (RFC 1321 3.4), scalar, arranged for a short
// dependency chain per step.
//
// Each step is a = b + rotl(a + f(b, c, d) + X[k] + T[i], s), and only b is
// new in it: a, c, d, X and T were known a step or more earlier. So every
// term that does not need b is added first, leaving the least after b is
// ready: for F and I two logic ops, for G and H one (G's two halves are
// disjoint bit sets, so the half without b is added, not or-ed), then one
// add, the rotate and the add of b.
#include <bit>
#include <cstring>
#include <utility>

#include "crypto/common/cpu.h"
#include "crypto/hash/kernels.h"

namespace kel::hash {
namespace {

static_assert(std::endian::native == std::endian::little, "message words are loaded as they lie");

#define KEL_MD5 __attribute__((target("bmi2"), always_inline)) inline

// RFC 1321 3.4: T[i] = floor(2^32 * abs(sin(i + 1))).
constexpr uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// Message word for step i: 3.4's orders for the four rounds.
constexpr int word_index(int i) {
  switch (i / 16) {
    case 0: return i;
    case 1: return (5 * i + 1) % 16;
    case 2: return (3 * i + 5) % 16;
    default: return (7 * i) % 16;
  }
}

KEL_MD5 uint32_t rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

template <int I>
KEL_MD5 void step(uint32_t &a, uint32_t b, uint32_t c, uint32_t d, const uint32_t *x) {
  uint32_t t = a + x[word_index(I)] + kT[I];
  if constexpr (I < 16) {
    t += d ^ (b & (c ^ d));  // F = (b & c) | (~b & d)
  } else if constexpr (I < 32) {
    t += c & ~d;             // G = (b & d) | (c & ~d), disjoint halves
    t += b & d;
  } else if constexpr (I < 48) {
    t += b ^ (c ^ d);        // H
  } else {
    t += c ^ (b | ~d);       // I
  }
  a = b + rotl(t, kShift[I / 16][I % 4]);
}

template <int I>
KEL_MD5 void four_steps(uint32_t &a, uint32_t &b, uint32_t &c, uint32_t &d, const uint32_t *x) {
  step<I>(a, b, c, d, x);
  step<I + 1>(d, a, b, c, x);
  step<I + 2>(c, d, a, b, x);
  step<I + 3>(b, c, d, a, x);
}

template <int... G>
KEL_MD5 void all_steps(uint32_t &a, uint32_t &b, uint32_t &c, uint32_t &d, const uint32_t *x,
                       std::integer_sequence<int, G...>) {
  (four_steps<4 * G>(a, b, c, d, x), ...);
}

}  // namespace

bool md5_fast_available() { return cpu::has(cpu::kBmi2); }

__attribute__((target("bmi2")))
void md5_blocks_fast(uint32_t state[4], const uint8_t *data, size_t blocks) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; blocks != 0; --blocks, data += 64) {
    uint32_t x[16];
    std::memcpy(x, data, 64);  // RFC 1321 words are little-endian, as is this host
    const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;
    all_steps(a, b, c, d, x, std::make_integer_sequence<int, 16>{});
    a += a0, b += b0, c += c0, d += d0;
  }
  state[0] = a, state[1] = b, state[2] = c, state[3] = d;
}

}  // namespace kel::hash
