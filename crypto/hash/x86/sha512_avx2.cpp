// SHA-512 block compression for CPUs with AVX2 and BMI2 but no SHA-512
// instructions: the message schedule of two blocks at once in 256-bit
// registers (one block per 128-bit lane), the rounds in scalar registers with
// RORX. With AVX-512VL the same code is built a second time: the schedule
// then has 32 vector registers (no spills), one-op rotates and three-way xors.
//
// The rounds are the bottleneck: about 22 scalar ops each, 80 per block. The
// schedule for a pair of blocks (W + K for both, into a stack buffer) is
// computed in the vector unit while the scalar unit runs the first block's
// rounds, and the second block's rounds then read their W + K without any
// schedule work at all. The rounds run in loops of sixteen: W + K is then
// read back from memory at a run-time row, where the compiler cannot fetch
// it from the vector registers instead (which measured slower), and the code
// is a quarter of the fully unrolled size.
#include <array>
#include <cstring>
#include <utility>

#include "crypto/common/ct.h"
#include "crypto/common/cpu.h"
#include "crypto/hash/x86/kernels.h"
#include "crypto/hash/round_constants.h"

namespace kel::hash {
namespace {

// The helpers carry no target of their own: written with the compiler's
// generic vectors, they are compiled for whichever entry they are inlined
// into, below, once for AVX2 and once for AVX-512VL. They pass 256-bit
// vectors by value, which GCC flags as an ABI change for the baseline
// target; no call of theirs survives inlining.
#define KEL_SHA512 __attribute__((always_inline)) inline
#pragma GCC diagnostic ignored "-Wpsabi"

using V4 = uint64_t __attribute__((vector_size(32)));  // one pair of words of each block
using V2 = uint64_t __attribute__((vector_size(16)));
using Bytes32 = uint8_t __attribute__((vector_size(32)));

// W + K for a pair of blocks: pair j (words 2j, 2j+1) of the first block in
// wk[j][0..1], of the second in wk[j][2..3].
using PairSchedule = std::array<std::array<uint64_t, 4>, 40>;

template <int R>
KEL_SHA512 V4 rotr(V4 x) {
  return (x >> R) | (x << (64 - R));
}

// W + K for one pair of the schedule (k: its two round constants), into its row.
KEL_SHA512 void store_wk(uint64_t *row, V4 w, const uint64_t *k) {
  V2 k2;
  std::memcpy(&k2, k, sizeof k2);
  const V4 sum = w + __builtin_shufflevector(k2, k2, 0, 1, 0, 1);
  std::memcpy(row, &sum, sizeof sum);
}

// The next pair of the schedule from the eight before it (x[J % 8] holds
// pair J - 8 on entry). FIPS 180-4 6.4.2: W[t] = s1(W[t-2]) + W[t-7] +
// s0(W[t-15]) + W[t-16]; the two words of a pair need only earlier pairs, and
// the shuffles stay within each block's half.
template <int J>
KEL_SHA512 void schedule_pair(V4 (&x)[8], uint64_t *row, const uint64_t *k) {
  V4 &w16 = x[J % 8];
  const V4 w15 = __builtin_shufflevector(w16, x[(J + 1) % 8], 1, 4, 3, 6);
  const V4 w7 = __builtin_shufflevector(x[(J + 4) % 8], x[(J + 5) % 8], 1, 4, 3, 6);
  const V4 w2 = x[(J + 7) % 8];
  const V4 s0 = rotr<1>(w15) ^ rotr<8>(w15) ^ (w15 >> 7);
  const V4 s1 = rotr<19>(w2) ^ rotr<61>(w2) ^ (w2 >> 6);
  w16 = (w16 + s0) + (w7 + s1);
  store_wk(row, w16, k);
}

// Pairs 0..7 of two blocks, byte-swapped to big-endian words.
template <int J>
KEL_SHA512 void load_pair(V4 (&x)[8], PairSchedule &wk, const uint8_t *first, const uint8_t *second) {
  V2 lo, hi;
  std::memcpy(&lo, first + 16 * J, 16);
  std::memcpy(&hi, second + 16 * J, 16);
  const Bytes32 b = reinterpret_cast<Bytes32>(__builtin_shufflevector(lo, hi, 0, 1, 2, 3));
  x[J] = reinterpret_cast<V4>(__builtin_shufflevector(b, b, 7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8,
                                                      23, 22, 21, 20, 19, 18, 17, 16, 31, 30, 29, 28, 27, 26, 25, 24));
  store_wk(wk[J].data(), x[J], &kSha512K[2 * J]);
}

template <int... J>
KEL_SHA512 void load_pairs(V4 (&x)[8], PairSchedule &wk, const uint8_t *first, const uint8_t *second,
                           std::integer_sequence<int, J...>) {
  (load_pair<J>(x, wk, first, second), ...);
}

KEL_SHA512 uint64_t ror(uint64_t x, int r) { return (x >> r) | (x << (64 - r)); }

// Pins a value: the compiler may not regroup sums across it.
KEL_SHA512 void pin(uint64_t &x) { KEL_VALUE_BARRIER(x); }

// One round, FIPS 180-4 6.4.2 step 3, the registers renamed instead of moved,
// in two halves: the e half (T1 into h, and d += T1) and the a half
// (h += Sigma0(a) + Maj(a, b, c)). The e half is the chain from round to
// round (five steps: h + W + K first, known early, then Ch(e, f, g), two
// steps after e, then Sigma1(e), three steps, then d += T1); the a half has
// three rounds of slack before its result is read as d. The form is the one
// with fewest ops, the ops being more than the chain is long.
KEL_SHA512 void e_half(uint64_t &d, uint64_t e, uint64_t f, uint64_t g, uint64_t &h, uint64_t wk) {
  uint64_t t1 = h + wk;
  pin(t1);  // else the compiler adds Ch first and h + W + K after it
  t1 += g ^ (e & (f ^ g));
  pin(t1);
  t1 += ror(e, 14) ^ ror(e, 18) ^ ror(e, 41);
  d += t1;
  h = t1;
}

// Maj(a, b, c) = ((a ^ b) & (b ^ c)) ^ b, and this round's a ^ b is the next
// round's b ^ c, so c itself is never read.
KEL_SHA512 void a_half(uint64_t a, uint64_t b, uint64_t &h, uint64_t &bc) {
  const uint64_t ab = a ^ b;
  uint64_t maj = (ab & bc) ^ b;
  pin(maj);  // else the compiler sums Maj and Sigma0 first, which measures slower
  h += maj + (ror(a, 28) ^ ror(a, 34) ^ ror(a, 39));
  bc = ab;
}

// The halves of round T of one block, the state words renamed by T mod 8;
// row points at the W + K of this block's rounds 0 and 1 of the sixteen.
template <int T>
KEL_SHA512 void e_half_at(uint64_t (&s)[8], const uint64_t *row) {
  e_half(s[(11 - T) & 7], s[(12 - T) & 7], s[(13 - T) & 7], s[(14 - T) & 7], s[(15 - T) & 7],
         row[4 * (T / 2) + (T & 1)]);
}

template <int T>
KEL_SHA512 void a_half_at(uint64_t (&s)[8], uint64_t &bc) {
  a_half(s[(8 - T) & 7], s[(9 - T) & 7], s[(15 - T) & 7], bc);
}

// Round T's a half, then round T + 1's e half: a loop of sixteen rounds then
// ends on the chain's next step (round 0's e half runs before the loops, and
// the last round has none, which would overwrite the result). Measured, this
// cut is one to two per cent faster than one at the rounds' ends.
template <int T, bool Last = false>
KEL_SHA512 void step(uint64_t (&s)[8], const uint64_t *row, uint64_t &bc) {
  a_half_at<T>(s, bc);
  if constexpr (!Last) e_half_at<T + 1>(s, row);
}

// Sixteen rounds of the first block (rows r .. r + 7), and beside them (the
// vector unit being otherwise idle) the eight pairs of the schedule that
// follow, rows r + 8 .. r + 15, needed four pairs or more later.
template <int... P>
KEL_SHA512 void first_block_sixteen(uint64_t (&s)[8], V4 (&x)[8], PairSchedule &wk, int r, uint64_t &bc,
                                    std::integer_sequence<int, P...>) {
  ((schedule_pair<P>(x, wk[r + 8 + P].data(), &kSha512K[2 * (r + 8 + P)]), step<2 * P>(s, wk[r].data(), bc),
    step<2 * P + 1>(s, wk[r].data(), bc)),
   ...);
}

// Sixteen rounds of one block with nothing beside them.
template <bool Last, int... P>
KEL_SHA512 void sixteen(uint64_t (&s)[8], const uint64_t *row, uint64_t &bc, std::integer_sequence<int, P...>) {
  ((step<2 * P>(s, row, bc), step<2 * P + 1, Last && P == 7>(s, row, bc)), ...);
}

// The chaining add, kept in scalar registers (the compiler would otherwise
// gather the eight words into a vector and scatter them back).
KEL_SHA512 void add_state(uint64_t (&s)[8], uint64_t (&h)[8]) {
  for (int i = 0; i < 8; ++i) {
    h[i] += s[i];
    pin(h[i]);
    s[i] = h[i];
  }
}

// The whole compression, inlined into each entry below.
KEL_SHA512 void compress(uint64_t state[8], const uint8_t *data, size_t blocks) {
  uint64_t h[8];
  for (int i = 0; i < 8; ++i) h[i] = state[i];
  alignas(32) PairSchedule wk;

  while (blocks != 0) {
    // A lone last block is paired with itself; its second schedule is unused.
    V4 x[8];
    load_pairs(x, wk, data, blocks >= 2 ? data + 128 : data, std::make_integer_sequence<int, 8>{});

    uint64_t s[8];
    for (int i = 0; i < 8; ++i) s[i] = h[i];
    uint64_t bc = s[1] ^ s[2];
    constexpr auto kEight = std::make_integer_sequence<int, 8>{};
    e_half_at<0>(s, wk[0].data());
#pragma GCC unroll 1
    for (int r = 0; r < 32; r += 8) first_block_sixteen(s, x, wk, r, bc, kEight);
    sixteen<true>(s, wk[32].data(), bc, kEight);
    add_state(s, h);
    if (blocks == 1) break;

    bc = s[1] ^ s[2];
    e_half_at<0>(s, &wk[0][2]);
#pragma GCC unroll 1
    for (int r = 0; r < 32; r += 8) sixteen<false>(s, &wk[r][2], bc, kEight);
    sixteen<true>(s, &wk[32][2], bc, kEight);
    add_state(s, h);
    blocks -= 2;
    data += 256;
  }
  for (int i = 0; i < 8; ++i) state[i] = h[i];
}

__attribute__((target("avx2,bmi2")))
void compress_avx2(uint64_t state[8], const uint8_t *data, size_t blocks) {
  compress(state, data, blocks);
}

__attribute__((target("avx2,bmi2,avx512f,avx512vl")))
void compress_avx512vl(uint64_t state[8], const uint8_t *data, size_t blocks) {
  compress(state, data, blocks);
}

}  // namespace

bool sha512_avx2_available() { return cpu::has(cpu::kAvx2 | cpu::kBmi2); }
bool sha512_avx512vl_available() { return cpu::has(cpu::kAvx2 | cpu::kBmi2 | cpu::kAvx512f | cpu::kAvx512vl); }

void sha512_blocks_avx2(uint64_t state[8], const uint8_t *data, size_t blocks) {
  if (blocks != 0) compress_avx2(state, data, blocks);
}

void sha512_blocks_avx512vl(uint64_t state[8], const uint8_t *data, size_t blocks) {
  if (blocks != 0) compress_avx512vl(state, data, blocks);
}

}  // namespace kel::hash
