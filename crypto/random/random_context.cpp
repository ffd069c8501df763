// The random context: dispatch over the generator kinds, entropy injection,
// and the two ready-made contexts seeded from the OS.
#include "crypto/fips/gate.h"
#include "crypto/random/internal.h"
#include "kel/rng_seed.h"

namespace kel::random {
namespace {

constexpr uint32_t kReseedBits = 384;
constexpr uint32_t kDepotSeedBytes = 48;

// CTR-DRBG entropy: into the depot; every 384 bits, a reseed from it.
int32_t add_ctr_entropy_bit(RandomContext *ctx, uint8_t bit) {
  if (ctx->kind != RANDOM_KIND_CTRDRBG) return kNullPointer;
  if (int32_t st = RNG_SEED_addEntropyBit(bit); st != kOk) return st;
  if (++ctx->entropyBitCount < kReseedBits) return kOk;
  kel::mem::Wiped<uint8_t[kDepotSeedBytes]> seed;
  int32_t status = RNG_SEED_extractDepotBits(seed, sizeof seed);
  if (status == kOk) status = NIST_CTRDRBG_reseed(ctx, seed, sizeof seed, nullptr, 0);
  if (status == kOk) ctx->entropyBitCount = 0;  // otherwise the next bit tries again
  return status;
}

// A seed is good only when the device delivered every byte (1); a short
// read fails closed like an error.
int32_t read_seed(uint8_t *buffer, int32_t length) {
  const int32_t got = LINUX_getSeed(buffer, length);
  if (got == 1) return kOk;
  return got < 0 ? got : ERR_RANDOM_SEED_SOURCE;
}

// A FIPS 186 generator with 64 bytes of XKEY and XSEED from the OS; its first
// 64 output bytes become its XKEY.
int32_t acquire_fips186(RandomContext **out) {
  if (int32_t s = fips::gate(); s != 0) return s;
  kel::mem::Wiped<uint8_t[64]> xseed;
  kel::mem::Wiped<uint8_t[64]> xkey;
  int32_t status = read_seed(xkey, sizeof xkey);
  if (status == kOk) status = read_seed(xseed, sizeof xseed);
  RandomContext *ctx = nullptr;
  if (status == kOk) status = RANDOM_newFIPS186Context(&ctx, 64, xkey, sizeof xseed, xseed);
  if (status == kOk) {
    Fips186State &s = as_fips186(ctx)->state;
    status = RANDOM_numberGeneratorFIPS186(ctx, s.xkey, 64);
    s.pXSEED = nullptr;  // consumed by the first refill; the buffer is wiped below
  }
  if (status != kOk) {
    if (ctx != nullptr) RANDOM_deleteFIPS186Context(&ctx);
    return status;
  }
  ctx->entropyBitCount = 0;
  *out = ctx;
  return kOk;
}

// An AES-256 CTR-DRBG without derivation function from 48 bytes of OS seed
// read 4 at a time, each differing from the one before.
int32_t acquire_ctr_drbg(RandomContext **out) {
  kel::mem::Wiped<uint8_t[48]> seed;
  kel::mem::Wiped<uint8_t[4]> previous;
  int32_t status = LINUX_getSeed(previous, sizeof previous) == 1 ? kOk : ERR_RANDOM_SEED_SOURCE;
  for (int i = 0; status == kOk && i < 12; ++i) {
    uint8_t *quarter = seed + 4 * i;
    if (LINUX_getSeed(quarter, 4) != 1 || std::memcmp(quarter, previous, 4) == 0) {
      status = ERR_RANDOM_SEED_SOURCE;
      break;
    }
    std::memcpy(previous, quarter, 4);
  }
  RandomContext *ctx = nullptr;
  if (status == kOk) status = NIST_CTRDRBG_newContext(&ctx, seed, sizeof seed, 32, 16, nullptr, 0, 0);
  if (status != kOk) return status;
  ctx->entropyBitCount = 0;
  *out = ctx;
  return kOk;
}

}  // namespace
}  // namespace kel::random

using kel::random::kNullPointer;
using kel::random::kOk;

int32_t RANDOM_acquireContext(RandomContext **ctx) { return RANDOM_acquireContextEx(ctx, RANDOM_ACQUIRE_CTRDRBG); }

int32_t RANDOM_acquireContextEx(RandomContext **ctx, uint8_t kind) {
  if (ctx == nullptr) return kNullPointer;
  if (kind == 0) kind = RANDOM_ACQUIRE_CTRDRBG;
  if (kind == RANDOM_ACQUIRE_FIPS186) return kel::random::acquire_fips186(ctx);
  if (kind == RANDOM_ACQUIRE_CTRDRBG) return kel::random::acquire_ctr_drbg(ctx);
  return ERR_RANDOM_UNSUPPORTED;
}

int32_t RANDOM_releaseContext(RandomContext **ctx) {
  if (ctx == nullptr || *ctx == nullptr) return kNullPointer;
  switch ((*ctx)->kind) {
    case RANDOM_KIND_FIPS186: return RANDOM_deleteFIPS186Context(ctx);
    case RANDOM_KIND_CTRDRBG: return NIST_CTRDRBG_deleteContext(ctx);
    default: return kNullPointer;
  }
}

int32_t RANDOM_numberGenerator(RandomContext *ctx, uint8_t *buffer, uint32_t length) {
  if (ctx == nullptr || buffer == nullptr) return kNullPointer;
  switch (ctx->kind) {
    case RANDOM_KIND_FIPS186:
      // The FIPS 186 generator counts in signed 32 bits: larger requests are refused, not wrapped.
      if (length > 0x7FFFFFFFu) {
        if (int32_t s = kel::fips::gate(); s != 0) return s;
        return ERR_RANDOM_BAD_LENGTH;
      }
      return RANDOM_numberGeneratorFIPS186(ctx, buffer, static_cast<int32_t>(length));
    case RANDOM_KIND_CTRDRBG: return NIST_CTRDRBG_numberGenerator(ctx, buffer, length);
    default: return kNullPointer;
  }
}

int32_t RANDOM_rngFun(void *ctx, uint32_t length, uint8_t *buffer) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  return RANDOM_numberGenerator(static_cast<RandomContext *>(ctx), buffer, length);
}

int32_t RANDOM_addEntropyBit(RandomContext *ctx, uint8_t entropyBit) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr) return kNullPointer;
  switch (ctx->kind) {
    case RANDOM_KIND_FIPS186: return kel::fips186::add_entropy_bit(ctx, entropyBit);
    case RANDOM_KIND_CTRDRBG: return kel::random::add_ctr_entropy_bit(ctx, entropyBit);
    default: return kNullPointer;
  }
}
