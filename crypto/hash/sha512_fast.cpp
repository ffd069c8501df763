// SHA-512 block compression for CPUs with AVX2 and BMI2 but no SHA-512
// instructions: the message schedule of two blocks at once in 256-bit
// registers (one block per 128-bit lane), the rounds in scalar registers with
// RORX.
//
// The rounds are the bottleneck: a chain of about four dependent scalar ops
// per round through e. The schedule for a pair of blocks (W + K for both,
// into a stack buffer) is computed in the vector unit while the scalar unit
// runs the first block's rounds, and the second block's rounds then read
// their W + K without any schedule work at all.
#include <immintrin.h>

#include <array>

#include "crypto/common/cpu.h"
#include "crypto/hash/kernels.h"

namespace kel::hash {
namespace {

#define KEL_SHA512 __attribute__((target("avx2,bmi2"), always_inline)) inline

// FIPS 180-4 4.2.3.
alignas(32) constexpr std::array<uint64_t, 80> kK512 = {
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
    0x431d67c49c100d4c, 0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817,
};

// W + K for a pair of blocks: pair j (words 2j, 2j+1) of the first block in
// wk[j][0..1], of the second in wk[j][2..3].
using PairSchedule = std::array<std::array<uint64_t, 4>, 40>;

template <int R>
KEL_SHA512 __m256i rotr(__m256i x) {
  return _mm256_or_si256(_mm256_srli_epi64(x, R), _mm256_slli_epi64(x, 64 - R));
}

KEL_SHA512 __m256i add_k(__m256i w, int j) {
  return _mm256_add_epi64(w, _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(&kK512[2 * j]))));
}

// Pair j >= 8 from the eight before it (x[j % 8] holds pair j - 8 on entry).
// FIPS 180-4 6.4.2: W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16]; the
// two words of a pair need only earlier pairs, and the lane-wise byte
// alignment never mixes the two blocks.
template <int J>
KEL_SHA512 void schedule_pair(__m256i (&x)[8], PairSchedule &wk) {
  __m256i &w16 = x[J % 8];
  const __m256i w15 = _mm256_alignr_epi8(x[(J + 1) % 8], w16, 8);
  const __m256i w7 = _mm256_alignr_epi8(x[(J + 5) % 8], x[(J + 4) % 8], 8);
  const __m256i w2 = x[(J + 7) % 8];
  const __m256i s0 = _mm256_xor_si256(_mm256_xor_si256(rotr<1>(w15), rotr<8>(w15)), _mm256_srli_epi64(w15, 7));
  const __m256i s1 = _mm256_xor_si256(_mm256_xor_si256(rotr<19>(w2), rotr<61>(w2)), _mm256_srli_epi64(w2, 6));
  w16 = _mm256_add_epi64(_mm256_add_epi64(w16, s0), _mm256_add_epi64(w7, s1));
  _mm256_store_si256(reinterpret_cast<__m256i *>(wk[J].data()), add_k(w16, J));
}

KEL_SHA512 uint64_t ror(uint64_t x, int r) { return (x >> r) | (x << (64 - r)); }

// Pins a value: the compiler may not regroup sums across it.
KEL_SHA512 void pin(uint64_t &x) { __asm__("" : "+r"(x)); }

// One round, FIPS 180-4 6.4.2 step 3, the registers renamed instead of moved.
// The round is about 22 scalar ops, more than the chain through e is long,
// so the form is the one with fewest ops, summed in the order that keeps the
// chain at five steps: h + W + K first (known early), then Ch(e, f, g) (two
// steps after e), then Sigma1(e) (three: the rotates side by side, two xors),
// then d += T1.
// Maj(a, b, c) = ((a ^ b) & (b ^ c)) ^ b, and this round's a ^ b is the next
// round's b ^ c, so c itself is never read.
KEL_SHA512 void round(uint64_t a, uint64_t b, uint64_t &d, uint64_t e, uint64_t f, uint64_t g,
                      uint64_t &h, uint64_t wk, uint64_t &bc) {
  const uint64_t ab = a ^ b;
  uint64_t t1 = h + wk;
  pin(t1);  // else the compiler adds Ch first and h + W + K after it
  t1 += g ^ (e & (f ^ g));
  pin(t1);
  t1 += ror(e, 14) ^ ror(e, 18) ^ ror(e, 41);
  d += t1;
  h = t1 + ((ab & bc) ^ b) + (ror(a, 28) ^ ror(a, 34) ^ ror(a, 39));
  bc = ab;
}

// Eight rounds starting at round t (a multiple of 8) for one block of a pair.
KEL_SHA512 void eight_rounds(uint64_t (&s)[8], const PairSchedule &wk, int t, int lane, uint64_t &bc) {
  const uint64_t *w0 = &wk[t / 2][2 * lane];
  round(s[0], s[1], s[3], s[4], s[5], s[6], s[7], w0[0], bc);
  round(s[7], s[0], s[2], s[3], s[4], s[5], s[6], w0[1], bc);
  round(s[6], s[7], s[1], s[2], s[3], s[4], s[5], w0[4], bc);
  round(s[5], s[6], s[0], s[1], s[2], s[3], s[4], w0[5], bc);
  round(s[4], s[5], s[7], s[0], s[1], s[2], s[3], w0[8], bc);
  round(s[3], s[4], s[6], s[7], s[0], s[1], s[2], w0[9], bc);
  round(s[2], s[3], s[5], s[6], s[7], s[0], s[1], w0[12], bc);
  round(s[1], s[2], s[4], s[5], s[6], s[7], s[0], w0[13], bc);
}

template <int G>
KEL_SHA512 void first_block_group(uint64_t (&s)[8], __m256i (&x)[8], PairSchedule &wk, uint64_t &bc) {
  // Rounds 8G..8G+7 need pairs up to 4G+3; meanwhile pairs 4G+8..4G+11.
  if constexpr (4 * G + 8 < 40) schedule_pair<4 * G + 8>(x, wk);
  if constexpr (4 * G + 9 < 40) schedule_pair<4 * G + 9>(x, wk);
  eight_rounds(s, wk, 8 * G, 0, bc);
  if constexpr (4 * G + 10 < 40) schedule_pair<4 * G + 10>(x, wk);
  if constexpr (4 * G + 11 < 40) schedule_pair<4 * G + 11>(x, wk);
}

template <int... G>
KEL_SHA512 void first_block(uint64_t (&s)[8], __m256i (&x)[8], PairSchedule &wk, uint64_t &bc,
                            std::integer_sequence<int, G...>) {
  (first_block_group<G>(s, x, wk, bc), ...);
}

KEL_SHA512 void add_state(uint64_t (&s)[8], uint64_t (&h)[8]) {
  for (int i = 0; i < 8; ++i) h[i] = s[i] += h[i];
}

}  // namespace

bool sha512_fast_available() { return cpu::has(cpu::kAvx2 | cpu::kBmi2); }

__attribute__((target("avx2,bmi2")))
void sha512_blocks_fast(uint64_t state[8], const uint8_t *data, size_t blocks) {
  if (blocks == 0) return;
  const __m256i bswap = _mm256_broadcastsi128_si256(_mm_set_epi64x(0x08090a0b0c0d0e0fLL, 0x0001020304050607LL));
  uint64_t h[8];
  for (int i = 0; i < 8; ++i) h[i] = state[i];
  alignas(32) PairSchedule wk;

  while (blocks != 0) {
    // A lone last block is paired with itself; its second schedule is unused.
    const uint8_t *second = blocks >= 2 ? data + 128 : data;
    __m256i x[8];
    for (int j = 0; j < 8; ++j) {
      const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 16 * j));
      const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i *>(second + 16 * j));
      x[j] = _mm256_shuffle_epi8(_mm256_set_m128i(hi, lo), bswap);
      _mm256_store_si256(reinterpret_cast<__m256i *>(wk[j].data()), add_k(x[j], j));
    }

    uint64_t s[8];
    for (int i = 0; i < 8; ++i) s[i] = h[i];
    uint64_t bc = s[1] ^ s[2];
    first_block(s, x, wk, bc, std::make_integer_sequence<int, 10>{});
    add_state(s, h);
    if (blocks == 1) break;

    bc = s[1] ^ s[2];
    for (int t = 0; t < 80; t += 8) eight_rounds(s, wk, t, 1, bc);
    add_state(s, h);
    blocks -= 2;
    data += 256;
  }
  for (int i = 0; i < 8; ++i) state[i] = h[i];
}

}  // namespace kel::hash
