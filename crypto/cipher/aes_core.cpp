// AES (FIPS 197) in the 32-bit table form: the Te/Td tables built at compile
// time from the S-box, the key schedules and the single-block functions. On
// processors with AES-NI the same entry points run the instructions instead
// (crypto/cipher/x86/aes_ni.h); the tables stay as the portable path.
#include <array>
#include <bit>

#include "crypto/cipher/internal.h"
#include "kel/aes.h"

namespace kel::aes {
namespace {

using Table = std::array<uint32_t, 256>;

constexpr uint8_t xtime(uint8_t x) { return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1b : 0)); }

constexpr uint8_t gmul(uint8_t a, uint8_t b) {
  uint8_t r = 0;
  for (; b != 0; b >>= 1, a = xtime(a))
    if (b & 1) r ^= a;
  return r;
}

// FIPS 197 5.1.1: the multiplicative inverse followed by the affine map.
consteval std::array<uint8_t, 256> make_sbox() {
  std::array<uint8_t, 256> s{};
  for (int x = 0; x < 256; ++x) {
    uint8_t inv = 0;
    for (int y = 1; y < 256 && x != 0; ++y)
      if (gmul(static_cast<uint8_t>(x), static_cast<uint8_t>(y)) == 1) inv = static_cast<uint8_t>(y);
    uint8_t b = inv;
    uint8_t r = b ^ std::rotl(b, 1) ^ std::rotl(b, 2) ^ std::rotl(b, 3) ^ std::rotl(b, 4) ^ 0x63;
    s[x] = r;
  }
  return s;
}

constexpr auto kSbox = make_sbox();

consteval std::array<uint8_t, 256> make_inv_sbox() {
  std::array<uint8_t, 256> si{};
  for (int x = 0; x < 256; ++x) si[kSbox[x]] = static_cast<uint8_t>(x);
  return si;
}

constexpr auto kInvSbox = make_inv_sbox();

constexpr uint32_t pack(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return uint32_t{a} << 24 | uint32_t{b} << 16 | uint32_t{c} << 8 | d;
}

consteval Table make_te(int rot) {
  Table t{};
  for (int x = 0; x < 256; ++x) {
    uint8_t s = kSbox[x];
    t[x] = std::rotr(pack(gmul(s, 2), s, s, gmul(s, 3)), rot);
  }
  return t;
}

consteval Table make_td(int rot) {
  Table t{};
  for (int x = 0; x < 256; ++x) {
    uint8_t s = kInvSbox[x];
    t[x] = std::rotr(pack(gmul(s, 0x0e), gmul(s, 0x09), gmul(s, 0x0d), gmul(s, 0x0b)), rot);
  }
  return t;
}

consteval Table make_repeated(const std::array<uint8_t, 256> &box) {
  Table t{};
  for (int x = 0; x < 256; ++x) t[x] = pack(box[x], box[x], box[x], box[x]);
  return t;
}

alignas(64) constexpr Table Te0 = make_te(0);
alignas(64) constexpr Table Te1 = make_te(8);
alignas(64) constexpr Table Te2 = make_te(16);
alignas(64) constexpr Table Te3 = make_te(24);
alignas(64) constexpr Table Te4 = make_repeated(kSbox);
alignas(64) constexpr Table Td0 = make_td(0);
alignas(64) constexpr Table Td1 = make_td(8);
alignas(64) constexpr Table Td2 = make_td(16);
alignas(64) constexpr Table Td3 = make_td(24);
alignas(64) constexpr Table Td4 = make_repeated(kInvSbox);
constexpr std::array<uint32_t, 10> kRcon = {0x01000000, 0x02000000, 0x04000000, 0x08000000, 0x10000000,
                                            0x20000000, 0x40000000, 0x80000000, 0x1b000000, 0x36000000};

// Pinned against FIPS 197 and the published tables.
static_assert(kSbox[0x00] == 0x63 && kSbox[0x53] == 0xed && kInvSbox[0x63] == 0x00);
static_assert(Te0[0] == 0xc66363a5 && Te0[255] == 0x2c16163a && Te1[0] == 0xa5c66363);
static_assert(Td0[0] == 0x51f4a750 && Td0[255] == 0xd0b85742 && Te4[1] == 0x7c7c7c7c);
static_assert(Td4[0] == 0x52525252);

constexpr int rounds_for(int32_t keyBits) {
  return keyBits == 128 ? 10 : keyBits == 192 ? 12 : keyBits == 256 ? 14 : 0;
}

inline uint32_t b0(uint32_t w) { return w >> 24; }
inline uint32_t b1(uint32_t w) { return (w >> 16) & 0xff; }
inline uint32_t b2(uint32_t w) { return (w >> 8) & 0xff; }
inline uint32_t b3(uint32_t w) { return w & 0xff; }

// SubWord through Te4 with byte masks; rot = true folds RotWord into the
// byte selection.
inline uint32_t sub_word(uint32_t t, bool rot) {
  if (rot)
    return (Te4[b1(t)] & 0xff000000) ^ (Te4[b2(t)] & 0x00ff0000) ^ (Te4[b3(t)] & 0x0000ff00) ^ (Te4[b0(t)] & 0xff);
  return (Te4[b0(t)] & 0xff000000) ^ (Te4[b1(t)] & 0x00ff0000) ^ (Te4[b2(t)] & 0x0000ff00) ^ (Te4[b3(t)] & 0xff);
}

int table_key_setup_enc(uint32_t *rk, const uint8_t *key, int32_t keyBits) {
  const int nr = rounds_for(keyBits);
  if (nr == 0) return 0;
  const int nk = keyBits / 32;
  for (int i = 0; i < nk; ++i) rk[i] = kel::load_be32(key + 4 * i);
  for (int i = nk; i < 4 * (nr + 1); ++i) {
    uint32_t t = rk[i - 1];
    if (i % nk == 0)
      t = sub_word(t, true) ^ kRcon[i / nk - 1];
    else if (nk > 6 && i % nk == 4)
      t = sub_word(t, false);
    rk[i] = rk[i - nk] ^ t;
  }
  return nr;
}

// The equivalent inverse cipher schedule (FIPS 197 5.3.5): the round keys in
// reverse order, InvMixColumns on all but the first and last.
int table_key_setup_dec(uint32_t *rk, const uint8_t *key, int32_t keyBits) {
  const int nr = table_key_setup_enc(rk, key, keyBits);
  if (nr == 0) return 0;
  for (int i = 0, j = 4 * nr; i < j; i += 4, j -= 4)
    for (int k = 0; k < 4; ++k) std::swap(rk[i + k], rk[j + k]);
  for (int i = 4; i < 4 * nr; ++i) {
    const uint32_t w = rk[i];
    rk[i] = Td0[Te4[b0(w)] & 0xff] ^ Td1[Te4[b1(w)] & 0xff] ^ Td2[Te4[b2(w)] & 0xff] ^ Td3[Te4[b3(w)] & 0xff];
  }
  return nr;
}

void table_encrypt(const uint32_t *rk, int nr, const uint8_t *in, uint8_t *out) {
  uint32_t s0 = kel::load_be32(in) ^ rk[0];
  uint32_t s1 = kel::load_be32(in + 4) ^ rk[1];
  uint32_t s2 = kel::load_be32(in + 8) ^ rk[2];
  uint32_t s3 = kel::load_be32(in + 12) ^ rk[3];
  uint32_t t0, t1, t2, t3;
  // Two full rounds per pass; the last pass leaves after its first round.
  for (int r = nr >> 1;;) {
    t0 = Te0[b0(s0)] ^ Te1[b1(s1)] ^ Te2[b2(s2)] ^ Te3[b3(s3)] ^ rk[4];
    t1 = Te0[b0(s1)] ^ Te1[b1(s2)] ^ Te2[b2(s3)] ^ Te3[b3(s0)] ^ rk[5];
    t2 = Te0[b0(s2)] ^ Te1[b1(s3)] ^ Te2[b2(s0)] ^ Te3[b3(s1)] ^ rk[6];
    t3 = Te0[b0(s3)] ^ Te1[b1(s0)] ^ Te2[b2(s1)] ^ Te3[b3(s2)] ^ rk[7];
    rk += 8;
    if (--r == 0) break;
    s0 = Te0[b0(t0)] ^ Te1[b1(t1)] ^ Te2[b2(t2)] ^ Te3[b3(t3)] ^ rk[0];
    s1 = Te0[b0(t1)] ^ Te1[b1(t2)] ^ Te2[b2(t3)] ^ Te3[b3(t0)] ^ rk[1];
    s2 = Te0[b0(t2)] ^ Te1[b1(t3)] ^ Te2[b2(t0)] ^ Te3[b3(t1)] ^ rk[2];
    s3 = Te0[b0(t3)] ^ Te1[b1(t0)] ^ Te2[b2(t1)] ^ Te3[b3(t2)] ^ rk[3];
  }
  s0 = (Te4[b0(t0)] & 0xff000000) ^ (Te4[b1(t1)] & 0x00ff0000) ^ (Te4[b2(t2)] & 0x0000ff00) ^ (Te4[b3(t3)] & 0xff) ^
       rk[0];
  s1 = (Te4[b0(t1)] & 0xff000000) ^ (Te4[b1(t2)] & 0x00ff0000) ^ (Te4[b2(t3)] & 0x0000ff00) ^ (Te4[b3(t0)] & 0xff) ^
       rk[1];
  s2 = (Te4[b0(t2)] & 0xff000000) ^ (Te4[b1(t3)] & 0x00ff0000) ^ (Te4[b2(t0)] & 0x0000ff00) ^ (Te4[b3(t1)] & 0xff) ^
       rk[2];
  s3 = (Te4[b0(t3)] & 0xff000000) ^ (Te4[b1(t0)] & 0x00ff0000) ^ (Te4[b2(t1)] & 0x0000ff00) ^ (Te4[b3(t2)] & 0xff) ^
       rk[3];
  kel::store_be32(out, s0);
  kel::store_be32(out + 4, s1);
  kel::store_be32(out + 8, s2);
  kel::store_be32(out + 12, s3);
}

void table_decrypt(const uint32_t *rk, int nr, const uint8_t *in, uint8_t *out) {
  uint32_t s0 = kel::load_be32(in) ^ rk[0];
  uint32_t s1 = kel::load_be32(in + 4) ^ rk[1];
  uint32_t s2 = kel::load_be32(in + 8) ^ rk[2];
  uint32_t s3 = kel::load_be32(in + 12) ^ rk[3];
  uint32_t t0, t1, t2, t3;
  for (int r = nr >> 1;;) {
    t0 = Td0[b0(s0)] ^ Td1[b1(s3)] ^ Td2[b2(s2)] ^ Td3[b3(s1)] ^ rk[4];
    t1 = Td0[b0(s1)] ^ Td1[b1(s0)] ^ Td2[b2(s3)] ^ Td3[b3(s2)] ^ rk[5];
    t2 = Td0[b0(s2)] ^ Td1[b1(s1)] ^ Td2[b2(s0)] ^ Td3[b3(s3)] ^ rk[6];
    t3 = Td0[b0(s3)] ^ Td1[b1(s2)] ^ Td2[b2(s1)] ^ Td3[b3(s0)] ^ rk[7];
    rk += 8;
    if (--r == 0) break;
    s0 = Td0[b0(t0)] ^ Td1[b1(t3)] ^ Td2[b2(t2)] ^ Td3[b3(t1)] ^ rk[0];
    s1 = Td0[b0(t1)] ^ Td1[b1(t0)] ^ Td2[b2(t3)] ^ Td3[b3(t2)] ^ rk[1];
    s2 = Td0[b0(t2)] ^ Td1[b1(t1)] ^ Td2[b2(t0)] ^ Td3[b3(t3)] ^ rk[2];
    s3 = Td0[b0(t3)] ^ Td1[b1(t2)] ^ Td2[b2(t1)] ^ Td3[b3(t0)] ^ rk[3];
  }
  s0 = (Td4[b0(t0)] & 0xff000000) ^ (Td4[b1(t3)] & 0x00ff0000) ^ (Td4[b2(t2)] & 0x0000ff00) ^ (Td4[b3(t1)] & 0xff) ^
       rk[0];
  s1 = (Td4[b0(t1)] & 0xff000000) ^ (Td4[b1(t0)] & 0x00ff0000) ^ (Td4[b2(t3)] & 0x0000ff00) ^ (Td4[b3(t2)] & 0xff) ^
       rk[1];
  s2 = (Td4[b0(t2)] & 0xff000000) ^ (Td4[b1(t1)] & 0x00ff0000) ^ (Td4[b2(t0)] & 0x0000ff00) ^ (Td4[b3(t3)] & 0xff) ^
       rk[2];
  s3 = (Td4[b0(t3)] & 0xff000000) ^ (Td4[b1(t2)] & 0x00ff0000) ^ (Td4[b2(t1)] & 0x0000ff00) ^ (Td4[b3(t0)] & 0xff) ^
       rk[3];
  kel::store_be32(out, s0);
  kel::store_be32(out + 4, s1);
  kel::store_be32(out + 8, s2);
  kel::store_be32(out + 12, s3);
}

}  // namespace

namespace table {

int key_setup_enc(uint32_t *rk, const uint8_t *key, int32_t keyBits) { return table_key_setup_enc(rk, key, keyBits); }
int key_setup_dec(uint32_t *rk, const uint8_t *key, int32_t keyBits) { return table_key_setup_dec(rk, key, keyBits); }
void encrypt_block(const uint32_t *rk, int nr, const uint8_t *in, uint8_t *out) { table_encrypt(rk, nr, in, out); }
void decrypt_block(const uint32_t *rk, int nr, const uint8_t *in, uint8_t *out) { table_decrypt(rk, nr, in, out); }

void encrypt_blocks(const AesContext &ctx, const uint8_t *in, uint8_t *out, size_t n) {
  for (size_t i = 0; i < n; ++i) table_encrypt(ctx.roundKeys, ctx.rounds, in + 16 * i, out + 16 * i);
}

void decrypt_blocks(const AesContext &ctx, const uint8_t *in, uint8_t *out, size_t n) {
  for (size_t i = 0; i < n; ++i) table_decrypt(ctx.roundKeys, ctx.rounds, in + 16 * i, out + 16 * i);
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
