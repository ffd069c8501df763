// DES rounds on the AVX-512 bit shuffles. Each of f's 32 output bits is one
// bit of a 64-bit truth table, picked by VPSHUFBITQMB at the 6-bit input of
// its S-box: a register operation whatever the index, so key and data shape
// no address. The halves stay in the spread form S(x) = x << 32 | rotr(x, 4)
// (des_internal.h): six shuffles give the 48 bits of S(f) that the next
// round reads, so a round's serial path is a broadcast, a byte shuffle, the
// bit shuffles and one tree of exclusive ors.
#include "crypto/cipher/x86/des_avx512.h"

// GCC 12's AVX-512 intrinsics fill their pass-through operand with
// _mm512_undefined_epi32(), a deliberate self-initialisation it then warns
// about at every use; nothing here reads an undefined value.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include <cstring>

#include "crypto/cipher/des_internal.h"
#include "crypto/common/ct.h"

#define KEL_DES512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512bitalg")))

namespace kel::des::avx512 {
namespace {

struct Regs {
  __m512i truth[6], source;
};

KEL_DES512 inline Regs load() {
  Regs g;
  for (int s = 0; s < 6; ++s) g.truth[s] = _mm512_loadu_si512(kShuffle.truth[s]);
  g.source = _mm512_loadu_si512(kShuffle.source);
  return g;
}

inline uint64_t spread(uint32_t x) { return uint64_t{x} << 32 | std::rotr(x, 4); }

// x from the bits of S(x) under E: the low six bits of each byte.
inline uint32_t unspread(uint64_t s) {
  return (static_cast<uint32_t>(s >> 32) & 0x3f3f3f3fu) | (std::rotl(static_cast<uint32_t>(s), 4) & 0xc0c0c0c0u);
}

inline uint64_t subkey(const uint32_t *k) {
  uint64_t key;
  std::memcpy(&key, k, sizeof key);  // k[0] | k[1] << 32
  return key;
}

// Shuffle s keeps bit s of each byte of its result.
alignas(64) constexpr uint64_t kKeep[6] = {0x0101010101010101ull, 0x0202020202020202ull, 0x0404040404040404ull,
                                          0x0808080808080808ull, 0x1010101010101010ull, 0x2020202020202020ull};

// f_one and f_pair give e ^ the bits of S(f(R, K)) under E, from the S-box
// inputs S(R) ^ k. The shuffles' bits are disjoint, so one tree of exclusive
// ors takes them and e together: three levels after the shuffles rather
// than four.
//
// One block at a time (CBC encryption) waits on every round: the tree runs
// in the mask registers and a single move takes the result out, where six
// moves would queue on the one port that serves them. Written as assembly
// because GCC keeps the six write masks in mask registers for good and then
// shuttles the tree through general ones.
KEL_DES512 inline uint64_t f_one(uint64_t inputs, uint64_t e, const Regs &g) {
  // The constant-time check's MemorySanitizer takes an assembly block's
  // inputs for addresses: they go in declassified, and the result comes out
  // as secret as they were.
  const bool secret = KEL_CT_UNVEIL(&inputs, sizeof inputs) | KEL_CT_UNVEIL(&e, sizeof e);
  uint64_t out;
  __m512i index;
  asm("vpbroadcastq %[in], %[ix]\n\t"
      "vpshufb %[src], %[ix], %[ix]\n\t"
      "kmovq 0(%[keep]), %%k1\n\t"
      "kmovq 8(%[keep]), %%k2\n\t"
      "kmovq 16(%[keep]), %%k3\n\t"
      "kmovq 24(%[keep]), %%k4\n\t"
      "kmovq 32(%[keep]), %%k5\n\t"
      "kmovq 40(%[keep]), %%k6\n\t"
      "vpshufbitqmb %[ix], %[t0], %%k1%{%%k1%}\n\t"
      "vpshufbitqmb %[ix], %[t1], %%k2%{%%k2%}\n\t"
      "vpshufbitqmb %[ix], %[t2], %%k3%{%%k3%}\n\t"
      "vpshufbitqmb %[ix], %[t3], %%k4%{%%k4%}\n\t"
      "vpshufbitqmb %[ix], %[t4], %%k5%{%%k5%}\n\t"
      "vpshufbitqmb %[ix], %[t5], %%k6%{%%k6%}\n\t"
      "kmovq %[e], %%k7\n\t"
      "kxorq %%k2, %%k1, %%k1\n\t"
      "kxorq %%k4, %%k3, %%k3\n\t"
      "kxorq %%k6, %%k5, %%k5\n\t"
      "kxorq %%k3, %%k1, %%k1\n\t"
      "kxorq %%k7, %%k5, %%k5\n\t"
      "kxorq %%k5, %%k1, %%k1\n\t"
      "kmovq %%k1, %[out]"
      : [out] "=r"(out), [ix] "=&v"(index)
      : [in] "r"(inputs), [e] "r"(e), [src] "v"(g.source), [keep] "r"(kKeep), "m"(kKeep), [t0] "v"(g.truth[0]),
        [t1] "v"(g.truth[1]), [t2] "v"(g.truth[2]), [t3] "v"(g.truth[3]), [t4] "v"(g.truth[4]), [t5] "v"(g.truth[5])
      : "k1", "k2", "k3", "k4", "k5", "k6", "k7");
  KEL_CT_VEIL(&out, sizeof out, secret);
  return out;
}

// Two blocks at a time are bound by throughput instead, where the six moves
// and a tree in general registers do better.
KEL_DES512 inline uint64_t f_pair(uint64_t inputs, uint64_t e, const Regs &g) {
  __m512i index = _mm512_shuffle_epi8(_mm512_set1_epi64(static_cast<long long>(inputs)), g.source);
  // The constant-time check's MemorySanitizer has no rule for VPSHUFBITQMB
  // and would take its index for an address: it goes in declassified, and
  // the result comes out as secret as the index was.
  const bool secret = KEL_CT_UNVEIL(&index, sizeof index);
  uint64_t bits[6];
#pragma GCC unroll 6
  for (int s = 0; s < 6; ++s)
    bits[s] = _mm512_mask_bitshuffle_epi64_mask(0x0101010101010101ull << s, g.truth[s], index);
  KEL_CT_VEIL(bits, sizeof bits, secret);
  return ((bits[0] ^ bits[1]) ^ (bits[2] ^ bits[3])) ^ ((bits[4] ^ bits[5]) ^ e);
}

// The chain from round to round is a = R ^ K, the next S-box inputs: with
// R' = L ^ f(a) it is a' = f(a) ^ (L ^ K'), whose second term is ready before
// f(a) is, and each half is a' ^ K' again when it is next needed.
template <size_t N>
KEL_DES512 inline void rounds(uint64_t (&l)[N], uint64_t (&r)[N], const uint32_t *k, const Regs &g) {
  uint64_t a[N];
  for (size_t b = 0; b < N; ++b) a[b] = r[b] ^ subkey(k);
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i, k += 4) {
    const uint64_t k1 = subkey(k + 2), k2 = i < 7 ? subkey(k + 4) : 0;
    for (size_t b = 0; b < N; ++b) {
      a[b] = N == 1 ? f_one(a[b], l[b] ^ k1, g) : f_pair(a[b], l[b] ^ k1, g);
      l[b] = a[b] ^ k1;
      a[b] = N == 1 ? f_one(a[b], r[b] ^ k2, g) : f_pair(a[b], r[b] ^ k2, g);
      r[b] = a[b] ^ k2;
    }
  }
}

template <size_t N>
KEL_DES512 void run(uint32_t *pl, uint32_t *pr, const uint32_t *k1, const uint32_t *k2, const uint32_t *k3) {
  const Regs g = load();
  uint64_t l[N], r[N];
  for (size_t b = 0; b < N; ++b) l[b] = spread(pl[b]), r[b] = spread(pr[b]);
  rounds<N>(l, r, k1, g);
  if (k2 != nullptr) {
    rounds<N>(r, l, k2, g);
    rounds<N>(l, r, k3, g);
  }
  for (size_t b = 0; b < N; ++b) pl[b] = unspread(l[b]), pr[b] = unspread(r[b]);
}

}  // namespace

void rounds(uint32_t *l, uint32_t *r, size_t n, const uint32_t *k1, const uint32_t *k2, const uint32_t *k3) {
  if (n == 2)
    run<2>(l, r, k1, k2, k3);
  else
    run<1>(l, r, k1, k2, k3);
}

}  // namespace kel::des::avx512
