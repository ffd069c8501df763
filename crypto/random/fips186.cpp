// The FIPS 186-2 general-purpose generator (Appendix 3.1 without the final
// reduction mod q) over the SHA-1 G function, and its k-value source
// (Appendix 3.2).
#include <new>

#include "crypto/fips/gate.h"
#include "crypto/random/internal.h"
#include "kel/hash.h"
#include "kel/os.h"
#include "kel/vor.h"

namespace kel::fips186 {
namespace {

using random::as_fips186;
using random::Fips186Context;
using random::kNullPointer;
using random::kOk;

bool is_fips186(const RandomContext *ctx) { return ctx != nullptr && ctx->kind == RANDOM_KIND_FIPS186; }

// x = (x + y) mod 2^(8 * xLen), big-endian, y aligned to the least
// significant end (only its last xLen bytes count when it is longer).
void add_into(uint8_t *x, uint32_t xLen, const uint8_t *y, uint32_t yLen) {
  if (yLen > xLen) {
    y += yLen - xLen;
    yLen = xLen;
  }
  unsigned carry = 0;
  for (uint32_t i = 0; i < xLen; ++i) {
    const uint32_t xi = xLen - 1 - i;
    unsigned sum = x[xi] + carry + (i < yLen ? y[yLen - 1 - i] : 0u);
    x[xi] = static_cast<uint8_t>(sum);
    carry = sum >> 8;
  }
}

// XKEY = (1 + XKEY + block) mod 2^b.
void advance_xkey(Fips186State &s, const uint8_t block[20]) {
  static constexpr uint8_t kOne[1] = {1};
  add_into(s.xkey, s.keyLength, block, 20);
  add_into(s.xkey, s.keyLength, kOne, 1);
}

// The two blocks of one refill, with the continuous test.
int32_t refill(Fips186State &s) {
  for (int j = 0; j < 2; ++j) {
    std::memcpy(s.xval, s.xkey, s.keyLength);
    if (s.pXSEED != nullptr && s.xseedLength > 0) {
      add_into(s.xval, s.keyLength, s.pXSEED, static_cast<uint32_t>(s.xseedLength));
      s.xseedLength -= s.keyLength;
      if (s.xseedLength > 0) s.pXSEED += s.keyLength;
    }
    std::memset(s.xval + s.keyLength, 0, 64 - s.keyLength);
    uint8_t *block = s.outputBuffer + 20 * j;
    SHA1_G(s.xval, block);
    advance_xkey(s, block);
    if (std::memcmp(block, s.previousBlock, 20) == 0) {
      fips::enter_error_state(ERR_FIPS186_CONTINUOUS_TEST);
      return ERR_FIPS186_CONTINUOUS_TEST;
    }
    std::memcpy(s.previousBlock, block, 20);
  }
  s.bytesLeft = 40;
  return kOk;
}

// In a fork() child XKEY and the buffered output are shared with the parent:
// fresh OS bytes are added into XKEY and the buffer is dropped before the
// child hands out anything.
int32_t reseed_after_fork(Fips186Context &c) {
  const uint32_t current = random::fork_generation();
  if (c.forkGeneration == current) return kOk;
  Fips186State &s = c.state;
  mem::Wiped<uint8_t[64]> seed;
  if (LINUX_getSeed(seed, s.keyLength) != 1) return ERR_RANDOM_SEED_SOURCE;
  add_into(s.xkey, s.keyLength, seed, s.keyLength);
  mem::secure_zero(s.outputBuffer, sizeof s.outputBuffer);
  s.bytesLeft = 0;
  c.forkGeneration = current;
  return kOk;
}

}  // namespace

int32_t add_entropy_bit(RandomContext *ctx, uint8_t bit) {
  Fips186State &s = as_fips186(ctx)->state;
  ++ctx->entropyBitCount;
  const uint32_t bits = 8u * s.keyLength;
  s.entropyBitPosition = (s.entropyBitPosition + 1) % bits;
  if ((bit & 1) != 0) s.xkey[(s.entropyBitPosition / 8) % s.keyLength] ^= static_cast<uint8_t>(1u << (s.entropyBitPosition % 8));
  return kOk;
}

}  // namespace kel::fips186

using kel::random::as_fips186;
using kel::random::Fips186Context;
using kel::random::kNullPointer;
using kel::random::kOk;

int32_t RANDOM_newFIPS186Context(RandomContext **ctx, uint8_t keyLength, const uint8_t *xkey, uint32_t seedLength,
                                 const uint8_t *xseed) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  // FIPS 186-2 3.1: the seed key must differ from the seed.
  if (xkey != nullptr && xseed != nullptr && keyLength == static_cast<uint8_t>(seedLength) &&
      std::memcmp(xkey, xseed, keyLength) == 0)
    return ERR_FIPS186_XKEY_EQUALS_XSEED;
  if (ctx == nullptr || xkey == nullptr) return kNullPointer;
  *ctx = nullptr;
  if (keyLength < 20 || keyLength > 64) return ERR_RANDOM_UNSUPPORTED;
  void *mem = nullptr;
  if (VOR_alloc(sizeof(Fips186Context), &mem) != kOk) return kNullPointer;
  std::memset(mem, 0, sizeof(Fips186Context));
  auto *c = new (mem) Fips186Context{};
  c->header.kind = RANDOM_KIND_FIPS186;
  Fips186State &s = c->state;
  s.keyLength = keyLength;
  std::memcpy(s.xkey, xkey, keyLength);
  s.bytesLeft = 0;
  s.pXSEED = xseed;
  s.xseedLength = static_cast<int32_t>(seedLength);
  c->forkGeneration = kel::random::fork_generation();
  if (int32_t st = LINUX_mutexCreate(&s.lock, 0, 1); st != kOk) {
    kel::mem::secure_zero(c, sizeof *c);
    VOR_free(&mem);
    return st;
  }
  *ctx = &c->header;
  return kOk;
}

int32_t RANDOM_deleteFIPS186Context(RandomContext **ctx) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || !kel::fips186::is_fips186(*ctx)) return kNullPointer;
  Fips186Context *c = as_fips186(*ctx);
  if (c->state.lock != nullptr) LINUX_mutexFree(&c->state.lock);
  kel::mem::secure_zero(c, sizeof *c);
  void *mem = c;
  int32_t status = VOR_free(&mem);
  *ctx = nullptr;
  return status;
}

int32_t RANDOM_numberGeneratorFIPS186(RandomContext *ctx, uint8_t *buffer, int32_t length) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (length == 0) return kOk;
  if (!kel::fips186::is_fips186(ctx) || buffer == nullptr) return kNullPointer;
  if (length < 0) return ERR_RANDOM_BAD_LENGTH;
  Fips186State &s = as_fips186(ctx)->state;
  if (int32_t st = LINUX_mutexWait(s.lock); st != kOk) return st;
  int32_t status = kel::fips186::reseed_after_fork(*as_fips186(ctx));
  uint32_t wanted = static_cast<uint32_t>(length);
  while (status == kOk && wanted > 0) {
    const uint32_t take = s.bytesLeft < wanted ? s.bytesLeft : wanted;
    std::memcpy(buffer, s.outputBuffer + (40 - s.bytesLeft), take);
    buffer += take;
    wanted -= take;
    s.bytesLeft = static_cast<uint8_t>(s.bytesLeft - take);
    if (s.bytesLeft > 0) continue;
    // Refill as soon as the buffer is empty, even when nothing more is wanted.
    if ((status = kel::fips186::refill(s)) != kOk) break;
  }
  LINUX_mutexRelease(s.lock);
  return status;
}

int32_t RANDOM_KSrcGenerator(RandomContext *ctx, uint8_t *buffer) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (!kel::fips186::is_fips186(ctx) || buffer == nullptr) return kNullPointer;
  Fips186State &s = as_fips186(ctx)->state;
  if (int32_t st = kel::fips186::reseed_after_fork(*as_fips186(ctx)); st != kOk) return st;
  kel::mem::Wiped<uint8_t[64]> xval;
  for (int j = 0; j < 2; ++j) {
    std::memcpy(xval, s.xkey, s.keyLength);
    std::memset(xval + s.keyLength, 0, 64 - s.keyLength);
    SHA1_GK(xval, buffer + 20 * j);
    kel::fips186::advance_xkey(s, buffer + 20 * j);
  }
  return kOk;
}
