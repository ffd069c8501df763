// The parallel AES modes with VAES on 512-bit registers: sixteen blocks per
// pass in four registers, the rest in single registers, and what remains
// under four blocks through the 128-bit AES-NI code.
#include "crypto/cipher/x86/aes_vaes.h"

// GCC 12's AVX-512 intrinsics fill their pass-through operand with
// _mm512_undefined_epi32(), a deliberate self-initialisation it then warns
// about at every use; nothing here reads an undefined value.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include "crypto/cipher/x86/aes_ni.h"
#include "crypto/cipher/internal.h"
#include "crypto/cipher/gcm_internal.h"
#include "crypto/cipher/x86/clmul.h"

#define KEL_VAES __attribute__((target("avx512f,avx512bw,avx512vl,vaes,aes,ssse3,sse4.1")))
#define KEL_VAES_XTS __attribute__((target("avx512f,avx512bw,avx512vl,vaes,vpclmulqdq,aes,ssse3,sse4.1")))

namespace kel::aes::vaes {
namespace {

struct Keys {
  __m512i k[15];
  int nr;
};

// Each round key, byte-swapped from the context's big-endian words, in all
// four lanes.
KEL_VAES inline void load_keys(Keys &keys, const AesContext &ctx) {
  const __m128i m = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
  keys.nr = ctx.rounds;
  for (int i = 0; i < 15; ++i)
    keys.k[i] = _mm512_broadcast_i32x4(
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(ctx.roundKeys + 4 * i)), m));
}

KEL_VAES inline void wipe(Keys &keys) {
  for (auto &k : keys.k) _mm512_store_si512(&k, _mm512_setzero_si512());
  __asm__ __volatile__("" : : "r"(&keys) : "memory");
}

template <bool kEncrypt, int N>
KEL_VAES inline void crypt(const Keys &keys, __m512i *b) {
  _Pragma("GCC unroll 4") for (int j = 0; j < N; ++j) b[j] = _mm512_xor_si512(b[j], keys.k[0]);
  for (int r = 1; r < keys.nr; ++r) {
    const __m512i k = keys.k[r];
    _Pragma("GCC unroll 4") for (int j = 0; j < N; ++j) b[j] =
        kEncrypt ? _mm512_aesenc_epi128(b[j], k) : _mm512_aesdec_epi128(b[j], k);
  }
  const __m512i k = keys.k[keys.nr];
  _Pragma("GCC unroll 4") for (int j = 0; j < N; ++j) b[j] =
      kEncrypt ? _mm512_aesenclast_epi128(b[j], k) : _mm512_aesdeclast_epi128(b[j], k);
}

KEL_VAES inline __m512i load(const uint8_t *p) { return _mm512_loadu_si512(p); }
KEL_VAES inline void store(uint8_t *p, __m512i v) { _mm512_storeu_si512(p, v); }

template <bool kEncrypt>
KEL_VAES size_t ecb(const AesContext &ctx, const uint8_t *in, uint8_t *out, size_t n) {
  Keys keys;
  load_keys(keys, ctx);
  size_t done = 0;
  for (; n - done >= 16; done += 16) {
    __m512i b[4];
    _Pragma("GCC unroll 4") for (int j = 0; j < 4; ++j) b[j] = load(in + 16 * done + 64 * j);
    crypt<kEncrypt, 4>(keys, b);
    _Pragma("GCC unroll 4") for (int j = 0; j < 4; ++j) store(out + 16 * done + 64 * j, b[j]);
  }
  for (; n - done >= 4; done += 4) {
    __m512i b[1] = {load(in + 16 * done)};
    crypt<kEncrypt, 1>(keys, b);
    store(out + 16 * done, b[0]);
  }
  wipe(keys);
  return done;
}

// Lane i of the result is T * alpha^(k), per 128-bit lane (little-endian
// tweaks): a k-bit shift with the bits leaving the top folded back by 0x87.
template <int K>
KEL_VAES inline __m512i mul_alpha_k(__m512i t) {
  const __m512i shifted = _mm512_slli_epi64(t, K);
  const __m512i carries = _mm512_shuffle_epi32(_mm512_srli_epi64(t, 64 - K), _MM_PERM_BADC);  // swap qwords
  const __m512i lowMask = _mm512_set_epi64(0, -1, 0, -1, 0, -1, 0, -1);
  const __m512i fromTop = _mm512_and_si512(carries, lowMask);  // into the low qword: times 0x87
  const __m512i fromLow = _mm512_andnot_si512(lowMask, carries);
  const __m512i reduced = _mm512_xor_si512(
      _mm512_xor_si512(fromTop, _mm512_slli_epi64(fromTop, 1)),
      _mm512_xor_si512(_mm512_slli_epi64(fromTop, 2), _mm512_slli_epi64(fromTop, 7)));
  return _mm512_xor_si512(shifted, _mm512_xor_si512(reduced, fromLow));
}

// T * alpha^16 per lane: a two-byte shift, the two bytes leaving the top
// multiplied by 0x87 carry-less (23 bits at most: nothing more to reduce).
KEL_VAES_XTS inline __m512i mul_alpha16(__m512i t) {
  return _mm512_xor_si512(_mm512_bslli_epi128(t, 2), _mm512_clmulepi64_epi128(_mm512_bsrli_epi128(t, 14),
                                                                              _mm512_set1_epi64(0x87), 0x00));
}

template <bool kEncrypt>
KEL_VAES_XTS size_t xts(const AesContext &ctx, uint8_t T[16], uint8_t *data, size_t n) {
  Keys keys;
  load_keys(keys, ctx);
  // Lanes T, T*a, T*a^2, T*a^3.
  alignas(64) uint8_t lanes[64];
  std::memcpy(lanes, T, 16);
  for (int l = 1; l < 4; ++l) {
    std::memcpy(lanes + 16 * l, lanes + 16 * (l - 1), 16);
    xts_mul_alpha(lanes + 16 * l);
  }
  __m512i t = _mm512_load_si512(lanes);
  size_t done = 0;
  if (n >= 16) {
    // Each register's tweaks sixteen doublings after the ones it had in the
    // last pass: a byte shift and a carry-less multiply, beside the AES unit.
    __m512i tw[4] = {t, mul_alpha_k<4>(t), mul_alpha_k<8>(t), mul_alpha_k<12>(t)};
    for (; n - done >= 16; done += 16) {
      __m512i b[4];
      _Pragma("GCC unroll 4") for (int j = 0; j < 4; ++j) b[j] =
          _mm512_xor_si512(load(data + 16 * done + 64 * j), tw[j]);
      crypt<kEncrypt, 4>(keys, b);
      _Pragma("GCC unroll 4") for (int j = 0; j < 4; ++j) {
        store(data + 16 * done + 64 * j, _mm512_xor_si512(b[j], tw[j]));
        tw[j] = mul_alpha16(tw[j]);
      }
    }
    t = tw[0];
  }
  for (; n - done >= 4; done += 4) {
    __m512i b[1] = {_mm512_xor_si512(load(data + 16 * done), t)};
    crypt<kEncrypt, 1>(keys, b);
    store(data + 16 * done, _mm512_xor_si512(b[0], t));
    t = mul_alpha_k<4>(t);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i *>(T), _mm512_castsi512_si128(t));
  kel::mem::secure_zero(lanes, sizeof lanes);
  wipe(keys);
  return done;
}

}  // namespace

void encrypt_blocks(const AesContext &ctx, const uint8_t *in, uint8_t *out, size_t n) {
  const size_t done = ecb<true>(ctx, in, out, n);
  if (done < n) ni::encrypt_blocks(ctx, in + 16 * done, out + 16 * done, n - done);
}

void decrypt_blocks(const AesContext &ctx, const uint8_t *in, uint8_t *out, size_t n) {
  const size_t done = ecb<false>(ctx, in, out, n);
  if (done < n) ni::decrypt_blocks(ctx, in + 16 * done, out + 16 * done, n - done);
}

KEL_VAES void cbc_decrypt(const AesContext &ctx, uint8_t iv[16], const uint8_t *in, uint8_t *out, size_t n) {
  Keys keys;
  load_keys(keys, ctx);
  // prev holds the ciphertext block before the current group in its top lane.
  __m512i prev = _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i *>(iv)));
  size_t done = 0;
  for (; n - done >= 16; done += 16) {
    __m512i c[4], b[4];
    _Pragma("GCC unroll 4") for (int j = 0; j < 4; ++j) b[j] = c[j] = load(in + 16 * done + 64 * j);
    crypt<false, 4>(keys, b);
    // The chaining values: each lane takes the ciphertext one block before.
    store(out + 16 * done, _mm512_xor_si512(b[0], _mm512_alignr_epi64(c[0], prev, 6)));
    _Pragma("GCC unroll 4") for (int j = 1; j < 4; ++j) store(out + 16 * done + 64 * j,
                                                               _mm512_xor_si512(b[j], _mm512_alignr_epi64(c[j], c[j - 1], 6)));
    prev = c[3];
  }
  for (; n - done >= 4; done += 4) {
    const __m512i c = load(in + 16 * done);
    __m512i b[1] = {c};
    crypt<false, 1>(keys, b);
    store(out + 16 * done, _mm512_xor_si512(b[0], _mm512_alignr_epi64(c, prev, 6)));
    prev = c;
  }
  _mm_storeu_si128(reinterpret_cast<__m128i *>(iv), _mm512_extracti32x4_epi32(prev, 3));
  wipe(keys);
  if (done < n) ni::cbc_decrypt(ctx, iv, in + 16 * done, out + 16 * done, n - done);
}

KEL_VAES void ctr32_xor(const AesContext &ctx, uint8_t counter[16], const uint8_t *in, uint8_t *out, size_t n) {
  Keys keys;
  load_keys(keys, ctx);
  // Byte-reversed counters: the big-endian low word sits in each lane's
  // lowest 32 bits, where a 32-bit add counts it and wraps as a 4-byte
  // counter does.
  const __m512i rev = _mm512_broadcast_i32x4(_mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
  __m512i ctr = _mm512_add_epi32(
      _mm512_shuffle_epi8(_mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i *>(counter))), rev),
      _mm512_set_epi32(0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0));
  const __m512i four = _mm512_set_epi32(0, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0, 4);
  size_t done = 0;
  for (; n - done >= 16; done += 16) {
    __m512i b[4];
    _Pragma("GCC unroll 4") for (int j = 0; j < 4; ++j) {
      b[j] = _mm512_shuffle_epi8(ctr, rev);
      ctr = _mm512_add_epi32(ctr, four);
    }
    crypt<true, 4>(keys, b);
    _Pragma("GCC unroll 4") for (int j = 0; j < 4; ++j) store(out + 16 * done + 64 * j,
                                                               _mm512_xor_si512(b[j], load(in + 16 * done + 64 * j)));
  }
  for (; n - done >= 4; done += 4) {
    __m512i b[1] = {_mm512_shuffle_epi8(ctr, rev)};
    ctr = _mm512_add_epi32(ctr, four);
    crypt<true, 1>(keys, b);
    store(out + 16 * done, _mm512_xor_si512(b[0], load(in + 16 * done)));
  }
  // Lane 0 holds the next counter.
  _mm_storeu_si128(reinterpret_cast<__m128i *>(counter), _mm512_castsi512_si128(_mm512_shuffle_epi8(ctr, rev)));
  wipe(keys);
  if (done < n) ni::ctr32_xor(ctx, counter, in + 16 * done, out + 16 * done, n - done);
}

void xts_blocks(const AesContext &dataKey, uint8_t T[16], uint8_t *data, size_t n, bool encrypt) {
  const size_t done = encrypt ? xts<true>(dataKey, T, data, n) : xts<false>(dataKey, T, data, n);
  if (done < n) ni::xts_blocks(dataKey, T, data + 16 * done, n - done, encrypt);
}

namespace {

#define KEL_VAES_CLMUL \
  __attribute__((target("avx512f,avx512bw,avx512vl,vaes,vpclmulqdq,aes,pclmul,ssse3,sse4.1")))

namespace gf = gcm::clmul;

// Sixteen counter blocks (four registers) through the rounds into keystream,
// with the sixteen ciphertext blocks at g absorbed into x beside them, one
// register of them per round from the first.
KEL_VAES_CLMUL inline __m128i stitch16(const Keys &keys, __m512i *b, const __m512i *h, __m512i rev, __m128i x,
                                       const uint8_t *g) {
  __m512i lo = _mm512_setzero_si512(), mid = lo, hi = lo;
  _Pragma("GCC unroll 4") for (int j = 0; j < 4; ++j) b[j] = _mm512_xor_si512(b[j], keys.k[0]);
  _Pragma("GCC unroll 4") for (int r = 1; r <= 4; ++r) {
    _Pragma("GCC unroll 4") for (int j = 0; j < 4; ++j) b[j] = _mm512_aesenc_epi128(b[j], keys.k[r]);
    __m512i d = _mm512_shuffle_epi8(load(g + 64 * (r - 1)), rev);
    if (r == 1) d = _mm512_xor_si512(d, _mm512_zextsi128_si512(x));
    gf::mul_acc4(d, h[r - 1], lo, mid, hi);
  }
  x = gf::reduce(gf::fold_lanes(lo), gf::fold_lanes(mid), gf::fold_lanes(hi));
  for (int r = 5; r < keys.nr; ++r) {
    _Pragma("GCC unroll 4") for (int j = 0; j < 4; ++j) b[j] = _mm512_aesenc_epi128(b[j], keys.k[r]);
  }
  _Pragma("GCC unroll 4") for (int j = 0; j < 4; ++j) b[j] = _mm512_aesenclast_epi128(b[j], keys.k[keys.nr]);
  return x;
}

template <bool kEncrypt>
KEL_VAES_CLMUL void gcm(const uint8_t (*rk)[16], int nr, const uint8_t (*hrev)[16], uint32_t X[4],
                        uint8_t counter[16], const uint8_t *in, uint8_t *out, size_t n) {
  Keys keys;
  keys.nr = nr;
  for (int i = 0; i <= nr; ++i)
    keys.k[i] = _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i *>(rk[i])));
  const __m512i rev = _mm512_broadcast_i32x4(gf::rev_mask());
  __m512i h[4];
  for (int j = 0; j < 4; ++j) h[j] = _mm512_loadu_si512(hrev[4 * j]);
  // Byte-reversed counters, lanes i to i + 3 of a pass: a 32-bit add counts
  // the big-endian low word and wraps it as GCM's increment does.
  __m512i ctr = _mm512_add_epi32(
      _mm512_shuffle_epi8(_mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i *>(counter))), rev),
      _mm512_set_epi32(0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0));
  const __m512i four = _mm512_set_epi32(0, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0, 4);
  __m128i x = gf::load_x(X);
  __m512i b[4];
  auto next16 = [&]() KEL_VAES_CLMUL {
    _Pragma("GCC unroll 4") for (int j = 0; j < 4; ++j) {
      b[j] = _mm512_shuffle_epi8(ctr, rev);
      ctr = _mm512_add_epi32(ctr, four);
    }
  };
  if (kEncrypt) {
    // Each pass hashes the ciphertext of the one before; the first pass
    // goes alone, the last is hashed alone.
    next16();
    crypt<true, 4>(keys, b);
    _Pragma("GCC unroll 4") for (int j = 0; j < 4; ++j) store(out + 64 * j, _mm512_xor_si512(b[j], load(in + 64 * j)));
    const uint8_t *prev = out;
    for (n -= 16, in += 256, out += 256; n >= 16; n -= 16, in += 256, out += 256) {
      next16();
      x = stitch16(keys, b, h, rev, x, prev);
      _Pragma("GCC unroll 4") for (int j = 0; j < 4; ++j) store(out + 64 * j, _mm512_xor_si512(b[j], load(in + 64 * j)));
      prev = out;
    }
    gf::store_x(X, x);
    gcm::vpclmul::ghash(hrev, X, prev, 16);
  } else {
    for (; n >= 16; n -= 16, in += 256, out += 256) {
      next16();
      x = stitch16(keys, b, h, rev, x, in);
      _Pragma("GCC unroll 4") for (int j = 0; j < 4; ++j) store(out + 64 * j, _mm512_xor_si512(b[j], load(in + 64 * j)));
    }
  }
  if (!kEncrypt) gf::store_x(X, x);
  // Lane 0 holds the next counter.
  _mm_storeu_si128(reinterpret_cast<__m128i *>(counter), _mm512_castsi512_si128(_mm512_shuffle_epi8(ctr, rev)));
  wipe(keys);
}

}  // namespace

void gcm_blocks(const uint8_t (*keys)[16], int nr, const uint8_t (*hrev)[16], uint32_t X[4], uint8_t counter[16],
                const uint8_t *in, uint8_t *out, size_t n, bool encrypt) {
  if (n < 16) return;
  if (encrypt)
    gcm<true>(keys, nr, hrev, X, counter, in, out, n);
  else
    gcm<false>(keys, nr, hrev, X, counter, in, out, n);
}

}  // namespace kel::aes::vaes
