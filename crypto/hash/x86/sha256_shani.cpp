// SHA-256 block compression with the SHA extensions (SHA256RNDS2,
// SHA256MSG1/2): two rounds per instruction, message schedule in the vector
// unit.
//
// The rounds are one dependent chain of 32 SHA256RNDS2 per block, so the
// speed is set by that instruction's latency; everything else (loads, byte
// swaps, schedule, constant adds) runs beside the chain. The state lives in
// two registers in the order the instruction wants: ABEF and CDGH.
#include <immintrin.h>

#include <array>
#include <cstring>
#include <utility>

#include "crypto/common/cpu.h"
#include "crypto/hash/x86/kernels.h"
#include "crypto/hash/round_constants.h"

namespace kel::hash {
namespace {

#define KEL_SHANI __attribute__((target("sha,sse4.1,ssse3"), always_inline)) inline

// Rounds 4q..4q+3 with w[q % 4] holding W[4q..4q+3]. Beside them the schedule
// finishes W for group q+1 (SHA256MSG2 needs the group just used) and starts
// group q+3 (SHA256MSG1), so each new group is ready one group ahead.
template <int Q>
KEL_SHANI void group(__m128i &abef, __m128i &cdgh, __m128i (&w)[4]) {
  const __m128i wk = _mm_add_epi32(w[Q % 4], _mm_load_si128(reinterpret_cast<const __m128i *>(&kSha256K[4 * Q])));
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
  if constexpr (Q >= 3 && Q <= 14) {
    // W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16]: the W[t-7] terms
    // straddle groups q-1 and q.
    const __m128i w7 = _mm_alignr_epi8(w[Q % 4], w[(Q + 3) % 4], 4);
    w[(Q + 1) % 4] = _mm_sha256msg2_epu32(_mm_add_epi32(w[(Q + 1) % 4], w7), w[Q % 4]);
  }
  abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0e));
  if constexpr (Q >= 1 && Q <= 12) w[(Q + 3) % 4] = _mm_sha256msg1_epu32(w[(Q + 3) % 4], w[Q % 4]);
}

template <int... Q>
KEL_SHANI void all_groups(__m128i &abef, __m128i &cdgh, __m128i (&w)[4], std::integer_sequence<int, Q...>) {
  (group<Q>(abef, cdgh, w), ...);
}

// The state words in host order <-> the two registers the rounds use.
KEL_SHANI void load_state(const uint32_t state[8], __m128i &abef, __m128i &cdgh) {
  // state[0..3] = A B C D, state[4..7] = E F G H (lowest lane first).
  const __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i *>(state));
  const __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i *>(state + 4));
  const __m128i cdab = _mm_shuffle_epi32(dcba, 0xb1);
  const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1b);
  abef = _mm_alignr_epi8(cdab, efgh, 8);
  cdgh = _mm_blend_epi16(efgh, cdab, 0xf0);
}

// A B C D and E F G H, lowest lane first.
KEL_SHANI void unpack_state(__m128i abef, __m128i cdgh, __m128i &dcba, __m128i &hgfe) {
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1b);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xb1);
  dcba = _mm_blend_epi16(feba, dchg, 0xf0);
  hgfe = _mm_alignr_epi8(dchg, feba, 8);
}

// One block of message words w (W[0..15], lowest lane first) into the state.
KEL_SHANI void compress(__m128i &abef, __m128i &cdgh, __m128i (&w)[4]) {
  const __m128i abef0 = abef;
  const __m128i cdgh0 = cdgh;
  all_groups(abef, cdgh, w, std::make_integer_sequence<int, 16>{});
  abef = _mm_add_epi32(abef, abef0);
  cdgh = _mm_add_epi32(cdgh, cdgh0);
}

KEL_SHANI __m128i byte_swap_mask() { return _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL); }

}  // namespace

bool sha256_shani_available() { return cpu::has(cpu::kSha | cpu::kSse41 | cpu::kSsse3); }

__attribute__((target("sha,sse4.1,ssse3")))
void sha256_blocks_shani(uint32_t state[8], const uint8_t *data, size_t blocks) {
  if (blocks == 0) return;
  const __m128i bswap = byte_swap_mask();
  __m128i abef, cdgh;
  load_state(state, abef, cdgh);
  for (; blocks != 0; --blocks, data += 64) {
    __m128i w[4];
    for (int i = 0; i < 4; ++i) {
      w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 16 * i)), bswap);
    }
    compress(abef, cdgh, w);
  }
  __m128i dcba, hgfe;
  unpack_state(abef, cdgh, dcba, hgfe);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(state), dcba);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(state + 4), hgfe);
}

// The inner digest never leaves the registers: its words are the first
// message words of the outer block as they stand, followed by the constant
// padding for a message of one block plus the digest.
__attribute__((target("sha,sse4.1,ssse3")))
void sha256_hmac_tail_shani(uint32_t inner[8], const uint8_t *tail, size_t blocks, const uint32_t outer[8],
                            uint8_t *mac, bool sha224) {
  const __m128i bswap = byte_swap_mask();
  __m128i abef, cdgh;
  load_state(inner, abef, cdgh);
  for (; blocks != 0; --blocks, tail += 64) {
    __m128i w[4];
    for (int i = 0; i < 4; ++i) {
      w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(tail + 16 * i)), bswap);
    }
    compress(abef, cdgh, w);
  }
  __m128i w[4];
  unpack_state(abef, cdgh, w[0], w[1]);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(inner), w[0]);  // the finished inner hash stays behind
  _mm_storeu_si128(reinterpret_cast<__m128i *>(inner + 4), w[1]);
  if (sha224) {
    // H0..H6, then 0x80 in W7 and the length (64 + 28) * 8 bits.
    w[1] = _mm_insert_epi32(w[1], static_cast<int>(0x80000000u), 3);
    w[2] = _mm_setzero_si128();
    w[3] = _mm_set_epi32((64 + 28) * 8, 0, 0, 0);
  } else {
    w[2] = _mm_set_epi32(0, 0, 0, static_cast<int>(0x80000000u));
    w[3] = _mm_set_epi32((64 + 32) * 8, 0, 0, 0);
  }
  load_state(outer, abef, cdgh);
  compress(abef, cdgh, w);
  __m128i dcba, hgfe;
  unpack_state(abef, cdgh, dcba, hgfe);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(mac), _mm_shuffle_epi8(dcba, bswap));
  alignas(16) uint8_t rest[16];
  _mm_store_si128(reinterpret_cast<__m128i *>(rest), _mm_shuffle_epi8(hgfe, bswap));
  std::memcpy(mac + 16, rest, sha224 ? 12 : 16);
}

}  // namespace kel::hash
