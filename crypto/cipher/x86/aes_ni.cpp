// AES-NI paths: key expansion through AESKEYGENASSIST (no table look-ups),
// single blocks, and the parallel modes pipelined over eight blocks.
#include "crypto/common/ct.h"
#include "crypto/cipher/x86/aes_ni.h"

#include <immintrin.h>

#include <cstring>

#include "crypto/cipher/aes_schedule.h"
#include "crypto/cipher/internal.h"
#include "crypto/cipher/x86/clmul.h"

#define KEL_NI __attribute__((target("aes,ssse3,sse4.1")))
#define KEL_NI_CLMUL __attribute__((target("aes,pclmul,ssse3,sse4.1")))

namespace kel::aes::ni {
namespace {

// Round-key words are big-endian; the instructions want the key bytes in
// memory order, so each word is byte-swapped on load and store.
KEL_NI inline __m128i bswap32_mask() { return _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3); }

KEL_NI inline __m128i load_rk(const uint32_t *rk, __m128i m) {
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(rk)), m);
}

struct Keys {
  __m128i k[15];
  int nr;
};

// rk is a context's full 60-word schedule: all 15 slots are read, the unused
// ones for shorter keys included.
KEL_NI inline void load_keys(Keys &keys, const uint32_t *rk, int nr) {
  const __m128i m = bswap32_mask();
  keys.nr = nr;
  for (int i = 0; i < 15; ++i) keys.k[i] = load_rk(rk + 4 * i, m);
}

// Register-wide stores: cheaper than a string store for a few hundred bytes.
KEL_NI inline void wipe_keys(Keys &keys) {
  for (auto &k : keys.k) _mm_store_si128(&k, _mm_setzero_si128());
  __asm__ __volatile__("" : : "r"(&keys) : "memory");
}

KEL_NI inline __m128i enc1(const Keys &keys, __m128i b) {
  b = _mm_xor_si128(b, keys.k[0]);
  for (int r = 1; r < keys.nr; ++r) b = _mm_aesenc_si128(b, keys.k[r]);
  return _mm_aesenclast_si128(b, keys.k[keys.nr]);
}

KEL_NI inline __m128i dec1(const Keys &keys, __m128i b) {
  b = _mm_xor_si128(b, keys.k[0]);
  for (int r = 1; r < keys.nr; ++r) b = _mm_aesdec_si128(b, keys.k[r]);
  return _mm_aesdeclast_si128(b, keys.k[keys.nr]);
}

// Holds v in a register at this point. Nothing under the MemorySanitizer
// constant-time check, which takes an asm operand for a branch on it (as
// KEL_VALUE_BARRIER in crypto/common/ct.h).
KEL_NI inline void pin(__m128i &v) {
#if defined(KEL_CT_CHECK_MSAN)
  (void)v;
#else
  __asm__("" : "+x"(v));
#endif
}

// A round key in a register: the compiler would otherwise fold it into
// each of the eight instructions as a memory operand, eight loads a round
// where one does.
KEL_NI inline __m128i in_reg(__m128i k) {
  pin(k);
  return k;
}

template <bool kEncrypt>
KEL_NI inline void round8(__m128i *b, __m128i key) {
  const __m128i k = in_reg(key);
  _Pragma("GCC unroll 8")
  for (int j = 0; j < 8; ++j) b[j] = kEncrypt ? _mm_aesenc_si128(b[j], k) : _mm_aesdec_si128(b[j], k);
}

// Round keys already in instruction byte order, read where they lie.
struct KeyRef {
  const __m128i *k;
  int nr;
};

// Rounds 1 to nr of eight blocks whose first AddRoundKey is done.
template <bool kEncrypt, class K = Keys>
KEL_NI inline void crypt8_from1(const K &keys, __m128i *b) {
  for (int r = 1; r < keys.nr; ++r) round8<kEncrypt>(b, keys.k[r]);
  const __m128i last = in_reg(keys.k[keys.nr]);
  _Pragma("GCC unroll 8")
  for (int j = 0; j < 8; ++j) b[j] = kEncrypt ? _mm_aesenclast_si128(b[j], last) : _mm_aesdeclast_si128(b[j], last);
}

template <bool kEncrypt, class K = Keys>
KEL_NI inline void crypt8(const K &keys, __m128i *b) {
  const __m128i first = in_reg(keys.k[0]);
  _Pragma("GCC unroll 8")
  for (int j = 0; j < 8; ++j) b[j] = _mm_xor_si128(b[j], first);
  crypt8_from1<kEncrypt>(keys, b);
}

KEL_NI inline __m128i loadu(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
KEL_NI inline void storeu(uint8_t *p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }

// Eight counter blocks (32-bit big-endian counter in the last word) already
// XORed with the first round key, kept in memory. A pass takes them and
// rewrites only their last words for the next pass, from general registers:
// the counter work stays off the AES units' ports, and the stores are long
// done when the next pass loads the blocks.
struct CounterBlocks8 {
  alignas(16) uint8_t blk[8][16];
  uint32_t c, k3;
  KEL_NI CounterBlocks8(const uint8_t counter[16], __m128i k0) {
    const __m128i base = _mm_xor_si128(loadu(counter), k0);
    for (auto &b : blk) _mm_store_si128(reinterpret_cast<__m128i *>(b), base);
    c = kel::load_be32(counter + 12);
    k3 = __builtin_bswap32(static_cast<uint32_t>(_mm_extract_epi32(k0, 3)));
    fill();
  }
  CounterBlocks8(const CounterBlocks8 &) = delete;
  ~CounterBlocks8() { kel::mem::secure_zero(this, sizeof *this); }
  void fill() {
    _Pragma("GCC unroll 8") for (uint32_t j = 0; j < 8; ++j) kel::store_be32(blk[j] + 12, (c + j) ^ k3);
  }
  KEL_NI void take(__m128i *b) {
    _Pragma("GCC unroll 8") for (int j = 0; j < 8; ++j) b[j] = _mm_load_si128(reinterpret_cast<const __m128i *>(blk[j]));
    c += 8;
    fill();
  }
  // The next counter into the caller's block.
  void store(uint8_t counter[16]) const { kel::store_be32(counter + 12, c); }
};

// The serial modes keep the whole schedule in registers: one instantiation
// per round count, the rounds unrolled.
template <int NR>
struct RegKeys {
  __m128i k[NR + 1];
};

template <int NR>
KEL_NI inline void load_reg_keys(RegKeys<NR> &keys, const uint32_t *rk) {
  const __m128i m = bswap32_mask();
  _Pragma("GCC unroll 15") for (int i = 0; i <= NR; ++i) keys.k[i] = load_rk(rk + 4 * i, m);
}

template <int NR>
KEL_NI inline __m128i enc1(const RegKeys<NR> &keys, __m128i b) {
  b = _mm_xor_si128(b, keys.k[0]);
  _Pragma("GCC unroll 15") for (int r = 1; r < NR; ++r) b = _mm_aesenc_si128(b, keys.k[r]);
  return _mm_aesenclast_si128(b, keys.k[NR]);
}

template <int NR>
KEL_NI inline __m128i enc1_prexored(const RegKeys<NR> &keys, __m128i b) {
  _Pragma("GCC unroll 15") for (int r = 1; r < NR; ++r) b = _mm_aesenc_si128(b, keys.k[r]);
  return _mm_aesenclast_si128(b, keys.k[NR]);
}

template <int NR>
KEL_NI inline void wipe_reg_keys(RegKeys<NR> &keys) {
  for (auto &k : keys.k) _mm_store_si128(&k, _mm_setzero_si128());
  __asm__ __volatile__("" : : "r"(&keys) : "memory");
}

// Calls body(RegKeys<NR>&) with the context's schedule loaded, then wipes it.
template <class F>
KEL_NI inline void with_reg_keys(const AesContext &ctx, F body) {
  switch (ctx.rounds) {
    case 10: {
      RegKeys<10> k;
      load_reg_keys(k, ctx.roundKeys);
      body(k);
      wipe_reg_keys(k);
      break;
    }
    case 12: {
      RegKeys<12> k;
      load_reg_keys(k, ctx.roundKeys);
      body(k);
      wipe_reg_keys(k);
      break;
    }
    default: {
      RegKeys<14> k;
      load_reg_keys(k, ctx.roundKeys);
      body(k);
      wipe_reg_keys(k);
      break;
    }
  }
}

// SubWord and SubWord(RotWord) of a big-endian key word through AESKEYGENASSIST.
KEL_NI inline uint32_t sub_word(uint32_t w, bool rot) {
  const bool secret = KEL_CT_UNVEIL(&w, sizeof w);
  const __m128i v = _mm_set_epi32(0, 0, static_cast<int>(__builtin_bswap32(w)), 0);
  const __m128i r = _mm_aeskeygenassist_si128(v, 0);
  uint32_t le = static_cast<uint32_t>(rot ? _mm_extract_epi32(r, 1) : _mm_extract_epi32(r, 0));
  KEL_CT_VEIL(&le, sizeof le, secret);
  return __builtin_bswap32(le);
}

template <bool kEncrypt>
KEL_NI void ecb(const AesContext &ctx, const uint8_t *in, uint8_t *out, size_t n) {
  Keys keys;
  load_keys(keys, ctx.roundKeys, ctx.rounds);
  for (; n >= 8; n -= 8, in += 128, out += 128) {
    __m128i b[8];
    _Pragma("GCC unroll 8")
    for (int j = 0; j < 8; ++j) b[j] = loadu(in + 16 * j);
    crypt8<kEncrypt>(keys, b);
    _Pragma("GCC unroll 8")
    for (int j = 0; j < 8; ++j) storeu(out + 16 * j, b[j]);
  }
  for (; n > 0; --n, in += 16, out += 16) storeu(out, kEncrypt ? enc1(keys, loadu(in)) : dec1(keys, loadu(in)));
  wipe_keys(keys);
}

}  // namespace

KEL_NI int key_setup_enc(uint32_t *rk, const uint8_t *key, int32_t keyBits) {
  return expand_key(rk, key, keyBits, sub_word);
}

KEL_NI int key_setup_dec(uint32_t *rk, const uint8_t *key, int32_t keyBits) {
  const int nr = key_setup_enc(rk, key, keyBits);
  if (nr == 0) return 0;
  const __m128i m = bswap32_mask();
  __m128i k[15];
  for (int i = 0; i <= nr; ++i) k[i] = load_rk(rk + 4 * i, m);
  for (int i = 0; i <= nr; ++i) {
    __m128i v = k[nr - i];
    if (i != 0 && i != nr) v = _mm_aesimc_si128(v);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(rk + 4 * i), _mm_shuffle_epi8(v, m));
  }
  kel::mem::secure_zero(k, sizeof k);
  return nr;
}

KEL_NI void encrypt_block(const uint32_t *rk, int nr, const uint8_t *in, uint8_t *out) {
  const __m128i m = bswap32_mask();
  __m128i b = _mm_xor_si128(loadu(in), load_rk(rk, m));
  for (int r = 1; r < nr; ++r) b = _mm_aesenc_si128(b, load_rk(rk + 4 * r, m));
  storeu(out, _mm_aesenclast_si128(b, load_rk(rk + 4 * nr, m)));
}

KEL_NI void decrypt_block(const uint32_t *rk, int nr, const uint8_t *in, uint8_t *out) {
  const __m128i m = bswap32_mask();
  __m128i b = _mm_xor_si128(loadu(in), load_rk(rk, m));
  for (int r = 1; r < nr; ++r) b = _mm_aesdec_si128(b, load_rk(rk + 4 * r, m));
  storeu(out, _mm_aesdeclast_si128(b, load_rk(rk + 4 * nr, m)));
}

void encrypt_blocks(const AesContext &ctx, const uint8_t *in, uint8_t *out, size_t n) { ecb<true>(ctx, in, out, n); }

void decrypt_blocks(const AesContext &ctx, const uint8_t *in, uint8_t *out, size_t n) { ecb<false>(ctx, in, out, n); }

// Rounds 1..NR-1 of a block whose first AddRoundKey is done.
template <int NR>
KEL_NI inline __m128i middle_rounds(const RegKeys<NR> &keys, __m128i b) {
  _Pragma("GCC unroll 15") for (int r = 1; r < NR; ++r) b = _mm_aesenc_si128(b, keys.k[r]);
  return b;
}

KEL_NI void cbc_encrypt(const AesContext &ctx, uint8_t iv[16], const uint8_t *in, uint8_t *out, size_t n) {
  if (n == 0) return;
  with_reg_keys(ctx, [&](const auto &keys) KEL_NI {
    constexpr int NR = sizeof(keys.k) / sizeof(keys.k[0]) - 1;
    // The chain carries E(...) XOR next plaintext XOR k0: the last round's key
    // absorbs the next block's input, so nothing but AES rounds lies between
    // one block and the next; the ciphertext is recovered beside the chain.
    __m128i x = _mm_xor_si128(loadu(iv), _mm_xor_si128(loadu(in), keys.k[0]));
    for (size_t i = 0; i + 1 < n; ++i) {
      const __m128i nextIn = _mm_xor_si128(loadu(in + 16 * (i + 1)), keys.k[0]);
      x = _mm_aesenclast_si128(middle_rounds(keys, x), _mm_xor_si128(keys.k[NR], nextIn));
      storeu(out + 16 * i, _mm_xor_si128(x, nextIn));
    }
    const __m128i c = _mm_aesenclast_si128(middle_rounds(keys, x), keys.k[NR]);
    storeu(out + 16 * (n - 1), c);
    storeu(iv, c);
  });
}

KEL_NI void cbc_decrypt(const AesContext &ctx, uint8_t iv[16], const uint8_t *in, uint8_t *out, size_t n) {
  Keys keys;
  load_keys(keys, ctx.roundKeys, ctx.rounds);
  __m128i prev = loadu(iv);
  for (; n >= 8; n -= 8, in += 128, out += 128) {
    __m128i b[8];
    const __m128i first = in_reg(keys.k[0]);
    _Pragma("GCC unroll 8")
    for (int j = 0; j < 8; ++j) b[j] = _mm_xor_si128(loadu(in + 16 * j), first);
    for (int r = 1; r < keys.nr; ++r) round8<false>(b, keys.k[r]);
    // The chaining blocks fold into the last round key; they are read again
    // from the input rather than held in registers beside the eight blocks,
    // last block first, so that in place each is read before it is
    // overwritten.
    const __m128i last = in_reg(keys.k[keys.nr]), next = loadu(in + 112);
    _Pragma("GCC unroll 8")
    for (int j = 7; j >= 1; --j)
      storeu(out + 16 * j, _mm_aesdeclast_si128(b[j], _mm_xor_si128(last, loadu(in + 16 * (j - 1)))));
    storeu(out, _mm_aesdeclast_si128(b[0], _mm_xor_si128(last, prev)));
    prev = next;
  }
  for (; n > 0; --n, in += 16, out += 16) {
    const __m128i c = loadu(in);
    storeu(out, _mm_xor_si128(dec1(keys, c), prev));
    prev = c;
  }
  storeu(iv, prev);
  wipe_keys(keys);
}

KEL_NI void ctr32_xor(const AesContext &ctx, uint8_t counter[16], const uint8_t *in, uint8_t *out, size_t n) {
  Keys keys;
  load_keys(keys, ctx.roundKeys, ctx.rounds);
  // The whole block byte-reversed puts the big-endian low word into lane 0,
  // where a 32-bit add counts it.
  const __m128i rev = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  __m128i ctr = _mm_shuffle_epi8(loadu(counter), rev);
  const __m128i one = _mm_set_epi32(0, 0, 0, 1);
  if (n >= 8) {
    CounterBlocks8 blocks(counter, keys.k[0]);
    for (; n >= 8; n -= 8, in += 128, out += 128) {
      __m128i b[8];
      blocks.take(b);
      crypt8_from1<true>(keys, b);
      _Pragma("GCC unroll 8")
      for (int j = 0; j < 8; ++j) storeu(out + 16 * j, _mm_xor_si128(b[j], loadu(in + 16 * j)));
    }
    blocks.store(counter);
    ctr = _mm_shuffle_epi8(loadu(counter), rev);
  }
  if (n >= 4) {  // a short message still runs four blocks side by side
    __m128i b[4];
    _Pragma("GCC unroll 4") for (int j = 0; j < 4; ++j) {
      b[j] = _mm_xor_si128(_mm_shuffle_epi8(ctr, rev), keys.k[0]);
      ctr = _mm_add_epi32(ctr, one);
    }
    for (int r = 1; r < keys.nr; ++r) {
      _Pragma("GCC unroll 4") for (int j = 0; j < 4; ++j) b[j] = _mm_aesenc_si128(b[j], keys.k[r]);
    }
    _Pragma("GCC unroll 4") for (int j = 0; j < 4; ++j) storeu(
        out + 16 * j, _mm_xor_si128(_mm_aesenclast_si128(b[j], keys.k[keys.nr]), loadu(in + 16 * j)));
    n -= 4;
    in += 64;
    out += 64;
  }
  for (; n > 0; --n, in += 16, out += 16) {
    const __m128i k = enc1(keys, _mm_shuffle_epi8(ctr, rev));
    ctr = _mm_add_epi32(ctr, one);
    storeu(out, _mm_xor_si128(k, loadu(in)));
  }
  storeu(counter, _mm_shuffle_epi8(ctr, rev));
  wipe_keys(keys);
}

KEL_NI void cbc_mac(const AesContext &ctx, uint8_t mac[16], const uint8_t *in, size_t n) {
  with_reg_keys(ctx, [&](const auto &keys) KEL_NI {
    __m128i t = loadu(mac);
    for (size_t i = 0; i < n; ++i) t = enc1(keys, _mm_xor_si128(t, loadu(in + 16 * i)));
    storeu(mac, t);
  });
}

// The MAC chain and the counter blocks are independent, so each pass runs one
// of each through the rounds side by side.
template <int NR>
KEL_NI inline void enc2(const RegKeys<NR> &keys, __m128i &a, __m128i &c) {
  a = _mm_xor_si128(a, keys.k[0]);
  c = _mm_xor_si128(c, keys.k[0]);
  _Pragma("GCC unroll 15") for (int r = 1; r < NR; ++r) {
    a = _mm_aesenc_si128(a, keys.k[r]);
    c = _mm_aesenc_si128(c, keys.k[r]);
  }
  a = _mm_aesenclast_si128(a, keys.k[NR]);
  c = _mm_aesenclast_si128(c, keys.k[NR]);
}

KEL_NI void ccm_blocks(const AesContext &ctx, uint8_t mac[16], uint8_t counter[16], uint8_t *data, size_t n,
                       bool encrypt) {
  // The counter counts in a register, byte-reversed as in ctr32_xor, while
  // its low word does not wrap; a run that would wrap takes the byte-wise step.
  const bool wraps = uint64_t{kel::load_be32(counter + 12)} + n + 1 > 0xffffffffu;
  const __m128i rev = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m128i one = _mm_set_epi32(0, 0, 0, 1);
  __m128i ctr = _mm_shuffle_epi8(loadu(counter), rev);
  auto next_counter = [&]() KEL_NI {
    if (wraps) {
      const __m128i c = loadu(counter);
      aes::increment_counter(counter, 16);
      return c;
    }
    const __m128i c = _mm_shuffle_epi8(ctr, rev);
    ctr = _mm_add_epi32(ctr, one);
    return c;
  };
  with_reg_keys(ctx, [&](const auto &keys) KEL_NI {
    __m128i t = loadu(mac);
    if (encrypt && n > 0) {
      // As in cbc_encrypt: the MAC chain folds the next block into the last
      // round key, and the counter block runs beside it.
      constexpr int NR = sizeof(keys.k) / sizeof(keys.k[0]) - 1;
      __m128i x = _mm_xor_si128(t, _mm_xor_si128(loadu(data), keys.k[0]));
      for (; n > 0; --n, data += 16) {
        const __m128i p = loadu(data);
        __m128i c = _mm_xor_si128(next_counter(), keys.k[0]);
        _Pragma("GCC unroll 15") for (int r = 1; r < NR; ++r) {
          x = _mm_aesenc_si128(x, keys.k[r]);
          c = _mm_aesenc_si128(c, keys.k[r]);
        }
        c = _mm_aesenclast_si128(c, keys.k[NR]);
        if (n > 1) {
          x = _mm_aesenclast_si128(x, _mm_xor_si128(keys.k[NR], _mm_xor_si128(loadu(data + 16), keys.k[0])));
        } else {
          t = _mm_aesenclast_si128(x, keys.k[NR]);
        }
        storeu(data, _mm_xor_si128(p, c));
      }
    } else if (!encrypt) {
      // The keystream for block i+1 is computed alongside the MAC of block i.
      __m128i ks = enc1(keys, next_counter());
      for (; n > 0; --n, data += 16) {
        const __m128i p = _mm_xor_si128(loadu(data), ks);
        storeu(data, p);
        __m128i a = _mm_xor_si128(t, p), c = next_counter();
        enc2(keys, a, c);
        t = a;
        ks = c;
      }
      // One counter block too many was taken for the keystream look-ahead.
      if (wraps) {
        for (int i = 15; i >= 0; --i)
          if (counter[i]-- != 0) break;
      } else {
        ctr = _mm_sub_epi32(ctr, one);
      }
    }
    storeu(mac, t);
  });
  if (!wraps) storeu(counter, _mm_shuffle_epi8(ctr, rev));
}

namespace {

// T * alpha on a register: each 32-bit lane shifts left and takes the bit
// that left the lane below; the bit leaving the top lane folds back as 0x87.
KEL_NI inline __m128i mul_alpha(__m128i t) {
  const __m128i carries = _mm_shuffle_epi32(_mm_srai_epi32(t, 31), 0x93);
  return _mm_xor_si128(_mm_slli_epi32(t, 1), _mm_and_si128(carries, _mm_set_epi32(1, 1, 1, 0x87)));
}

// The tweaks of eight blocks a pass, kept in memory already XORed with the
// first round key (for the input) and with the last one (folded into the
// final round). They are computed in general registers, a 128-bit doubling
// per block, while the AES units work on the pass before: two sets take
// turns, so a pass reads its set while the next one is written.
struct TweakBlocks8 {
  alignas(16) uint64_t first[2][8][2], last[2][8][2];
  uint64_t lo, hi, k0[2], kn[2];
  int set = 0;
  KEL_NI TweakBlocks8(__m128i t, __m128i key0, __m128i keyN)
      : lo(static_cast<uint64_t>(_mm_cvtsi128_si64(t))), hi(static_cast<uint64_t>(_mm_extract_epi64(t, 1))),
        k0{static_cast<uint64_t>(_mm_cvtsi128_si64(key0)), static_cast<uint64_t>(_mm_extract_epi64(key0, 1))},
        kn{static_cast<uint64_t>(_mm_cvtsi128_si64(keyN)), static_cast<uint64_t>(_mm_extract_epi64(keyN, 1))} {
    fill(0);
  }
  TweakBlocks8(const TweakBlocks8 &) = delete;
  ~TweakBlocks8() { kel::mem::secure_zero(this, sizeof *this); }
  // T * alpha: the 128-bit little-endian value shifted left by one, 0x87
  // folded into the low byte when a bit leaves the top.
  void fill(int to) {
    _Pragma("GCC unroll 8") for (int j = 0; j < 8; ++j) {
      first[to][j][0] = lo ^ k0[0], first[to][j][1] = hi ^ k0[1];
      last[to][j][0] = lo ^ kn[0], last[to][j][1] = hi ^ kn[1];
      const uint64_t carry = static_cast<uint64_t>(static_cast<int64_t>(hi) >> 63) & 0x87;
      hi = hi << 1 | lo >> 63;
      lo = lo << 1 ^ carry;
    }
  }
  KEL_NI __m128i in(int j) const { return _mm_load_si128(reinterpret_cast<const __m128i *>(first[set][j])); }
  KEL_NI __m128i out(int j) const { return _mm_load_si128(reinterpret_cast<const __m128i *>(last[set][j])); }
  // The tweak after the last set filled.
  KEL_NI __m128i following() const { return _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo)); }
};

// Eight blocks a pass: the input XORed with tweak and first round key in
// one, the output's tweak folded into the last round key. The last pass
// fills no further set, so the tweak after it is the one the doubling
// reached.
template <bool kEncrypt>
KEL_NI void xts8(const Keys &keys, __m128i &t, uint8_t *&data, size_t &n) {
  TweakBlocks8 tw(t, keys.k[0], keys.k[keys.nr]);
  for (; n >= 8; n -= 8, data += 128) {
    __m128i b[8];
    _Pragma("GCC unroll 8") for (int j = 0; j < 8; ++j) b[j] = _mm_xor_si128(loadu(data + 16 * j), tw.in(j));
    if (n >= 16) tw.fill(tw.set ^ 1);
    for (int r = 1; r < keys.nr; ++r) round8<kEncrypt>(b, keys.k[r]);
    _Pragma("GCC unroll 8") for (int j = 0; j < 8; ++j)
      storeu(data + 16 * j, kEncrypt ? _mm_aesenclast_si128(b[j], tw.out(j)) : _mm_aesdeclast_si128(b[j], tw.out(j)));
    tw.set ^= 1;
  }
  t = tw.following();
}

// Runs of eight blocks through xts8, then every block alone.
template <bool kEncrypt>
KEL_NI void xts(const AesContext &ctx, uint8_t T[16], uint8_t *data, size_t n) {
  Keys keys;
  load_keys(keys, ctx.roundKeys, ctx.rounds);
  __m128i t = loadu(T);
  if (n >= 8) xts8<kEncrypt>(keys, t, data, n);
  for (; n > 0; --n, data += 16) {
    const __m128i b = _mm_xor_si128(loadu(data), t);
    storeu(data, _mm_xor_si128(kEncrypt ? enc1(keys, b) : dec1(keys, b), t));
    t = mul_alpha(t);
  }
  storeu(T, t);
  wipe_keys(keys);
}

}  // namespace

void xts_blocks(const AesContext &dataKey, uint8_t T[16], uint8_t *data, size_t n, bool encrypt) {
  if (encrypt)
    xts<true>(dataKey, T, data, n);
  else
    xts<false>(dataKey, T, data, n);
}

namespace {

namespace gf = gcm::clmul;

// The counter byte-reversed, so that a 32-bit add counts its big-endian low
// word and wraps it as GCM's increment does.
struct Counter32 {
  __m128i rev, v, one;
  KEL_NI explicit Counter32(__m128i block)
      : rev(_mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15)),
        v(_mm_shuffle_epi8(block, rev)),
        one(_mm_set_epi32(0, 0, 0, 1)) {}
  KEL_NI explicit Counter32(const uint8_t block[16]) : Counter32(loadu(block)) {}
  KEL_NI __m128i next() {
    const __m128i c = _mm_shuffle_epi8(v, rev);
    v = _mm_add_epi32(v, one);
    return c;
  }
  KEL_NI void store(uint8_t block[16]) const { storeu(block, _mm_shuffle_epi8(v, rev)); }
};

// Eight counter blocks (XORed with the first round key) through the other
// rounds into keystream, with the eight ciphertext blocks at g absorbed into
// x beside them, one block per round and the reduction in the ninth: the AES
// and the carry-less units work side by side. Each block takes three
// carry-less products (Karatsuba's; hs holds the eight powers' halves summed,
// made once a call): the carry-less unit is the busier one.
KEL_NI_CLMUL inline __m128i stitch8(const KeyRef &keys, __m128i *b, const uint8_t (*hpow)[16], const __m128i *hs,
                                    __m128i x, const uint8_t *g) {
  __m128i lo = _mm_setzero_si128(), mid = lo, hi = lo;
  _Pragma("GCC unroll 8") for (int r = 1; r <= 8; ++r) {
    round8<true>(b, keys.k[r]);
    gf::mul_block_karatsuba(hpow, hs[r - 1], g, r - 1, 8, x, lo, mid, hi);
    // Summed here: left to itself the compiler keeps all 32 products for
    // the end and spills them.
    pin(lo);
    pin(mid);
    pin(hi);
  }
  x = gf::reduce_karatsuba(lo, mid, hi);
  for (int r = 9; r < keys.nr; ++r) round8<true>(b, keys.k[r]);
  const __m128i last = in_reg(keys.k[keys.nr]);
  _Pragma("GCC unroll 8") for (int j = 0; j < 8; ++j) b[j] = _mm_aesenclast_si128(b[j], last);
  return x;
}

// The keystream of N counter blocks, side by side.
template <int N>
KEL_NI inline void counter_blocks(const KeyRef &keys, Counter32 &ctr, __m128i *b) {
  _Pragma("GCC unroll 8") for (int j = 0; j < N; ++j) b[j] = _mm_xor_si128(ctr.next(), keys.k[0]);
  for (int r = 1; r < keys.nr; ++r) {
    _Pragma("GCC unroll 8") for (int j = 0; j < N; ++j) b[j] = _mm_aesenc_si128(b[j], keys.k[r]);
  }
  _Pragma("GCC unroll 8") for (int j = 0; j < N; ++j) b[j] = _mm_aesenclast_si128(b[j], keys.k[keys.nr]);
}

// The last N (< 8) blocks: GHASH of the ciphertext, read before it is
// written when decrypting, and N counter blocks side by side.
template <bool kEncrypt, int N>
KEL_NI_CLMUL inline __m128i gcm_tail(const KeyRef &keys, Counter32 &ctr, const uint8_t (*hpow)[16], __m128i x,
                                     const uint8_t *in, uint8_t *out) {
  if (!kEncrypt) x = gf::fold(hpow, x, in, N);
  __m128i b[N];
  counter_blocks<N>(keys, ctr, b);
  _Pragma("GCC unroll 8") for (int j = 0; j < N; ++j) storeu(out + 16 * j, _mm_xor_si128(b[j], loadu(in + 16 * j)));
  if (kEncrypt) x = gf::fold(hpow, x, out, N);
  return x;
}

template <bool kEncrypt>
KEL_NI_CLMUL void gcm(const KeyRef &keys, const uint8_t (*hpow)[16], uint32_t X[4], uint8_t counter[16],
                      const uint8_t *in, uint8_t *out, size_t n) {
  __m128i x = gf::load_x(X);
  if (n >= 8) {
    __m128i hs[8];
    _Pragma("GCC unroll 8") for (int j = 0; j < 8; ++j) hs[j] = gf::karatsuba_power(hpow, 8 - j);
    CounterBlocks8 blocks(counter, keys.k[0]);
    __m128i b[8];
    if (kEncrypt) {
      // Encryption hashes each group's ciphertext while the next group runs
      // through the rounds: the first group goes alone, the last is hashed
      // alone.
      blocks.take(b);
      crypt8_from1<true>(keys, b);
      _Pragma("GCC unroll 8") for (int j = 0; j < 8; ++j) storeu(out + 16 * j, _mm_xor_si128(b[j], loadu(in + 16 * j)));
      const uint8_t *prev = out;
      for (n -= 8, in += 128, out += 128; n >= 8; n -= 8, in += 128, out += 128) {
        blocks.take(b);
        x = stitch8(keys, b, hpow, hs, x, prev);
        _Pragma("GCC unroll 8") for (int j = 0; j < 8; ++j) storeu(out + 16 * j, _mm_xor_si128(b[j], loadu(in + 16 * j)));
        prev = out;
      }
      x = gf::fold(hpow, x, prev, 8);
    }
    for (; !kEncrypt && n >= 8; n -= 8, in += 128, out += 128) {
      blocks.take(b);
      x = stitch8(keys, b, hpow, hs, x, in);
      _Pragma("GCC unroll 8") for (int j = 0; j < 8; ++j) storeu(out + 16 * j, _mm_xor_si128(b[j], loadu(in + 16 * j)));
    }
    blocks.store(counter);
  }
  Counter32 ctr(counter);
  switch (n) {  // the length is public
    case 7: x = gcm_tail<kEncrypt, 7>(keys, ctr, hpow, x, in, out); break;
    case 6: x = gcm_tail<kEncrypt, 6>(keys, ctr, hpow, x, in, out); break;
    case 5: x = gcm_tail<kEncrypt, 5>(keys, ctr, hpow, x, in, out); break;
    case 4: x = gcm_tail<kEncrypt, 4>(keys, ctr, hpow, x, in, out); break;
    case 3: x = gcm_tail<kEncrypt, 3>(keys, ctr, hpow, x, in, out); break;
    case 2: x = gcm_tail<kEncrypt, 2>(keys, ctr, hpow, x, in, out); break;
    case 1: x = gcm_tail<kEncrypt, 1>(keys, ctr, hpow, x, in, out); break;
    default: break;
  }
  gf::store_x(X, x);
  ctr.store(counter);
}

}  // namespace

KEL_NI void gcm_start(const uint8_t (*keys)[16], int nr, const uint8_t j0[16], uint8_t mask[16], uint8_t ks[4][16]) {
  const KeyRef k{reinterpret_cast<const __m128i *>(keys), nr};
  // J0 in two halves, as it was written.
  Counter32 ctr(_mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(j0)),
                                   _mm_loadl_epi64(reinterpret_cast<const __m128i *>(j0 + 8))));
  __m128i b[5];
  counter_blocks<5>(k, ctr, b);
  storeu(mask, b[0]);
  _Pragma("GCC unroll 4") for (int j = 0; j < 4; ++j) storeu(ks[j], b[j + 1]);
}

void gcm_blocks(const uint8_t (*keys)[16], int nr, const uint8_t (*hpow)[16], uint32_t X[4], uint8_t counter[16],
                const uint8_t *in, uint8_t *out, size_t n, bool encrypt) {
  const KeyRef k{reinterpret_cast<const __m128i *>(keys), nr};
  if (encrypt)
    gcm<true>(k, hpow, X, counter, in, out, n);
  else
    gcm<false>(k, hpow, X, counter, in, out, n);
}

}  // namespace kel::aes::ni
