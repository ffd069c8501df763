// DES: the tables, the key schedule and the single-DES entry points (not
// gated: single DES is a building block, not an approved algorithm).
#include <string.h>

#include "crypto/cipher/des_internal.h"
#include "kel/vor.h"

namespace kel::des {
namespace {

// FIPS 46-3 S-boxes, row-major: S[i][row][column].
constexpr uint8_t kS[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}},
};

// The round's permutation P: output bit j (1 = most significant) is input
// bit kP[j - 1].
constexpr uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                            2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

// Key permutation PC-1: the 56 key bits kept (1 = top bit of key byte 0).
constexpr uint8_t kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                              10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                              63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                              14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

// Cumulative left rotation of the two 28-bit halves before each round.
constexpr uint8_t kTotalRotation[16] = {1, 2, 4, 6, 8, 10, 12, 14, 15, 17, 19, 21, 23, 25, 27, 28};

// Compression permutation PC-2: the 48 subkey bits out of the 56.
constexpr uint8_t kPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                              26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                              51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

// Bit masks of a key byte, top bit first.
constexpr uint8_t kByteBit[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};

consteval bool s_boxes_are_permutations() {
  for (const auto &box : kS)
    for (const auto &row : box) {
      unsigned seen = 0;
      for (uint8_t v : row) seen |= 1u << v;
      if (seen != 0xffff) return false;
    }
  return true;
}
static_assert(s_boxes_are_permutations());

consteval std::array<SpTable, 8> make_sp() {
  std::array<SpTable, 8> sp{};
  for (int i = 0; i < 8; ++i)
    for (uint32_t v = 0; v < 64; ++v) {
      uint32_t row = (v >> 4 & 2) | (v & 1), col = v >> 1 & 15;
      uint32_t s = uint32_t{kS[i][row][col]} << (28 - 4 * i);  // S-box i's place in the 32-bit output
      uint32_t p = 0;
      for (int j = 0; j < 32; ++j)
        if (s >> (32 - kP[j]) & 1) p |= 1u << (31 - j);
      sp[i][v] = std::rotl(p, 1);
    }
  return sp;
}

}  // namespace

alignas(64) constexpr std::array<SpTable, 8> kSp = make_sp();
static_assert(kSp[0][0] == 0x01010400 && kSp[0][63] == 0x01010004);
static_assert(kSp[1][0] == 0x80108020 && kSp[7][0] == 0x10001040 && kSp[7][63] == 0x10041000);

consteval CtSpBits make_ct_sp() {
  CtSpBits c{};
  for (int t = 0; t < 8; ++t) {
    uint32_t used = 0;
    for (uint32_t v = 0; v < 64; ++v) used |= kSp[t][v];
    for (int q = 0; q < 4; ++q) {
      const int p = std::countr_zero(used);
      used &= used - 1;
      uint64_t truth = 0;
      for (uint32_t v = 0; v < 64; ++v) truth |= uint64_t{kSp[t][v] >> p & 1} << v;
      c.rotated[t][q] = std::rotl(truth, p);
      c.bit[t][q] = 1u << p;
    }
  }
  return c;
}

// Each S-box/P function sets exactly four output bits, the same four for
// every input.
consteval bool four_bits_each() {
  for (int t = 0; t < 8; ++t) {
    uint32_t used = 0;
    for (uint32_t v = 0; v < 64; ++v) used |= kSp[t][v];
    if (std::popcount(used) != 4) return false;
  }
  return true;
}
static_assert(four_bits_each());

alignas(64) constexpr CtSpBits kCtSp = make_ct_sp();

// Table t reads byte 3 - t / 2 of rotr(R, 4) ^ k[0] (the low half of
// S(R) ^ k) when t is even, of R ^ k[1] (the high half) when t is odd.
consteval ShuffleTables make_shuffle() {
  ShuffleTables s{};
  for (int i = 0; i < 8; ++i)
    for (int b = 0; b < 6; ++b) {
      const int p = i < 4 ? (8 * i + b + 4) % 32 : 8 * (i - 4) + b;  // bit b of byte i of S(f) is f's bit p
      int t = 0;  // the one table that sets bit p
      while (((kCtSp.bit[t][0] | kCtSp.bit[t][1] | kCtSp.bit[t][2] | kCtSp.bit[t][3]) >> p & 1) == 0) ++t;
      uint64_t truth = 0;
      for (uint32_t v = 0; v < 64; ++v) truth |= uint64_t{kSp[t][v] >> p & 1} << v;
      s.truth[b][i] = truth;
      s.source[8 * i + b] = static_cast<uint8_t>(3 - t / 2 + (t % 2) * 4);
    }
  return s;
}

alignas(64) constexpr ShuffleTables kShuffle = make_shuffle();

void key_schedule(const uint8_t key[8], uint32_t encrypt[32], uint32_t decrypt[32]) {
  mem::Wiped<uint8_t[56]> pc1m, pcr;
  for (int j = 0; j < 56; ++j) {
    int l = kPc1[j] - 1;
    pc1m[j] = (key[l >> 3] & kByteBit[l & 7]) != 0;
  }
  for (int i = 0; i < 16; ++i) {
    // Both 28-bit halves rotated left by this round's total.
    for (int j = 0; j < 56; ++j) {
      int l = j + kTotalRotation[i];
      int limit = j < 28 ? 28 : 56;
      pcr[j] = pc1m[l < limit ? l : l - 28];
    }
    // Eight 6-bit groups of PC-2's output, first bit most significant.
    mem::Wiped<uint32_t[8]> group;
    std::memset(group, 0, sizeof group);
    for (int g = 0; g < 8; ++g)
      for (int b = 0; b < 6; ++b) group[g] = group[g] << 1 | pcr[kPc2[6 * g + b] - 1];
    uint32_t w0 = group[0] << 24 | group[2] << 16 | group[4] << 8 | group[6];
    uint32_t w1 = group[1] << 24 | group[3] << 16 | group[5] << 8 | group[7];
    encrypt[2 * i] = w0;
    encrypt[2 * i + 1] = w1;
    decrypt[2 * (15 - i)] = w0;
    decrypt[2 * (15 - i) + 1] = w1;
  }
}

}  // namespace kel::des

using kel::des::Single;

int32_t DES_initKey(DesContext *ctx, const uint8_t *key, uint32_t keyLength) {
  if (ctx == nullptr || key == nullptr) return ERR_NULL_POINTER;
  if (keyLength != DES_KEY_SIZE) return ERR_DES_BAD_KEY_LENGTH;
  kel::des::key_schedule(key, ctx->encryptKeys, ctx->decryptKeys);
  return 0;
}

int32_t DES_encipher(const DesContext *ctx, const uint8_t *input, uint8_t *output, uint32_t length) {
  if (ctx == nullptr || input == nullptr || output == nullptr) return ERR_NULL_POINTER;
  if (length % DES_BLOCK_SIZE != 0) return ERR_DES_BAD_DATA_LENGTH;
  kel::des::ecb(input, output, length / DES_BLOCK_SIZE, Single{ctx->encryptKeys});
  return 0;
}

int32_t DES_decipher(const DesContext *ctx, const uint8_t *input, uint8_t *output, uint32_t length) {
  if (ctx == nullptr || input == nullptr || output == nullptr) return ERR_NULL_POINTER;
  if (length % DES_BLOCK_SIZE != 0) return ERR_DES_BAD_DATA_LENGTH;
  kel::des::ecb(input, output, length / DES_BLOCK_SIZE, Single{ctx->decryptKeys});
  return 0;
}
