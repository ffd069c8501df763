// DES core shared by single DES, triple DES and their modes.
//
// The block function follows FIPS 46-3: the initial permutation is done with
// the usual masked swaps, and each round evaluates the eight combined
// S-box/P functions in constant time from their truth tables (the table
// look-ups, whose addresses depend on key and data, remain only as the
// reference for the tests). The halves live in the "IP domain" (after IP, with the one-
// bit rotation the swaps leave behind) from IP to FP, so triple DES pays for
// IP and FP once per block, and CBC can chain there as well.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "crypto/cipher/internal.h"
#include "crypto/common/bytes.h"
#include "crypto/common/ct.h"
#include "crypto/common/mem.h"
#include "kel/des.h"

namespace kel::des {

using SpTable = std::array<uint32_t, 64>;

// SP1..SP8: SPi[v] is the P-permuted output of S-box i for the 6-bit input v,
// rotated left by one bit to match the halves after IP.
extern const std::array<SpTable, 8> kSp;

// Key schedule of one 8-byte key: 16 subkeys in encryption order (and the
// same in decryption order), two words per round, a 6-bit group per byte.
void key_schedule(const uint8_t key[8], uint32_t encrypt[32], uint32_t decrypt[32]);

// Initial permutation: 4-, 16-, 2-, 8- and 1-bit group swaps between the
// halves, with the rotations that put E's bit order into place.
inline void ip(uint32_t &l, uint32_t &r) {
  uint32_t w = ((l >> 4) ^ r) & 0x0f0f0f0fu;
  r ^= w;
  l ^= w << 4;
  w = ((l >> 16) ^ r) & 0x0000ffffu;
  r ^= w;
  l ^= w << 16;
  w = ((r >> 2) ^ l) & 0x33333333u;
  l ^= w;
  r ^= w << 2;
  w = ((r >> 8) ^ l) & 0x00ff00ffu;
  l ^= w;
  r ^= w << 8;
  r = std::rotl(r, 1);
  w = (l ^ r) & 0xaaaaaaaau;
  l ^= w;
  r ^= w;
  l = std::rotl(l, 1);
}

// Final permutation: the exact inverse of ip(), step by step in reverse.
inline void fp(uint32_t &l, uint32_t &r) {
  l = std::rotr(l, 1);
  uint32_t w = (l ^ r) & 0xaaaaaaaau;
  l ^= w;
  r ^= w;
  r = std::rotr(r, 1);
  w = ((r >> 8) ^ l) & 0x00ff00ffu;
  l ^= w;
  r ^= w << 8;
  w = ((r >> 2) ^ l) & 0x33333333u;
  l ^= w;
  r ^= w << 2;
  w = ((l >> 16) ^ r) & 0x0000ffffu;
  r ^= w;
  l ^= w << 16;
  w = ((l >> 4) ^ r) & 0x0f0f0f0fu;
  r ^= w;
  l ^= w << 4;
}

// The SP tables as bits: SPt[v] has its four bits at fixed positions p, and
// bit p of SPt[v] is bit v of a 64-bit truth table. rotated[t][q] is that
// table rotated left by p, so that rotating it right by v brings bit v to
// position p: a look-up whose address never depends on v.
struct CtSpBits {
  uint64_t rotated[8][4];
  uint32_t bit[8][4];
};
extern const CtSpBits kCtSp;

// The same functions for the AVX-512 bit-shuffle rounds (x86/des_avx512.cpp).
// Those keep each half x as the word S(x) = x << 32 | rotr(x, 4), whose bytes
// hold the eight 6-bit S-box inputs in their low bits (the expansion E) once
// xored with k[0] | k[1] << 32; S is linear, so a round adds S(f) to the
// other half, and only the 48 bits under E matter. Shuffle s yields bit s of
// each byte i of S(f): truth[s][i] is the truth table of the bit of f found
// there, and source[8i + s] the byte of S(R) ^ k that feeds its S-box.
struct ShuffleTables {
  uint64_t truth[6][8];
  uint8_t source[64];
};
extern const ShuffleTables kShuffle;

// f(R, K) of one round, for a right half in the IP domain, in constant time:
// each S-box output bit is a rotation of its truth table by the 6-bit input
// (a register operation whatever the input), masked to its place after P.
inline uint32_t f(uint32_t r, const uint32_t *k) {
  const uint32_t w = std::rotr(r, 4) ^ k[0], x = r ^ k[1];
  // The 6-bit input of S-box table t, t = 0..7.
  const uint32_t in[8] = {w >> 24, x >> 24, w >> 16, x >> 16, w >> 8, x >> 8, w, x};
  uint64_t acc[4] = {};
#pragma GCC unroll 8
  for (int t = 0; t < 8; ++t) {
    const unsigned v = in[t] & 0x3f;
#pragma GCC unroll 4
    for (int q = 0; q < 4; ++q) acc[q] |= std::rotr(kCtSp.rotated[t][q], static_cast<int>(v)) & kCtSp.bit[t][q];
  }
  return static_cast<uint32_t>((acc[0] | acc[1]) | (acc[2] | acc[3]));
}

// The 16 rounds over N independent blocks at once (N > 1 lets the CPU
// overlap the look-up chains of the parallel modes). After the call the
// output block is fp(r, l), stored as (r, l).
template <size_t N>
inline void rounds(uint32_t (&l)[N], uint32_t (&r)[N], const uint32_t *k) {
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i, k += 4) {
#pragma GCC unroll 4
    for (size_t b = 0; b < N; ++b) l[b] ^= f(r[b], k);
#pragma GCC unroll 4
    for (size_t b = 0; b < N; ++b) r[b] ^= f(l[b], k + 2);
  }
}

// The rounds of n (1 or 2) blocks, single DES when k2 is null, else the
// three schedules in turn: the kernel table's entry where the CPU has the
// AVX-512 bit shuffles (cipher::Kernels::desRounds), null otherwise.
using RoundsKernel = void (*)(uint32_t *l, uint32_t *r, size_t n, const uint32_t *k1, const uint32_t *k2,
                              const uint32_t *k3);
inline RoundsKernel rounds_kernel() { return cipher::kernel(cipher::kernels().desRounds); }

// Block transforms in the IP domain: (l, r) in, and the output halves left
// in (l, r) so that the block is fp(r, l) stored as r then l. A chain of DES
// operations (triple DES) runs the next one on the swapped halves.
struct Single {
  const uint32_t *k;
  template <size_t N>
  void operator()(uint32_t (&l)[N], uint32_t (&r)[N]) const {
    if (RoundsKernel kernel = rounds_kernel()) return kernel(l, r, N, k, nullptr, nullptr);
    rounds<N>(l, r, k);
  }
};

struct Triple {
  const uint32_t *k1, *k2, *k3;  // the schedules in the order they run
  template <size_t N>
  void operator()(uint32_t (&l)[N], uint32_t (&r)[N]) const {
    if (RoundsKernel kernel = rounds_kernel()) return kernel(l, r, N, k1, k2, k3);
    rounds<N>(l, r, k1);
    rounds<N>(r, l, k2);
    rounds<N>(l, r, k3);
  }
};

inline Triple triple_encrypt(const TripleDesContext &c) {
  return {c.k1.encryptKeys, c.k2.decryptKeys, c.k3.encryptKeys};
}
inline Triple triple_decrypt(const TripleDesContext &c) {
  return {c.k3.decryptKeys, c.k2.encryptKeys, c.k1.decryptKeys};
}

// ECB over whole blocks; in and out may be the same buffer.
template <class Op>
void ecb(const uint8_t *in, uint8_t *out, size_t blocks, Op op) {
  for (; blocks >= 2; blocks -= 2, in += 16, out += 16) {
    uint32_t l[2] = {load_be32(in), load_be32(in + 8)}, r[2] = {load_be32(in + 4), load_be32(in + 12)};
    ip(l[0], r[0]);
    ip(l[1], r[1]);
    op(l, r);
    fp(r[0], l[0]);
    fp(r[1], l[1]);
    store_be32(out, r[0]);
    store_be32(out + 4, l[0]);
    store_be32(out + 8, r[1]);
    store_be32(out + 12, l[1]);
  }
  if (blocks != 0) {
    uint32_t l[1] = {load_be32(in)}, r[1] = {load_be32(in + 4)};
    ip(l[0], r[0]);
    op(l, r);
    fp(r[0], l[0]);
    store_be32(out, r[0]);
    store_be32(out + 4, l[0]);
  }
}

// CBC encryption: C = E(P ^ C_prev). IP is linear, so the chain stays in the
// IP domain and the permutations of each block run off the serial path.
template <class Op>
void cbc_encrypt(const uint8_t *in, uint8_t *out, size_t blocks, uint8_t iv[8], Op op) {
  if (blocks == 0) return;
  uint32_t cl = load_be32(iv), cr = load_be32(iv + 4);
  ip(cl, cr);  // (cl, cr) = IP(previous ciphertext)
  for (; blocks != 0; --blocks, in += 8, out += 8) {
    uint32_t l[1] = {load_be32(in)}, r[1] = {load_be32(in + 4)};
    ip(l[0], r[0]);
    l[0] ^= cl;
    r[0] ^= cr;
    op(l, r);
    cl = r[0];
    cr = l[0];
    fp(r[0], l[0]);
    store_be32(out, r[0]);
    store_be32(out + 4, l[0]);
  }
  fp(cl, cr);
  store_be32(iv, cl);
  store_be32(iv + 4, cr);
}

// CBC decryption, two blocks at a time: P = D(C) ^ C_prev. Each ciphertext
// is read before its output is written, so in and out may coincide.
template <class Op>
void cbc_decrypt(const uint8_t *in, uint8_t *out, size_t blocks, uint8_t iv[8], Op op) {
  uint32_t pl = load_be32(iv), pr = load_be32(iv + 4);
  for (; blocks >= 2; blocks -= 2, in += 16, out += 16) {
    uint32_t c0l = load_be32(in), c0r = load_be32(in + 4), c1l = load_be32(in + 8), c1r = load_be32(in + 12);
    uint32_t l[2] = {c0l, c1l}, r[2] = {c0r, c1r};
    ip(l[0], r[0]);
    ip(l[1], r[1]);
    op(l, r);
    fp(r[0], l[0]);
    fp(r[1], l[1]);
    store_be32(out, r[0] ^ pl);
    store_be32(out + 4, l[0] ^ pr);
    store_be32(out + 8, r[1] ^ c0l);
    store_be32(out + 12, l[1] ^ c0r);
    pl = c1l;
    pr = c1r;
  }
  if (blocks != 0) {
    uint32_t cl = load_be32(in), cr = load_be32(in + 4);
    uint32_t l[1] = {cl}, r[1] = {cr};
    ip(l[0], r[0]);
    op(l, r);
    fp(r[0], l[0]);
    store_be32(out, r[0] ^ pl);
    store_be32(out + 4, l[0] ^ pr);
    pl = cl;
    pr = cr;
  }
  store_be32(iv, pl);
  store_be32(iv + 4, pr);
}

}  // namespace kel::des
