// The digests inside the toolkit: the Merkle-Damgard body shared by every
// digest (buffering, block feeding and padding written once over a traits
// type that supplies the block function, the counter, the length encoding,
// the initial value and the finish), and the exported shims generated from
// the same traits.
#pragma once

#include <atomic>
#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/common/bytes.h"
#include "crypto/common/cpu.h"
#include "crypto/common/mem.h"
#include "crypto/fips/gate.h"
#include "kel/hash.h"
#include "kel/vor.h"

namespace kel::hash {

template <class T>
concept MdHash = requires(typename T::Ctx &c, const uint8_t *p, size_t n, uint32_t len) {
  { T::kBlock } -> std::convertible_to<size_t>;
  T::blocks(c.state, p, n);  // whole blocks straight into the chaining state
  T::count(c, len);          // adds one update's length to the counter
};


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
template <MdHash T, class Blocks>
void sha_pad(typename T::Ctx &c, Blocks blocks) {
  constexpr size_t B = T::kBlock;
  constexpr size_t L = B - T::kLengthBytes;
  size_t idx = static_cast<size_t>(c.bufferIndex);
  c.buffer[idx++] = 0x80;
  if (idx > L) {
    std::memset(c.buffer + idx, 0, B - idx);
    blocks(c.state, c.buffer, 1);
    idx = 0;
  }
  std::memset(c.buffer + idx, 0, L - idx);
  T::store_length(c, c.buffer + L);
  blocks(c.state, c.buffer, 1);
  c.bufferIndex = 0;
}

template <MdHash T>
void sha_pad(typename T::Ctx &c) {
  sha_pad<T>(c, T::blocks);
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

// The portable SHA-2 compression (FIPS 180-4 6.2.2, 6.4.2) over a parameter
// type: the word, the round count and constants, the byte order of a word
// and the four rotation functions.
template <class P>
void sha2_blocks_portable(typename P::Word state[8], const uint8_t *data, size_t blocks) {
  using W = typename P::Word;
  for (; blocks > 0; --blocks, data += 16 * sizeof(W)) {
    W w[P::kRounds];
    for (int t = 0; t < 16; ++t) w[t] = P::load(data + sizeof(W) * t);
    for (int t = 16; t < P::kRounds; ++t) w[t] = P::s1(w[t - 2]) + w[t - 7] + P::s0(w[t - 15]) + w[t - 16];
    W a = state[0], b = state[1], c = state[2], d = state[3];
    W e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < P::kRounds; ++t) {
      const W t1 = h + P::r1(e) + ch(e, f, g) + P::kK[t] + w[t];
      const W t2 = P::r0(a) + maj(a, b, c);
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

// The portable block functions.
void md5_blocks_portable(uint32_t state[4], const uint8_t *data, size_t blocks);
void sha1_blocks_portable(uint32_t state[5], const uint8_t *data, size_t blocks);
void sha256_blocks_portable(uint32_t state[8], const uint8_t *data, size_t blocks);
void sha512_blocks_portable(uint64_t state[8], const uint8_t *data, size_t blocks);

using Md5Blocks = void (*)(uint32_t *, const uint8_t *, size_t);
using Sha1Blocks = void (*)(uint32_t *, const uint8_t *, size_t);
using Sha256Blocks = void (*)(uint32_t *, const uint8_t *, size_t);
using Sha512Blocks = void (*)(uint64_t *, const uint8_t *, size_t);

// The kernel table: filled from the CPU features at first use and again
// whenever kel::cpu::restrict_to changes them (kernels.cpp).
struct Kernels {
  std::atomic<Md5Blocks> md5;
  std::atomic<Sha1Blocks> sha1;
  std::atomic<Sha256Blocks> sha256;
  std::atomic<Sha512Blocks> sha512;
  std::atomic<bool> sha256HmacTail;  // the SHA extensions' fused HMAC end
};
extern Kernels g_kernels;
extern std::atomic<bool> g_kernelsReady;
void fill_kernels();

inline const Kernels &kernels() {
  cpu::ensure_filled(g_kernelsReady, fill_kernels);
  return g_kernels;
}

inline Sha1Blocks sha1_kernel() { return kernels().sha1.load(std::memory_order_relaxed); }
inline Sha256Blocks sha256_kernel() { return kernels().sha256.load(std::memory_order_relaxed); }
inline Sha512Blocks sha512_kernel() { return kernels().sha512.load(std::memory_order_relaxed); }
inline void md5_blocks(uint32_t state[4], const uint8_t *data, size_t blocks) {
  kernels().md5.load(std::memory_order_relaxed)(state, data, blocks);
}
inline void sha1_blocks(uint32_t state[5], const uint8_t *data, size_t blocks) { sha1_kernel()(state, data, blocks); }
inline void sha256_blocks(uint32_t state[8], const uint8_t *data, size_t blocks) {
  sha256_kernel()(state, data, blocks);
}
inline void sha512_blocks(uint64_t state[8], const uint8_t *data, size_t blocks) {
  sha512_kernel()(state, data, blocks);
}

// Each traits type: the context, the block size, the block function, the
// counter, and init/finish over a context known to be there.
struct Md5 {
  using Ctx = Md5Context;
  static constexpr size_t kBlock = 64;
  static void blocks(uint32_t *s, const uint8_t *p, size_t n) { md5_blocks(s, p, n); }
  static void count(Ctx &c, uint32_t len) { c.bitCount += uint64_t{len} * 8; }
  static void init(Ctx &c) {
    c.state[0] = 0x67452301;
    c.state[1] = 0xefcdab89;
    c.state[2] = 0x98badcfe;
    c.state[3] = 0x10325476;
    c.bitCount = 0;
    c.bufferIndex = 0;
  }
  // RFC 1321 3.3-3.5: the padding and the length go through the update, so
  // the context's bit count afterwards includes them.
  static void finish(Ctx &c, uint8_t *out) {
    uint8_t bits[8];
    store_le64(bits, c.bitCount);
    const uint32_t i = static_cast<uint32_t>((c.bitCount >> 3) & 63);
    md_update<Md5>(c, MD45_PADDING, i < 56 ? 56 - i : 120 - i);
    md_update<Md5>(c, bits, 8);
    for (int w = 0; w < 4; ++w) store_le32(out + 4 * w, c.state[w]);
  }
};

// The context keeps its last state (and the bit count) after finishing.
struct Sha1 {
  using Ctx = Sha1Context;
  static constexpr size_t kBlock = 64;
  static constexpr size_t kLengthBytes = 8;
  static constexpr uint32_t kInit[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
  static void blocks(uint32_t *s, const uint8_t *p, size_t n) { sha1_blocks(s, p, n); }
  static Sha1Blocks kernel() { return sha1_kernel(); }
  static void count(Ctx &c, uint32_t len) { c.byteCount += len; }
  static void store_length(Ctx &c, uint8_t *out) {
    c.byteCount <<= 3;  // the context keeps the bit count from here on
    store_be64(out, c.byteCount);
  }
  static void init(Ctx &c) {
    std::memcpy(c.state, kInit, sizeof c.state);
    c.byteCount = 0;
    c.bufferIndex = 0;
  }
  static void finish(Ctx &c, uint8_t *out) {
    sha_pad<Sha1>(c);
    for (int i = 0; i < 5; ++i) store_be32(out + 4 * i, c.state[i]);
  }
};

// SHA-256 and SHA-512 share one shape over the word width and the counter
// type: the initial value, and a finish that writes kWords words and wipes
// the context. SHA-224 and SHA-384 change only kInit and kWords; Base is
// the digest whose length field and block function they use.
template <class C, class Word>
struct Sha2 {
  using Ctx = C;
  static constexpr size_t kBlock = 16 * sizeof(Word);
  static constexpr size_t kLengthBytes = 2 * sizeof(Word);
  static constexpr int kWords = 8;
  template <class V>
  static void init_as(Ctx &c) {
    std::memcpy(c.state, V::kInit, sizeof c.state);
    c.byteCount = {};
    c.bufferIndex = 0;
  }
  template <class V, class Base>
  static void finish_as(Ctx &c, uint8_t *out) {
    sha_pad<Base>(c);
    for (int i = 0; i < V::kWords; ++i) {
      if constexpr (sizeof(Word) == 4)
        store_be32(out + 4 * i, c.state[i]);
      else
        store_be64(out + 8 * i, c.state[i]);
    }
    mem::secure_zero(&c, sizeof c);
  }
};

struct Sha256 : Sha2<Sha256Context, uint32_t> {
  static constexpr uint32_t kInit[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  static void blocks(uint32_t *s, const uint8_t *p, size_t n) { sha256_blocks(s, p, n); }
  static Sha256Blocks kernel() { return sha256_kernel(); }
  static void count(Ctx &c, uint32_t len) { c.byteCount += len; }
  static void store_length(Ctx &c, uint8_t *out) {
    c.byteCount <<= 3;
    store_be64(out, c.byteCount);
  }
  static void init(Ctx &c) { init_as<Sha256>(c); }
  static void finish(Ctx &c, uint8_t *out) { finish_as<Sha256, Sha256>(c, out); }
};
struct Sha224 : Sha256 {
  static constexpr uint32_t kInit[8] = {0xc1059ed8, 0x367cd507, 0x3070dd17, 0xf70e5939,
                                        0xffc00b31, 0x68581511, 0x64f98fa7, 0xbefa4fa4};
  static constexpr int kWords = 7;
  static void init(Ctx &c) { init_as<Sha224>(c); }
  static void finish(Ctx &c, uint8_t *out) { finish_as<Sha224, Sha256>(c, out); }
};

struct Sha512 : Sha2<Sha512Context, uint64_t> {
  static constexpr uint64_t kInit[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                                        0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                                        0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
  static void blocks(uint64_t *s, const uint8_t *p, size_t n) { sha512_blocks(s, p, n); }
  static Sha512Blocks kernel() { return sha512_kernel(); }
  static void count(Ctx &c, uint32_t len) { u16_Incr32(&c.byteCount, len); }
  static void store_length(Ctx &c, uint8_t *out) {
    c.byteCount = u16_Shl(c.byteCount.high, c.byteCount.low, 3);
    store_be64(out, c.byteCount.high);
    store_be64(out + 8, c.byteCount.low);
  }
  static void init(Ctx &c) { init_as<Sha512>(c); }
  static void finish(Ctx &c, uint8_t *out) { finish_as<Sha512, Sha512>(c, out); }
};
struct Sha384 : Sha512 {
  static constexpr uint64_t kInit[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17,
                                        0x152fecd8f70e5939, 0x67332667ffc00b31, 0x8eb44a8768581511,
                                        0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
  static constexpr int kWords = 6;
  static void init(Ctx &c) { init_as<Sha384>(c); }
  static void finish(Ctx &c, uint8_t *out) { finish_as<Sha384, Sha512>(c, out); }
};

// A whole message in one call on a stack context that is wiped on return.
template <class T>
void complete(const uint8_t *data, uint32_t length, uint8_t *out) {
  mem::Wiped<typename T::Ctx> c;
  T::init(*c);
  md_update<T>(*c, data, length);
  T::finish(*c, out);
}

// The exported digest entries of one traits type: with kGated, the power-up
// gate first; then the argument checks; then one internal call.
template <class T, bool kGated>
struct Shims {
  using Ctx = typename T::Ctx;
  static int32_t gate() {
    if constexpr (kGated) return fips::gate();
    return 0;
  }
  static int32_t alloc(void **ctx) {
    if (int32_t s = gate(); s != 0) return s;
    return VOR_alloc(sizeof(Ctx), ctx);
  }
  // The context holds chaining state (for HMAC, the key's padded state).
  static int32_t release(void **ctx) {
    if (int32_t s = gate(); s != 0) return s;
    if (ctx == nullptr || *ctx == nullptr) return ERR_NULL_POINTER;
    mem::secure_zero(*ctx, sizeof(Ctx));
    return VOR_free(ctx);
  }
  static int32_t init(void *ctx) {
    if (int32_t s = gate(); s != 0) return s;
    if (ctx == nullptr) return ERR_NULL_POINTER;
    T::init(*static_cast<Ctx *>(ctx));
    return 0;
  }
  static int32_t update(void *ctx, const uint8_t *data, uint32_t length) {
    if (int32_t s = gate(); s != 0) return s;
    if (ctx == nullptr || data == nullptr) return ERR_NULL_POINTER;
    md_update<T>(*static_cast<Ctx *>(ctx), data, length);
    return 0;
  }
  static int32_t final(void *ctx, uint8_t *out) {
    if (int32_t s = gate(); s != 0) return s;
    if (ctx == nullptr || out == nullptr) return ERR_NULL_POINTER;
    T::finish(*static_cast<Ctx *>(ctx), out);
    return 0;
  }
  static int32_t complete(const uint8_t *data, uint32_t length, uint8_t *out) {
    if (int32_t s = gate(); s != 0) return s;
    if (data == nullptr || out == nullptr) return ERR_NULL_POINTER;
    hash::complete<T>(data, length, out);
    return 0;
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

// The suite of a PKCS #1 signature algorithm (the last arc of its
// identifier: 4 MD5, 5 SHA-1, 11 to 13 SHA-256 to SHA-512, 14 SHA-224), or
// null for any other.
const HashSuite *suite_for_id(int32_t id);

}  // namespace kel::hash
