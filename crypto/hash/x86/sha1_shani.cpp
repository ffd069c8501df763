// SHA-1 block compression with the SHA extensions (SHA1RNDS4, SHA1NEXTE,
// SHA1MSG1/2): four rounds per instruction, message schedule in the vector
// unit.
//
// A B C D live in one register (A in the top lane), E in the top lane of a
// second. SHA1NEXTE both rotates the A of four rounds ago into the next E and
// adds the message words, so the chain per group is SHA1NEXTE + SHA1RNDS4.
#include <immintrin.h>

#include <utility>

#include "crypto/common/ct.h"
#include "crypto/common/cpu.h"
#include "crypto/hash/x86/kernels.h"

namespace kel::hash {
namespace {

#define KEL_SHANI __attribute__((target("sha,sse4.1,ssse3"), always_inline)) inline

// Rounds 4q..4q+3 with w[q % 4] holding W[4q..4q+3] (W[4q] in the top lane).
// FIPS 180-4 6.1.2: W[t] = rotl1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16]). In
// groups of four: SHA1MSG1 folds W[t-14] into W[t-16] (groups q-4 and q-3),
// the xor adds group q-2, and SHA1MSG2 adds W[t-3] and rotates; each step is
// done as soon as its inputs exist.
template <int Q>
KEL_SHANI void group(__m128i &abcd, __m128i &e, __m128i &abcd_prev, __m128i (&w)[4]) {
  if constexpr (Q == 0) {
    e = _mm_add_epi32(e, w[0]);
  } else {
    e = _mm_sha1nexte_epu32(abcd_prev, w[Q % 4]);
  }
  abcd_prev = abcd;
  if constexpr (Q >= 3 && Q <= 18) w[(Q + 1) % 4] = _mm_sha1msg2_epu32(w[(Q + 1) % 4], w[Q % 4]);
  abcd = _mm_sha1rnds4_epu32(abcd, e, Q / 5);
  if constexpr (Q >= 1 && Q <= 16) w[(Q + 3) % 4] = _mm_sha1msg1_epu32(w[(Q + 3) % 4], w[Q % 4]);
  if constexpr (Q >= 2 && Q <= 17) w[(Q + 2) % 4] = _mm_xor_si128(w[(Q + 2) % 4], w[Q % 4]);
}

template <int... Q>
KEL_SHANI void all_groups(__m128i &abcd, __m128i &e, __m128i &abcd_prev, __m128i (&w)[4],
                          std::integer_sequence<int, Q...>) {
  (group<Q>(abcd, e, abcd_prev, w), ...);
}

}  // namespace

bool sha1_shani_available() { return cpu::has(cpu::kSha | cpu::kSse41 | cpu::kSsse3); }

__attribute__((target("sha,sse4.1,ssse3")))
void sha1_blocks_shani(uint32_t state[5], const uint8_t *data, size_t blocks) {
  if (blocks == 0) return;
  const bool secretState = KEL_CT_UNVEIL(state, 20), secretData = KEL_CT_UNVEIL(data, 64 * blocks);
  // Big-endian words with the first word in the top lane.
  const __m128i bswap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(state)), 0x1b);
  __m128i e = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);

  for (; blocks != 0; --blocks, data += 64) {
    const __m128i abcd0 = abcd;
    const __m128i e0 = e;
    __m128i w[4];
    for (int i = 0; i < 4; ++i) {
      w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 16 * i)), bswap);
    }
    __m128i abcd_prev;
    all_groups(abcd, e, abcd_prev, w, std::make_integer_sequence<int, 20>{});
    // E of the next block: rotl30 of the A from four rounds back, plus E0.
    e = _mm_sha1nexte_epu32(abcd_prev, e0);
    abcd = _mm_add_epi32(abcd, abcd0);
  }

  _mm_storeu_si128(reinterpret_cast<__m128i *>(state), _mm_shuffle_epi32(abcd, 0x1b));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e, 3));
  KEL_CT_VEIL(state, 20, secretState || secretData);
  KEL_CT_VEIL(data, 64 * blocks, secretData);
}

}  // namespace kel::hash
