// The NIST EC-DRBG (SP 800-90, Dual_EC_DRBG) over P-256 and P-384: Hash_df
// for instantiation, reseed and additional input, s <- x(s P) and
// r <- x(s Q) per block, the rightmost outlen bits of r delivered, and a
// continuous test on consecutive blocks.
#include "kel/ec_drbg.h"

#include "crypto/fips/gate.h"
#include "crypto/hash/internal.h"
#include "crypto/pubkey/ec_internal.h"
#include "crypto/random/internal.h"
#include "kel/vor.h"

namespace kel::ecdrbg {
namespace {

using ec::C256;
using ec::C384;
using ec::hex_units;
using random::kNullPointer;
using random::kOk;

constexpr uint32_t kMaxInput = 1024;
constexpr int32_t kBadLength = -6003;

// The points Q of SP 800-90 Appendix A.1.
constexpr auto kQx256 = hex_units<8>("c97445f45cdef9f0d3e05e1e585fc297235b82b5be8ff3efca67c59852018192");
constexpr auto kQy256 = hex_units<8>("b28ef557ba31dfcbdd21ac46e2a91e3c304f44cb87058ada2cb815151e610046");
constexpr auto kQx384 = hex_units<12>(
    "8e722de3125bddb05580164bfe20b8b432216a62926c57502ceede31c47816edd1e89769124179d0b695106428815065");
constexpr auto kQy384 = hex_units<12>(
    "023b1660dd701d0839fd45eec36f9ee7b32e13b315dc02610aa1b636e346df671f790f84c5e09b05674dbb7e45c803dd");

struct EcDrbgContext {
  RandomContext header;
  EcDrbgState state;
};
static_assert(offsetof(EcDrbgContext, state) == 8);

EcDrbgContext *as_ecdrbg(RandomContext *ctx) { return reinterpret_cast<EcDrbgContext *>(ctx); }

uint32_t field_bytes(const EcDrbgState &s) { return (s.curve->field->bitLength + 7) / 8; }

struct Input {
  const uint8_t *data;
  uint32_t length;
};

// One Hash_df block: the digest of head || inputs, by the internal hash code.
template <class T>
void hash_block(const uint8_t head[5], const Input *inputs, int count, uint8_t *digest) {
  kel::mem::Wiped<typename T::Ctx> c;
  T::init(*c);
  kel::hash::md_update<T>(*c, head, 5);
  for (int k = 0; k < count; ++k)
    if (inputs[k].length != 0) kel::hash::md_update<T>(*c, inputs[k].data, inputs[k].length);
  T::finish(*c, digest);
}
using HashBlock = void (*)(const uint8_t *, const Input *, int, uint8_t *);

HashBlock block_function(const HashSuite *suite) {
  using namespace kel::hash;
  if (suite == &kSha1Suite) return hash_block<Sha1>;
  if (suite == &kSha224Suite) return hash_block<Sha224>;
  if (suite == &kSha256Suite) return hash_block<Sha256>;
  if (suite == &kSha384Suite) return hash_block<Sha384>;
  return hash_block<Sha512>;
}

// Hash_df (SP 800-90A 10.4.1): hash(counter || bits || inputs) for counter
// 1, 2, ..., cut to bits / 8 bytes (the seed lengths are whole bytes).
int32_t hash_df(const HashSuite *suite, const Input *inputs, int count, uint32_t bits, uint8_t *out) {
  const uint32_t bytes = (bits + 7) / 8;
  const uint32_t blocks = (bytes + suite->digestSize - 1) / suite->digestSize;
  if (blocks > 255) return ERR_ECDRBG_HASH_DF_TOO_LONG;
  const HashBlock block = block_function(suite);
  kel::mem::Wiped<uint8_t[64]> digest;
  uint8_t head[5] = {0, static_cast<uint8_t>(bits >> 24), static_cast<uint8_t>(bits >> 16),
                     static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits)};
  for (uint32_t i = 0, done = 0; i < blocks; ++i) {
    head[0] = static_cast<uint8_t>(i + 1);
    block(head, inputs, count, digest);
    const uint32_t take = bytes - done < suite->digestSize ? bytes - done : suite->digestSize;
    std::memcpy(out + done, digest, take);
    done += take;
  }
  return kOk;
}

// s <- seed, seedlen bits read big-endian.
void set_seed(EcDrbgState &s, const uint8_t *seed) {
  BI_setUnitsToByteString(static_cast<int32_t>(s.curve->field->unitCount), s.s, seed,
                          static_cast<int32_t>(s.seedlenBits / 8));
}

// One step of the generator: s <- x(s' P) with s' = s mod n, then (with
// r non-null) r <- x(s Q). Constant time in s.
template <class C> void step(EcDrbgState &st, bool block) {
  ec::Secret<typename C::Fe> k;
  k.v = ec::scalar_from_units<C>(st.s);
  ec::point_to_units(ec::mul_base_ct<C>(k.v), st.s, st.scratchY);
  if (!block) return;
  k.v = ec::scalar_from_units<C>(st.s);
  ec::point_to_units(ec::mul_ct<C>(k.v, ec::point_from_units<C>(st.Qx, st.Qy)), st.r, st.scratchY);
}
void run_step(EcDrbgState &st, bool block) {
  if (st.curve == EC_P256) step<C256>(st, block);
  else step<C384>(st, block);
}

void free_state(EcDrbgState &s) {
  if (s.lock != nullptr) LINUX_mutexFree(&s.lock);
  const PrimeField *f = s.curve != nullptr ? s.curve->field : nullptr;
  for (uint32_t **e : {&s.s, &s.r, &s.scratchY})
    if (*e != nullptr) PRIMEFIELD_deleteElement(f, e);
  if (s.blockBuffer != nullptr) {
    kel::mem::secure_zero(s.blockBuffer, 2 * field_bytes(s));
    void *b = s.blockBuffer;
    VOR_free(&b);
    s.blockBuffer = nullptr;
  }
}

void delete_context(RandomContext *ctx) {
  free_state(as_ecdrbg(ctx)->state);
  kel::mem::secure_zero(ctx, sizeof(EcDrbgContext));
  void *b = ctx;
  VOR_free(&b);
}

// The curve's parameters and input minimums; -17202, -17204, -17211.
int32_t configure(EcDrbgState &s, const PrimeCurve *curve, uint8_t hashId, uint32_t entropyLength,
                  uint32_t nonceLength) {
  const bool p256 = curve == EC_P256;
  if (!p256 && curve != EC_P384) return ERR_ECDRBG_BAD_CURVE;
  if (entropyLength < (p256 ? 16u : 24u) || nonceLength < (p256 ? 8u : 12u)) return ERR_ECDRBG_INPUT_TOO_SHORT;
  const bool hashOk = hashId == 14 || hashId == 11 || hashId == 12 || hashId == 13 || (p256 && hashId == 5);
  if (!hashOk) return ERR_ECDRBG_BAD_HASH;
  s.curve = curve;
  s.outlenBits = p256 ? 240 : 368;
  s.seedlenBits = p256 ? 256 : 384;
  s.Qx = p256 ? kQx256.data() : kQx384.data();
  s.Qy = p256 ? kQy256.data() : kQy384.data();
  s.hashSuite = kel::hash::suite_for_id(hashId);
  return kOk;
}

}  // namespace
}  // namespace kel::ecdrbg

using namespace kel::ecdrbg;
using kel::random::kNullPointer;
using kel::random::kOk;

int32_t NIST_ECDRBG_newContext(RandomContext **ctx, const PrimeCurve *curve, uint8_t hashId, const uint8_t *entropy,
                               uint32_t entropyLength, const uint8_t *nonce, uint32_t nonceLength,
                               const uint8_t *personalization, uint32_t personalizationLength) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || entropy == nullptr || entropyLength == 0 || nonce == nullptr || nonceLength == 0)
    return kNullPointer;
  if (entropyLength > kMaxInput || personalizationLength > kMaxInput) return ERR_ECDRBG_INPUT_TOO_LONG;
  void *block = nullptr;
  if (VOR_alloc(sizeof(EcDrbgContext), &block) != 0) return ERR_EC_OUT_OF_MEMORY;
  std::memset(block, 0, sizeof(EcDrbgContext));
  RandomContext *c = static_cast<RandomContext *>(block);
  c->kind = RANDOM_KIND_ECDRBG;
  EcDrbgState &s = as_ecdrbg(c)->state;
  kel::mem::Wiped<uint8_t[48]> seed;
  int32_t status = configure(s, curve, hashId, entropyLength, nonceLength);
  if (status == kOk) {
    const Input in[] = {{entropy, entropyLength},
                        {nonce, nonceLength},
                        {personalization, personalization != nullptr ? personalizationLength : 0}};
    status = hash_df(s.hashSuite, in, 3, s.seedlenBits, seed);
  }
  for (uint32_t **e : {&s.s, &s.r, &s.scratchY})
    if (status == kOk) status = PRIMEFIELD_newElement(curve->field, e);
  if (status == kOk) {
    void *buffer = nullptr;
    const uint32_t size = 2 * field_bytes(s);
    status = VOR_alloc(size, &buffer) == 0 ? kOk : ERR_EC_OUT_OF_MEMORY;
    if (status == kOk) std::memset(buffer, 0, size);
    s.blockBuffer = static_cast<uint8_t *>(buffer);
  }
  if (status == kOk) set_seed(s, seed);
  if (status == kOk) status = LINUX_mutexCreate(&s.lock, 0, 1);
  if (status != kOk) {
    delete_context(c);
    return status;
  }
  *ctx = c;
  return kOk;
}

int32_t NIST_ECDRBG_deleteContext(RandomContext **ctx) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || *ctx == nullptr || (*ctx)->kind != RANDOM_KIND_ECDRBG) return kNullPointer;
  delete_context(*ctx);
  *ctx = nullptr;
  return kOk;
}

int32_t NIST_ECDRBG_reseed(RandomContext *ctx, const uint8_t *entropy, uint32_t entropyLength,
                           const uint8_t *additional, uint32_t additionalLength) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || entropy == nullptr || ctx->kind != RANDOM_KIND_ECDRBG) return kNullPointer;
  EcDrbgState &s = as_ecdrbg(ctx)->state;
  kel::mem::Wiped<uint8_t[48]> seed;
  kel::mem::Wiped<uint8_t[48]> current;
  PRIMEFIELD_writeByteString(s.curve->field, s.s, current, static_cast<int32_t>(field_bytes(s)));
  const Input in[] = {{current, field_bytes(s)},
                      {entropy, entropyLength},
                      {additional, additional != nullptr ? additionalLength : 0}};
  const int32_t status = hash_df(s.hashSuite, in, 3, s.seedlenBits, seed);
  if (status == kOk) {
    set_seed(s, seed);
    s.blockCount = 0;
  }
  return status;
}

int32_t NIST_ECDRBG_generate(RandomContext *ctx, const uint8_t *additional, uint32_t additionalLength,
                             uint8_t *output, uint32_t bits) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || output == nullptr || ctx->kind != RANDOM_KIND_ECDRBG) return kNullPointer;
  EcDrbgState &s = as_ecdrbg(ctx)->state;
  const int32_t n = static_cast<int32_t>(s.curve->field->unitCount);
  const uint32_t len = field_bytes(s);
  uint32_t needed = s.blockCount + (bits + s.outlenBits - 1) / s.outlenBits;
  if (bits > 0xffffffffu - s.outlenBits) needed = s.blockCount + bits / s.outlenBits + 1;
  if (needed == s.blockCount) needed = s.blockCount + 1;
  if (s.blockCount > needed) return ERR_ECDRBG_COUNT_WRAP;
  // a = Hash_df(additional input), XORed into s before the first block only
  uint8_t seed[48] = {};
  if (additional != nullptr && additionalLength != 0) {
    const Input in[] = {{additional, additionalLength}};
    if (int32_t st = hash_df(s.hashSuite, in, 1, s.seedlenBits, seed); st != kOk) return st;
  }
  uint32_t a[12];
  BI_setUnitsToByteString(n, a, seed, static_cast<int32_t>(s.seedlenBits / 8));
  PRIMEFIELD_xor(s.curve->field, s.s, a);
  kel::mem::secure_zero(seed, sizeof seed);
  kel::mem::secure_zero(a, sizeof a);

  const uint32_t skip = (s.curve->field->bitLength - s.outlenBits + 7) / 8;
  uint32_t delivered = 0;
  int32_t status = kOk;
  do {
    run_step(s, true);  // s <- x(s P), r <- x(s Q): the modular reduction of s comes first
    PRIMEFIELD_writeByteString(s.curve->field, s.r, s.blockBuffer, static_cast<int32_t>(len));
    LINUX_mutexWait(s.lock);
    if (std::memcmp(s.blockBuffer, s.blockBuffer + len, len) == 0) {
      status = ERR_ECDRBG_CONTINUOUS_TEST;
      kel::fips::enter_error_state(status);
    } else {
      std::memcpy(s.blockBuffer + len, s.blockBuffer, len);
    }
    LINUX_mutexRelease(s.lock);
    if (status != kOk) break;
    const uint32_t remaining = bits - delivered;
    const uint32_t take = remaining >= s.outlenBits ? s.outlenBits : remaining;
    const uint32_t bytes = (take + 7) / 8;
    std::memcpy(output + delivered / 8, s.blockBuffer + skip, bytes);
    if (take % 8 != 0) output[delivered / 8 + bytes - 1] &= static_cast<uint8_t>(0xff00 >> (take % 8));
    delivered += take;
    ++s.blockCount;
  } while (delivered < bits);
  run_step(s, false);  // the state moves on once more, so the last block cannot be recomputed
  PRIMEFIELD_setToUnsigned(s.curve->field, s.r, 0);
  PRIMEFIELD_setToUnsigned(s.curve->field, s.scratchY, 0);
  kel::mem::secure_zero(s.blockBuffer, len);
  return status;
}

int32_t NIST_ECDRBG_numberGenerator(RandomContext *ctx, uint8_t *output, uint32_t length) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (length > 0xffffffffu / 8) return kBadLength;  // the bit count would not fit
  return NIST_ECDRBG_generate(ctx, nullptr, 0, output, 8 * length);
}

int32_t NIST_ECDRBG_rngFun(void *ctx, uint32_t length, uint8_t *output) {
  return NIST_ECDRBG_numberGenerator(static_cast<RandomContext *>(ctx), output, length);
}
