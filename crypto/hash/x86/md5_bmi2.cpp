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
#include "crypto/hash/x86/kernels.h"
#include "crypto/hash/round_constants.h"

namespace kel::hash {
namespace {

static_assert(std::endian::native == std::endian::little, "message words are loaded as they lie");

#define KEL_MD5 __attribute__((target("bmi2"), always_inline)) inline

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
  uint32_t t = a + x[word_index(I)] + kMd5T[I];
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

bool md5_bmi2_available() { return cpu::has(cpu::kBmi2); }

__attribute__((target("bmi2")))
void md5_blocks_bmi2(uint32_t state[4], const uint8_t *data, size_t blocks) {
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
