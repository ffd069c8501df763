// AES (FIPS 197) without AES-NI, in constant time: bitsliced over 64-bit
// words (the layout of BearSSL's aes_ct64), four blocks at a time. Bit i of
// every byte of four blocks sits in word q[i]; the S-box is a boolean circuit
// (Boyar and Peralta), the other steps are shifts and masks. No key or data
// bit ever chooses a branch or an address. The key schedule keeps the
// ordinary big-endian word form shared with AES-NI (crypto/cipher/x86/aes_ni.h),
// sliced afresh for each call.
#include <bit>
#include <utility>

#include "crypto/cipher/aes_schedule.h"
#include "crypto/cipher/internal.h"
#include "kel/aes.h"

namespace kel::aes {
namespace {

// The forward S-box on all 8 bit planes (q[0] the least significant bit):
// the 113-gate circuit of Boyar and Peralta, 32 of them AND.
void sbox(uint64_t *q) {
  const uint64_t x0 = q[7], x1 = q[6], x2 = q[5], x3 = q[4], x4 = q[3], x5 = q[2], x6 = q[1], x7 = q[0];
  // Top linear transformation.
  const uint64_t y14 = x3 ^ x5, y13 = x0 ^ x6, y9 = x0 ^ x3, y8 = x0 ^ x5, t0 = x1 ^ x2;
  const uint64_t y1 = t0 ^ x7, y4 = y1 ^ x3, y12 = y13 ^ y14, y2 = y1 ^ x0, y5 = y1 ^ x6;
  const uint64_t y3 = y5 ^ y8, t1 = x4 ^ y12, y15 = t1 ^ x5, y20 = t1 ^ x1, y6 = y15 ^ x7;
  const uint64_t y10 = y15 ^ t0, y11 = y20 ^ y9, y7 = x7 ^ y11, y17 = y10 ^ y11, y19 = y10 ^ y8;
  const uint64_t y16 = t0 ^ y11, y21 = y13 ^ y16, y18 = x0 ^ y16;
  // Non-linear section.
  const uint64_t t2 = y12 & y15, t3 = y3 & y6, t4 = t3 ^ t2, t5 = y4 & x7, t6 = t5 ^ t2;
  const uint64_t t7 = y13 & y16, t8 = y5 & y1, t9 = t8 ^ t7, t10 = y2 & y7, t11 = t10 ^ t7;
  const uint64_t t12 = y9 & y11, t13 = y14 & y17, t14 = t13 ^ t12, t15 = y8 & y10, t16 = t15 ^ t12;
  const uint64_t t17 = t4 ^ t14, t18 = t6 ^ t16, t19 = t9 ^ t14, t20 = t11 ^ t16;
  const uint64_t t21 = t17 ^ y20, t22 = t18 ^ y19, t23 = t19 ^ y21, t24 = t20 ^ y18;
  const uint64_t t25 = t21 ^ t22, t26 = t21 & t23, t27 = t24 ^ t26, t28 = t25 & t27, t29 = t28 ^ t22;
  const uint64_t t30 = t23 ^ t24, t31 = t22 ^ t26, t32 = t31 & t30, t33 = t32 ^ t24, t34 = t23 ^ t33;
  const uint64_t t35 = t27 ^ t33, t36 = t24 & t35, t37 = t36 ^ t34, t38 = t27 ^ t36, t39 = t29 & t38;
  const uint64_t t40 = t25 ^ t39, t41 = t40 ^ t37, t42 = t29 ^ t33, t43 = t29 ^ t40, t44 = t33 ^ t37;
  const uint64_t t45 = t42 ^ t41;
  const uint64_t z0 = t44 & y15, z1 = t37 & y6, z2 = t33 & x7, z3 = t43 & y16, z4 = t40 & y1, z5 = t29 & y7;
  const uint64_t z6 = t42 & y11, z7 = t45 & y17, z8 = t41 & y10, z9 = t44 & y12, z10 = t37 & y3, z11 = t33 & y4;
  const uint64_t z12 = t43 & y13, z13 = t40 & y5, z14 = t29 & y2, z15 = t42 & y9, z16 = t45 & y14, z17 = t41 & y8;
  // Bottom linear transformation.
  const uint64_t t46 = z15 ^ z16, t47 = z10 ^ z11, t48 = z5 ^ z13, t49 = z9 ^ z10, t50 = z2 ^ z12;
  const uint64_t t51 = z2 ^ z5, t52 = z7 ^ z8, t53 = z0 ^ z3, t54 = z6 ^ z7, t55 = z16 ^ z17;
  const uint64_t t56 = z12 ^ t48, t57 = t50 ^ t53, t58 = z4 ^ t46, t59 = z3 ^ t54, t60 = t46 ^ t57;
  const uint64_t t61 = z14 ^ t57, t62 = t52 ^ t58, t63 = t49 ^ t58, t64 = z4 ^ t59, t65 = t61 ^ t62;
  const uint64_t t66 = z1 ^ t63, t67 = t64 ^ t65;
  const uint64_t s3 = t53 ^ t66;
  q[7] = t59 ^ t63;
  q[6] = t64 ^ ~s3;
  q[5] = t55 ^ ~t67;
  q[4] = s3;
  q[3] = t51 ^ t66;
  q[2] = t47 ^ t65;
  q[1] = t56 ^ ~t62;
  q[0] = t48 ^ ~t60;
}

// The inverse affine map of the S-box (its constant included), in place.
void inv_affine(uint64_t *q) {
  const uint64_t q0 = ~q[0], q1 = ~q[1], q2 = q[2], q3 = q[3], q4 = q[4], q5 = ~q[5], q6 = ~q[6], q7 = q[7];
  q[7] = q1 ^ q4 ^ q6;
  q[6] = q0 ^ q3 ^ q5;
  q[5] = q7 ^ q2 ^ q4;
  q[4] = q6 ^ q1 ^ q3;
  q[3] = q5 ^ q0 ^ q2;
  q[2] = q4 ^ q7 ^ q1;
  q[1] = q3 ^ q6 ^ q0;
  q[0] = q2 ^ q5 ^ q7;
}

// InvSubBytes = A^-1 . S . A^-1: the inversion in the middle of S is its own
// inverse, and A^-1 undoes the affine map around it.
void inv_sbox(uint64_t *q) {
  inv_affine(q);
  sbox(q);
  inv_affine(q);
}

// Swaps the bits under `lo` of y into the bits under ~lo of x, s apart.
inline void swap_bits(uint64_t &x, uint64_t &y, uint64_t lo, int s) {
  const uint64_t a = x, b = y;
  x = (a & lo) | ((b & lo) << s);
  y = ((a & ~lo) >> s) | (b & ~lo);
}

// The transposition between byte form and bit planes (its own inverse).
void ortho(uint64_t *q) {
  for (int i = 0; i < 8; i += 2) swap_bits(q[i], q[i + 1], 0x5555555555555555, 1);
  for (int i : {0, 1, 4, 5}) swap_bits(q[i], q[i + 2], 0x3333333333333333, 2);
  for (int i = 0; i < 4; ++i) swap_bits(q[i], q[i + 4], 0x0F0F0F0F0F0F0F0F, 4);
}

// Spreads one block (four little-endian words) over two words, 16 bits
// apart, ready for ortho(); interleave_out undoes it.
void interleave_in(uint64_t &q0, uint64_t &q1, const uint32_t *w) {
  uint64_t x[4];
  for (int i = 0; i < 4; ++i) {
    x[i] = w[i];
    x[i] = (x[i] | x[i] << 16) & 0x0000FFFF0000FFFF;
    x[i] = (x[i] | x[i] << 8) & 0x00FF00FF00FF00FF;
  }
  q0 = x[0] | x[2] << 8;
  q1 = x[1] | x[3] << 8;
}

void interleave_out(uint32_t *w, uint64_t q0, uint64_t q1) {
  uint64_t x[4] = {q0 & 0x00FF00FF00FF00FF, q1 & 0x00FF00FF00FF00FF, (q0 >> 8) & 0x00FF00FF00FF00FF,
                   (q1 >> 8) & 0x00FF00FF00FF00FF};
  for (int i = 0; i < 4; ++i) {
    x[i] = (x[i] | x[i] >> 8) & 0x0000FFFF0000FFFF;
    w[i] = static_cast<uint32_t>(x[i]) | static_cast<uint32_t>(x[i] >> 16);
  }
}

// In each word row r holds bits 16r..16r+15 (column c at 4c, four blocks).
void shift_rows(uint64_t *q) {
  for (int i = 0; i < 8; ++i) {
    const uint64_t x = q[i];
    q[i] = (x & 0x000000000000FFFF) | ((x & 0x00000000FFF00000) >> 4) | ((x & 0x00000000000F0000) << 12) |
           ((x & 0x0000FF0000000000) >> 8) | ((x & 0x000000FF00000000) << 8) | ((x & 0xF000000000000000) >> 12) |
           ((x & 0x0FFF000000000000) << 4);
  }
}

void inv_shift_rows(uint64_t *q) {
  for (int i = 0; i < 8; ++i) {
    const uint64_t x = q[i];
    q[i] = (x & 0x000000000000FFFF) | ((x & 0x000000000FFF0000) << 4) | ((x & 0x00000000F0000000) >> 12) |
           ((x & 0x000000FF00000000) << 8) | ((x & 0x0000FF0000000000) >> 8) | ((x & 0x000F000000000000) << 12) |
           ((x & 0xFFF0000000000000) >> 4);
  }
}

inline uint64_t rotr16(uint64_t x) { return x >> 16 | x << 48; }
inline uint64_t rotr32(uint64_t x) { return x >> 32 | x << 32; }

// out = 2a ^ 3b ^ c ^ d for the column (a, b, c, d) and its rotations:
// 2(a ^ b) ^ b ^ (c ^ d), with r = the next row and rotr32 the row two on.
void mix_columns(uint64_t *q) {
  uint64_t r[8], s[8];
  for (int i = 0; i < 8; ++i) {
    r[i] = rotr16(q[i]);
    s[i] = q[i] ^ r[i];
  }
  const uint64_t c = s[7];  // the bit that xtime reduces by 0x1b
  for (int i = 0; i < 8; ++i) {
    const uint64_t twice = (i == 0 ? 0 : s[i - 1]) ^ ((0x1b >> i) & 1 ? c : 0);
    q[i] = twice ^ r[i] ^ rotr32(s[i]);
  }
}

// InvMixColumns = MixColumns after multiplying each column by 04x^2 + 05:
// a ^ 04 (a ^ c), c the byte two rows on.
void inv_mix_columns(uint64_t *q) {
  uint64_t t[8];
  for (int i = 0; i < 8; ++i) t[i] = q[i] ^ rotr32(q[i]);
  for (int k = 0; k < 2; ++k) {  // t <- 02 t, twice
    const uint64_t c = t[7];
    for (int i = 7; i > 0; --i) t[i] = t[i - 1] ^ ((0x1b >> i) & 1 ? c : 0);
    t[0] = c;
  }
  for (int i = 0; i < 8; ++i) q[i] ^= t[i];
  mix_columns(q);
}

inline void add_round_key(uint64_t *q, const uint64_t *k) {
  for (int i = 0; i < 8; ++i) q[i] ^= k[i];
}

// Four blocks (n <= 4 of them from in, the rest zero) into bit planes, and back.
void load_blocks(uint64_t *q, const uint8_t *in, size_t n) {
  uint32_t w[16] = {};
  for (size_t i = 0; i < 4 * n; ++i) w[i] = kel::load_le32(in + 4 * i);
  for (int i = 0; i < 4; ++i) interleave_in(q[i], q[i + 4], w + 4 * i);
  ortho(q);
  kel::mem::secure_zero(w, sizeof w);
}

void store_blocks(uint8_t *out, uint64_t *q, size_t n) {
  uint32_t w[16];
  ortho(q);
  for (int i = 0; i < 4; ++i) interleave_out(w + 4 * i, q[i], q[i + 4]);
  for (size_t i = 0; i < 4 * n; ++i) kel::store_le32(out + 4 * i, w[i]);
  kel::mem::secure_zero(w, sizeof w);
}

// A schedule of big-endian words in bit planes, each round key repeated for
// the four blocks.
struct SlicedKeys {
  uint64_t k[15][8];
  int nr;
};

void slice_keys(SlicedKeys &sk, const uint32_t *rk, int nr) {
  sk.nr = nr;
  for (int r = 0; r <= nr; ++r) {
    uint32_t w[4];
    for (int i = 0; i < 4; ++i) w[i] = __builtin_bswap32(rk[4 * r + i]);
    uint64_t *q = sk.k[r];
    for (int i = 0; i < 4; ++i) interleave_in(q[i], q[i + 4], w);
    ortho(q);
    kel::mem::secure_zero(w, sizeof w);
  }
}

// The rounds over four blocks; decryption takes the equivalent inverse
// cipher's schedule (key_setup_dec), so both directions have one shape.
template <bool kEncrypt>
void rounds4(const SlicedKeys &sk, uint64_t *q) {
  add_round_key(q, sk.k[0]);
  for (int r = 1; r <= sk.nr; ++r) {
    if constexpr (kEncrypt) {
      sbox(q);
      shift_rows(q);
      if (r != sk.nr) mix_columns(q);
    } else {
      inv_sbox(q);
      inv_shift_rows(q);
      if (r != sk.nr) inv_mix_columns(q);
    }
    add_round_key(q, sk.k[r]);
  }
}

// Up to four blocks in place.
template <bool kEncrypt>
void crypt4(const SlicedKeys &sk, uint8_t *blocks, size_t n) {
  kel::mem::Wiped<uint64_t[8]> q;
  load_blocks(q, blocks, n);
  rounds4<kEncrypt>(sk, q);
  store_blocks(blocks, q, n);
}

template <bool kEncrypt>
void crypt(const uint32_t *rk, int nr, const uint8_t *in, uint8_t *out, size_t n) {
  kel::mem::Wiped<SlicedKeys> sk;
  slice_keys(*sk, rk, nr);
  kel::mem::Wiped<uint64_t[8]> q;
  for (size_t i = 0; i < n; i += 4) {
    const size_t m = n - i < 4 ? n - i : 4;
    load_blocks(q, in + 16 * i, m);
    rounds4<kEncrypt>(*sk, q);
    store_blocks(out + 16 * i, q, m);
  }
}

// SubWord of a big-endian key word: the byte order does not matter to it.
uint32_t sub_word(uint32_t w, bool rot) {
  uint64_t q[8] = {rot ? std::rotl(w, 8) : w};
  ortho(q);
  sbox(q);
  ortho(q);
  const auto r = static_cast<uint32_t>(q[0]);
  kel::mem::secure_zero(q, sizeof q);
  return r;
}

// InvMixColumns of one big-endian column word: 0e a ^ 0b b ^ 0d c ^ 09 d,
// the multiples built by a byte-wise xtime on the whole word.
uint32_t inv_mix_word(uint32_t w) {
  const auto xt = [](uint32_t x) { return ((x & 0x7f7f7f7fu) << 1) ^ (((x >> 7) & 0x01010101u) * 0x1b); };
  const uint32_t x2 = xt(w), x4 = xt(x2), x8 = xt(x4);
  const uint32_t m9 = x8 ^ w, m11 = x8 ^ x2 ^ w, m13 = x8 ^ x4 ^ w, m14 = x8 ^ x4 ^ x2;
  return m14 ^ std::rotl(m11, 8) ^ std::rotl(m13, 16) ^ std::rotl(m9, 24);
}

}  // namespace

namespace table {

int key_setup_enc(uint32_t *rk, const uint8_t *key, int32_t keyBits) { return expand_key(rk, key, keyBits, sub_word); }

// The equivalent inverse cipher schedule (FIPS 197 5.3.5): the round keys in
// reverse order, InvMixColumns on all but the first and last.
int key_setup_dec(uint32_t *rk, const uint8_t *key, int32_t keyBits) {
  const int nr = key_setup_enc(rk, key, keyBits);
  if (nr == 0) return 0;
  for (int i = 0, j = 4 * nr; i < j; i += 4, j -= 4)
    for (int k = 0; k < 4; ++k) std::swap(rk[i + k], rk[j + k]);
  for (int i = 4; i < 4 * nr; ++i) rk[i] = inv_mix_word(rk[i]);
  return nr;
}

void encrypt_block(const uint32_t *rk, int nr, const uint8_t *in, uint8_t *out) { crypt<true>(rk, nr, in, out, 1); }
void decrypt_block(const uint32_t *rk, int nr, const uint8_t *in, uint8_t *out) { crypt<false>(rk, nr, in, out, 1); }

void encrypt_blocks(const AesContext &ctx, const uint8_t *in, uint8_t *out, size_t n) {
  crypt<true>(ctx.roundKeys, ctx.rounds, in, out, n);
}

void decrypt_blocks(const AesContext &ctx, const uint8_t *in, uint8_t *out, size_t n) {
  crypt<false>(ctx.roundKeys, ctx.rounds, in, out, n);
}

// The serial modes slice the schedule once per call, not once per block.
void cbc_encrypt(const AesContext &ctx, uint8_t iv[16], const uint8_t *in, uint8_t *out, size_t n) {
  kel::mem::Wiped<SlicedKeys> sk;
  slice_keys(*sk, ctx.roundKeys, ctx.rounds);
  for (size_t i = 0; i < n; ++i, in += 16, out += 16) {
    cipher::xor16(iv, iv, in);
    crypt4<true>(*sk, iv, 1);
    std::memcpy(out, iv, 16);
  }
}

void cbc_mac(const AesContext &ctx, uint8_t mac[16], const uint8_t *in, size_t n) {
  kel::mem::Wiped<SlicedKeys> sk;
  slice_keys(*sk, ctx.roundKeys, ctx.rounds);
  for (size_t i = 0; i < n; ++i, in += 16) {
    cipher::xor16(mac, mac, in);
    crypt4<true>(*sk, mac, 1);
  }
}

// Encryption knows the MAC input before the keystream, so the counter block
// and the MAC block go through the cipher together.
void ccm_blocks(const AesContext &ctx, uint8_t mac[16], uint8_t counter[16], uint8_t *data, size_t n, bool encrypt) {
  kel::mem::Wiped<SlicedKeys> sk;
  slice_keys(*sk, ctx.roundKeys, ctx.rounds);
  kel::mem::Wiped<uint8_t[32]> b;  // E(counter), then the MAC
  for (size_t i = 0; i < n; ++i, data += 16) {
    std::memcpy(b, counter, 16);
    increment_counter(counter, 16);
    if (encrypt) {
      cipher::xor16(b + 16, mac, data);
      crypt4<true>(*sk, b, 2);
      cipher::xor16(data, data, b);
      std::memcpy(mac, b + 16, 16);
    } else {
      crypt4<true>(*sk, b, 1);
      cipher::xor16(data, data, b);
      cipher::xor16(mac, mac, data);
      crypt4<true>(*sk, mac, 1);
    }
  }
}

}  // namespace table

}  // namespace kel::aes

using namespace kel::aes;
using kel::cipher::kernel;
using kel::cipher::kernels;

int32_t aesKeySetupEnc(uint32_t *roundKeys, const uint8_t *key, int32_t keyBits) {
  if (rounds_for(keyBits) == 0) return 0;
  return kernel(kernels().keySetupEnc)(roundKeys, key, keyBits);
}

int32_t aesKeySetupDec(uint32_t *roundKeys, const uint8_t *key, int32_t keyBits) {
  if (rounds_for(keyBits) == 0) return 0;
  return kernel(kernels().keySetupDec)(roundKeys, key, keyBits);
}

void aesEncrypt(const uint32_t *roundKeys, int32_t rounds, const uint8_t in[16], uint8_t out[16]) {
  kernel(kernels().encryptBlock)(roundKeys, rounds, in, out);
}

void aesDecrypt(const uint32_t *roundKeys, int32_t rounds, const uint8_t in[16], uint8_t out[16]) {
  kernel(kernels().decryptBlock)(roundKeys, rounds, in, out);
}
