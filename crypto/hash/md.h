// The Merkle-Damgard body shared by every digest: buffering, block feeding
// and padding are written once over a traits type that supplies the block
// function, the counter and the length encoding.
#pragma once

#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kel/hash.h"

namespace kel::hash {

template <class T>
concept MdHash = requires(typename T::Ctx &c, const uint8_t *p, size_t n, uint32_t len) {
  { T::kBlock } -> std::convertible_to<size_t>;
  T::blocks(c.state, p, n);  // whole blocks straight into the chaining state
  T::count(c, len);          // adds one update's length to the counter
};

inline uint32_t load_be32(const uint8_t *p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return __builtin_bswap32(v);
}
inline uint64_t load_be64(const uint8_t *p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}
inline uint32_t load_le32(const uint8_t *p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void store_be32(uint8_t *p, uint32_t v) {
  v = __builtin_bswap32(v);
  std::memcpy(p, &v, 4);
}
inline void store_be64(uint8_t *p, uint64_t v) {
  v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}
inline void store_le32(uint8_t *p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void store_le64(uint8_t *p, uint64_t v) { std::memcpy(p, &v, 8); }

// Absorbs data: top up a pending partial block, compress every further whole
// block from the caller's buffer without copying, keep the tail.
template <MdHash T>
void md_update(typename T::Ctx &c, const uint8_t *in, uint32_t len) {
  constexpr size_t B = T::kBlock;
  T::count(c, len);
  size_t idx = static_cast<size_t>(c.bufferIndex);
  size_t left = len;
  if (idx > 0) {
    const size_t take = left < B - idx ? left : B - idx;
    std::memcpy(c.buffer + idx, in, take);
    idx += take;
    in += take;
    left -= take;
    if (idx == B) {
      T::blocks(c.state, c.buffer, 1);
      idx = 0;
    }
  }
  if (left >= B) {
    const size_t n = left / B;
    T::blocks(c.state, in, n);
    in += n * B;
    left -= n * B;
  }
  if (left > 0) {
    std::memcpy(c.buffer + idx, in, left);
    idx += left;
  }
  c.bufferIndex = static_cast<decltype(c.bufferIndex)>(idx);
}

// FIPS 180-4 5.1: 0x80, zeros up to the length field (a second block when
// the first has no room), the bit count big-endian in the last 8 or 16 bytes.
// T::store_length converts the context's count to bits and writes it.
template <MdHash T>
void sha_pad(typename T::Ctx &c) {
  constexpr size_t B = T::kBlock;
  constexpr size_t L = B - T::kLengthBytes;
  size_t idx = static_cast<size_t>(c.bufferIndex);
  c.buffer[idx++] = 0x80;
  if (idx > L) {
    std::memset(c.buffer + idx, 0, B - idx);
    T::blocks(c.state, c.buffer, 1);
    idx = 0;
  }
  std::memset(c.buffer + idx, 0, L - idx);
  T::store_length(c, c.buffer + L);
  T::blocks(c.state, c.buffer, 1);
  c.bufferIndex = 0;
}

template <int A, int B, int C, std::unsigned_integral W>
constexpr W rho(W x) {
  return std::rotr(x, A) ^ std::rotr(x, B) ^ std::rotr(x, C);
}
template <int A, int B, int S, std::unsigned_integral W>
constexpr W sigma(W x) {
  return std::rotr(x, A) ^ std::rotr(x, B) ^ (x >> S);
}
template <std::unsigned_integral W>
constexpr W ch(W x, W y, W z) {
  return z ^ (x & (y ^ z));
}
template <std::unsigned_integral W>
constexpr W maj(W x, W y, W z) {
  return (x & y) | (z & (x | y));
}

// The block functions, portable and dispatched. The dispatched ones pick the
// hardware kernel when the CPU offers it (checked on every call, so tests can
// switch paths with kel::cpu::restrict_to).
void md5_blocks_portable(uint32_t state[4], const uint8_t *data, size_t blocks);
void sha1_blocks_portable(uint32_t state[5], const uint8_t *data, size_t blocks);
void sha256_blocks_portable(uint32_t state[8], const uint8_t *data, size_t blocks);
void sha512_blocks_portable(uint64_t state[8], const uint8_t *data, size_t blocks);

void md5_blocks(uint32_t state[4], const uint8_t *data, size_t blocks);
void sha1_blocks(uint32_t state[5], const uint8_t *data, size_t blocks);
void sha256_blocks(uint32_t state[8], const uint8_t *data, size_t blocks);
void sha512_blocks(uint64_t state[8], const uint8_t *data, size_t blocks);

struct Md5 {
  using Ctx = Md5Context;
  static constexpr size_t kBlock = 64;
  static void blocks(uint32_t *s, const uint8_t *p, size_t n) { md5_blocks(s, p, n); }
  static void count(Ctx &c, uint32_t len) { c.bitCount += uint64_t{len} * 8; }
};

struct Sha1 {
  using Ctx = Sha1Context;
  static constexpr size_t kBlock = 64;
  static constexpr size_t kLengthBytes = 8;
  static void blocks(uint32_t *s, const uint8_t *p, size_t n) { sha1_blocks(s, p, n); }
  static void count(Ctx &c, uint32_t len) { c.byteCount += len; }
  static void store_length(Ctx &c, uint8_t *out) {
    c.byteCount <<= 3;  // the context keeps the bit count from here on
    store_be64(out, c.byteCount);
  }
};

struct Sha256 {
  using Ctx = Sha256Context;
  static constexpr size_t kBlock = 64;
  static constexpr size_t kLengthBytes = 8;
  static void blocks(uint32_t *s, const uint8_t *p, size_t n) { sha256_blocks(s, p, n); }
  static void count(Ctx &c, uint32_t len) { c.byteCount += len; }
  static void store_length(Ctx &c, uint8_t *out) {
    c.byteCount <<= 3;
    store_be64(out, c.byteCount);
  }
};

struct Sha512 {
  using Ctx = Sha512Context;
  static constexpr size_t kBlock = 128;
  static constexpr size_t kLengthBytes = 16;
  static void blocks(uint64_t *s, const uint8_t *p, size_t n) { sha512_blocks(s, p, n); }
  static void count(Ctx &c, uint32_t len) { u16_Incr32(&c.byteCount, len); }
  static void store_length(Ctx &c, uint8_t *out) {
    c.byteCount = u16_Shl(c.byteCount.high, c.byteCount.low, 3);
    store_be64(out, c.byteCount.high);
    store_be64(out + 8, c.byteCount.low);
  }
};

// Internal suites for code inside the toolkit (the same records that
// CRYPTO_getRSAHashAlgo hands out).
extern const HashSuite kMd5Suite;
extern const HashSuite kSha1Suite;
extern const HashSuite kSha224Suite;
extern const HashSuite kSha256Suite;
extern const HashSuite kSha384Suite;
extern const HashSuite kSha512Suite;

}  // namespace kel::hash
