// Generic streaming HMAC (RFC 2104) over a hash suite.
//
// For the toolkit's own suites the digest states after the inner and the
// outer padded key block are computed once per key and copied in for every
// message: a reset costs one copy and a final one extra compression, which
// is what makes short keyed messages cheap. A suite from elsewhere runs the
// textbook steps on every message.
#include <cstring>
#include <type_traits>
#include <utility>

#include "crypto/fips/gate.h"
#include "crypto/hash/internal.h"
#include "crypto/hash/x86/kernels.h"
#include "kel/hmac.h"
#include "kel/vor.h"

namespace kel::hash {
namespace {

// The outer hash of a SHA suite in one step: finish the inner hash in the
// working context, then compress one block holding the inner digest, its
// padding and the length (block + digest) from the precomputed outer state.
template <class T>
void sha_final(HmacContext &c, uint8_t *result) {
  using Word = std::remove_cvref_t<decltype(std::declval<typename T::Ctx &>().state[0])>;
  constexpr size_t B = T::kBlock;
  auto &h = *static_cast<typename T::Ctx *>(c.hashCtx);
  const uint32_t digest = c.suite->digestSize;
  const uint32_t words = digest / sizeof(Word);
  const auto blocks = T::kernel();  // one choice for both blocks
  sha_pad<T>(h, blocks);
  alignas(16) uint8_t block[B];
  for (uint32_t i = 0; i < words; ++i) {
    if constexpr (sizeof(Word) == 4) {
      store_be32(block + 4 * i, h.state[i]);
    } else {
      store_be64(block + 8 * i, h.state[i]);
    }
  }
  block[digest] = 0x80;
  std::memset(block + digest + 1, 0, B - 8 - digest - 1);
  store_be64(block + B - 8, (uint64_t{B} + digest) * 8);
  Word s[sizeof(h.state) / sizeof(Word)];
  std::memcpy(s, &c.outerState, sizeof s);  // the chaining words lead every context
  blocks(s, block, 1);
  for (uint32_t i = 0; i < words; ++i) {
    if constexpr (sizeof(Word) == 4) {
      store_be32(result + 4 * i, s[i]);
    } else {
      store_be64(result + 8 * i, s[i]);
    }
  }
  // The working context now holds only the finished inner hash; the next
  // reset overwrites it and HmacDelete wipes everything.
}

// SHA-224/256 with the SHA extensions: the padding block(s), the outer
// block and the digest between them in one kernel call that keeps the state
// in registers. The working context ends as sha_final leaves it.
void sha256_final_fused(HmacContext &c, uint8_t *result) {
  auto &h = *static_cast<Sha256Context *>(c.hashCtx);
  const size_t idx = static_cast<size_t>(h.bufferIndex);
  const size_t end = idx + 1 > 64 - 8 ? 128 : 64;  // no room for the length: a second block
  alignas(16) uint8_t tail[128];
  std::memcpy(tail, h.buffer, idx);
  tail[idx] = 0x80;
  std::memset(tail + idx + 1, 0, end - 8 - idx - 1);
  h.byteCount <<= 3;
  store_be64(tail + end - 8, h.byteCount);
  h.bufferIndex = 0;
  sha256_hmac_tail_shani(h.state, tail, end / 64, c.outerState.sha256.state, result, c.suite == &kSha224Suite);
}

void sha256_final(HmacContext &c, uint8_t *result) {
  if (kernels().sha256HmacTail.load(std::memory_order_relaxed)) return sha256_final_fused(c, result);
  sha_final<Sha256>(c, result);
}

template <class T>
void update_direct(void *ctx, const uint8_t *data, uint32_t length) {
  md_update<T>(*static_cast<typename T::Ctx *>(ctx), data, length);
}

// One row per suite of the toolkit: the public record, the same steps
// without the gate (the HMAC entry has passed it already), the size of the
// context (its states may be copied), the absorbing step and the one-step
// final (null: the textbook final over the copied outer state).
struct Row {
  const HashSuite *suite;
  HashSuite direct;
  size_t contextSize;
  void (*update)(void *, const uint8_t *, uint32_t);
  void (*final)(HmacContext &, uint8_t *);
};

template <class T>
constexpr Row row(const HashSuite *suite, uint32_t digest, uint32_t block, void (*fin)(HmacContext &, uint8_t *)) {
  using S = Shims<T, false>;
  return {suite,
          {digest, block, S::alloc, S::release, S::init, S::update, S::final, nullptr, nullptr},
          sizeof(typename T::Ctx),
          update_direct<T>,
          fin};
}

constinit const Row kRows[] = {
    row<Md5>(&kMd5Suite, 16, 64, nullptr),
    row<Sha1>(&kSha1Suite, 20, 64, sha_final<Sha1>),
    row<Sha224>(&kSha224Suite, 28, 64, sha256_final),
    row<Sha256>(&kSha256Suite, 32, 64, sha256_final),
    row<Sha384>(&kSha384Suite, 48, 128, sha_final<Sha512>),
    row<Sha512>(&kSha512Suite, 64, 128, sha_final<Sha512>),
};

const Row *row_of(const HashSuite *s) {
  for (const Row &r : kRows)
    if (r.suite == s) return &r;
  return nullptr;
}

// The steps HMAC runs: the row's ungated ones for a suite of the toolkit,
// the caller's record otherwise.
const HashSuite &ops(const HmacContext &c) {
  const Row *r = row_of(c.suite);
  return r != nullptr ? r->direct : *c.suite;
}

// pad = key XOR fill, then fill up to the block size.
void fill_pad(HmacContext &c, uint8_t fill) {
  for (uint32_t i = 0; i < c.suite->blockSize; ++i)
    c.pad[i] = static_cast<uint8_t>((i < c.keyLength ? c.key[i] : 0) ^ fill);
}

// Digest context after one padded key block.
int32_t absorb_pad(const HmacContext &c, void *hashCtx) {
  const HashSuite &h = ops(c);
  if (int32_t s = h.initFunc(hashCtx); s != 0) return s;
  return h.updateFunc(hashCtx, c.pad, c.suite->blockSize);
}

int32_t ensure_hash_ctx(HmacContext &c) { return c.hashCtx ? 0 : ops(c).allocFunc(&c.hashCtx); }

int32_t reset(HmacContext &c) {
  if (c.padsReady && c.hashCtx != nullptr && (c.suite == &kSha256Suite || c.suite == &kSha224Suite)) {
    std::memcpy(c.hashCtx, &c.innerState.sha256, sizeof(Sha256Context));  // the common case, a fixed-size copy
    return 0;
  }
  if (int32_t s = ensure_hash_ctx(c); s != 0) return s;
  const Row *row = row_of(c.suite);
  if (row == nullptr) {
    fill_pad(c, 0x36);
    return absorb_pad(c, c.hashCtx);
  }
  if (!c.padsReady) {
    fill_pad(c, 0x5c);
    if (int32_t s = absorb_pad(c, &c.outerState); s != 0) return s;
    fill_pad(c, 0x36);
    if (int32_t s = absorb_pad(c, &c.innerState); s != 0) return s;
    c.padsReady = 1;
  }
  std::memcpy(c.hashCtx, &c.innerState, row->contextSize);
  return 0;
}

int32_t set_key(HmacContext &c, const uint8_t *key, uint32_t keyLength) {
  const HashSuite &h = ops(c);
  c.padsReady = 0;
  if (keyLength <= c.suite->blockSize) {
    std::memcpy(c.key, key, keyLength);
    c.keyLength = keyLength;
  } else {
    // RFC 2104 2: a key longer than the block is replaced by its digest.
    if (int32_t s = ensure_hash_ctx(c); s != 0) return s;
    if (int32_t s = h.initFunc(c.hashCtx); s != 0) return s;
    if (int32_t s = h.updateFunc(c.hashCtx, key, keyLength); s != 0) return s;
    if (int32_t s = h.finalFunc(c.hashCtx, c.key); s != 0) return s;
    c.keyLength = c.suite->digestSize;
  }
  return reset(c);
}

int32_t update(HmacContext &c, const uint8_t *data, uint32_t length) {
  if (const Row *row = row_of(c.suite); row != nullptr && c.hashCtx != nullptr && data != nullptr) {
    row->update(c.hashCtx, data, length);
    return 0;
  }
  return ops(c).updateFunc(c.hashCtx, data, length);
}

int32_t final(HmacContext &c, uint8_t *result) {
  const Row *row = row_of(c.suite);
  const HashSuite &h = ops(c);
  if (row != nullptr && row->final != nullptr && c.padsReady && c.hashCtx != nullptr) {
    if (result == nullptr) return ERR_NULL_POINTER;
    row->final(c, result);
    return 0;
  }
  if (int32_t s = h.finalFunc(c.hashCtx, result); s != 0) return s;  // the inner digest
  if (row != nullptr && c.padsReady) {
    std::memcpy(c.hashCtx, &c.outerState, row->contextSize);
  } else {
    fill_pad(c, 0x5c);
    if (int32_t s = absorb_pad(c, c.hashCtx); s != 0) return s;
  }
  if (int32_t s = h.updateFunc(c.hashCtx, result, c.suite->digestSize); s != 0) return s;
  return h.finalFunc(c.hashCtx, result);
}

int32_t create(HmacContext **ctx, const HashSuite *suite) {
  if (suite->blockSize > HMAC_MAX_BLOCK_SIZE || suite->digestSize > HMAC_MAX_BLOCK_SIZE) return -6010;
  void *block = nullptr;
  if (int32_t s = VOR_alloc(sizeof(HmacContext), &block); s != 0) return s;
  auto *c = static_cast<HmacContext *>(block);
  std::memset(c, 0, sizeof *c);
  c->suite = suite;
  *ctx = c;
  return 0;
}

// A context that was never keyed has no digest context: it is released all
// the same.
int32_t destroy(HmacContext **ctx) {
  HmacContext &c = **ctx;
  if (c.hashCtx != nullptr) {
    if (int32_t s = ops(c).freeFunc(&c.hashCtx); s != 0) return s;
  }
  mem::destroy(ctx);
  return 0;
}

}  // namespace
}  // namespace kel::hash

int32_t HmacCreate(HmacContext **ctx, const HashSuite *suite) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || suite == nullptr) return ERR_NULL_POINTER;
  return kel::hash::create(ctx, suite);
}

int32_t HmacKey(HmacContext *ctx, const uint8_t *key, uint32_t keyLength) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || key == nullptr) return ERR_NULL_POINTER;
  return kel::hash::set_key(*ctx, key, keyLength);
}

int32_t HmacReset(HmacContext *ctx) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr) return ERR_NULL_POINTER;
  return kel::hash::reset(*ctx);
}

int32_t HmacUpdate(HmacContext *ctx, const uint8_t *data, uint32_t length) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr) return ERR_NULL_POINTER;
  return kel::hash::update(*ctx, data, length);
}

int32_t HmacFinal(HmacContext *ctx, uint8_t *result) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr) return ERR_NULL_POINTER;
  return kel::hash::final(*ctx, result);
}

int32_t HmacDelete(HmacContext **ctx) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr) return ERR_NULL_POINTER;
  if (*ctx == nullptr) return 0;
  return kel::hash::destroy(ctx);
}

int32_t HmacQuickEx(const uint8_t *key, uint32_t keyLength, const uint8_t *text, uint32_t textLength,
                    const uint8_t *text2, uint32_t text2Length, uint8_t *result, const HashSuite *suite) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (suite == nullptr) return ERR_NULL_POINTER;
  HmacContext *c = nullptr;
  int32_t s = kel::hash::create(&c, suite);
  if (s == 0 && key == nullptr) s = ERR_NULL_POINTER;
  if (s == 0) s = kel::hash::set_key(*c, key, keyLength);
  if (s == 0) s = kel::hash::update(*c, text, textLength);
  if (s == 0 && text2 != nullptr && text2Length != 0) s = kel::hash::update(*c, text2, text2Length);
  if (s == 0) s = kel::hash::final(*c, result);
  if (c != nullptr) kel::hash::destroy(&c);
  return s;
}
int32_t HmacQuick(const uint8_t *key, uint32_t keyLength, const uint8_t *text, uint32_t textLength,
                  uint8_t *result, const HashSuite *suite) {
  return HmacQuickEx(key, keyLength, text, textLength, nullptr, 0, result, suite);
}
