// SHA-512 and SHA-384 (FIPS 180-4 6.4, 6.5) and the 128-bit counter helpers.
// SHA-384's init and final have no gate of their own: it reaches the gated
// SHA-512 update.
#include <cstring>

#include "crypto/fips/gate.h"
#include "crypto/hash/internal.h"
#include "crypto/hash/round_constants.h"
#include "kel/vor.h"

namespace kel::hash {
namespace {

struct Sha512Rounds {
  using Word = uint64_t;
  static constexpr int kRounds = 80;
  static constexpr const Word *kK = kSha512K.data();
  static Word load(const uint8_t *p) { return load_be64(p); }
  static Word s0(Word x) { return sigma<1, 8, 7>(x); }
  static Word s1(Word x) { return sigma<19, 61, 6>(x); }
  static Word r0(Word x) { return rho<28, 34, 39>(x); }
  static Word r1(Word x) { return rho<14, 18, 41>(x); }
};

}  // namespace

void sha512_blocks_portable(uint64_t state[8], const uint8_t *data, size_t blocks) {
  sha2_blocks_portable<Sha512Rounds>(state, data, blocks);
}

}  // namespace kel::hash

void u16_Incr32(Uint128 *counter, uint32_t n) {
  const uint64_t low = counter->low + n;
  counter->high += low < n;
  counter->low = low;
}

Uint128 u16_Shl(uint64_t high, uint64_t low, uint32_t n) {
  if (n == 0) return Uint128{high, low};
  if (n >= 128) return Uint128{0, 0};
  if (n >= 64) return Uint128{low << (n - 64), 0};
  return Uint128{high << n | low >> (64 - n), low << n};
}

using Sha512Shims = kel::hash::Shims<kel::hash::Sha512, true>;
using Sha384Shims = kel::hash::Shims<kel::hash::Sha384, false>;

int32_t SHA512_allocDigest(void **ctx) { return Sha512Shims::alloc(ctx); }
int32_t SHA512_freeDigest(void **ctx) { return Sha512Shims::release(ctx); }
int32_t SHA512_initDigest(void *ctx) { return Sha512Shims::init(ctx); }
int32_t SHA384_initDigest(void *ctx) { return Sha384Shims::init(ctx); }
int32_t SHA512_updateDigest(void *ctx, const uint8_t *data, uint32_t length) {
  return Sha512Shims::update(ctx, data, length);
}
int32_t SHA512_finalDigest(void *ctx, uint8_t *output) { return Sha512Shims::final(ctx, output); }
int32_t SHA384_finalDigest(void *ctx, uint8_t *output) { return Sha384Shims::final(ctx, output); }
int32_t SHA512_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output) {
  return Sha512Shims::complete(data, length, output);
}
// Gated although its init and final are not: the SHA-512 update it runs is.
int32_t SHA384_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output) {
  return kel::hash::Shims<kel::hash::Sha384, true>::complete(data, length, output);
}
