// SHA-256 and SHA-224 (FIPS 180-4 6.2, 6.3). SHA-224's init and final have
// no gate of their own: it reaches the gated SHA-256 update.
#include <cstring>

#include "crypto/fips/gate.h"
#include "crypto/hash/internal.h"
#include "crypto/hash/round_constants.h"
#include "kel/vor.h"

namespace kel::hash {
namespace {

struct Sha256Rounds {
  using Word = uint32_t;
  static constexpr int kRounds = 64;
  static constexpr const Word *kK = kSha256K.data();
  static Word load(const uint8_t *p) { return load_be32(p); }
  static Word s0(Word x) { return sigma<7, 18, 3>(x); }
  static Word s1(Word x) { return sigma<17, 19, 10>(x); }
  static Word r0(Word x) { return rho<2, 13, 22>(x); }
  static Word r1(Word x) { return rho<6, 11, 25>(x); }
};

}  // namespace

void sha256_blocks_portable(uint32_t state[8], const uint8_t *data, size_t blocks) {
  sha2_blocks_portable<Sha256Rounds>(state, data, blocks);
}

}  // namespace kel::hash

using Sha256Shims = kel::hash::Shims<kel::hash::Sha256, true>;
using Sha224Shims = kel::hash::Shims<kel::hash::Sha224, false>;

int32_t SHA256_allocDigest(void **ctx) { return Sha256Shims::alloc(ctx); }
int32_t SHA256_freeDigest(void **ctx) { return Sha256Shims::release(ctx); }
int32_t SHA256_initDigest(void *ctx) { return Sha256Shims::init(ctx); }
int32_t SHA224_initDigest(void *ctx) { return Sha224Shims::init(ctx); }
int32_t SHA256_updateDigest(void *ctx, const uint8_t *data, uint32_t length) {
  return Sha256Shims::update(ctx, data, length);
}
int32_t SHA256_finalDigest(void *ctx, uint8_t *output) { return Sha256Shims::final(ctx, output); }
int32_t SHA224_finalDigest(void *ctx, uint8_t *output) { return Sha224Shims::final(ctx, output); }
int32_t SHA256_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output) {
  return Sha256Shims::complete(data, length, output);
}
// Gated although its init and final are not: the SHA-256 update it runs is.
int32_t SHA224_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output) {
  return kel::hash::Shims<kel::hash::Sha224, true>::complete(data, length, output);
}
