// CTR_DRBG of SP 800-90A (section 10.2.1) over AES or three-key TDEA, with
// and without Block_Cipher_df, plus the continuous test over output blocks.
#include <pthread.h>

#include <atomic>
#include <new>

#include "crypto/cipher/internal.h"
#include "crypto/common/ct.h"
#include "crypto/fips/gate.h"
#include "crypto/random/internal.h"
#include "kel/vor.h"

namespace kel::random {
namespace {

// Bumped in the child of every fork(): an instance seeded under an older
// generation shares its state with another process and reseeds from the OS
// before it hands out anything more.
constinit std::atomic<uint32_t> g_forkGeneration{0};
constinit pthread_once_t g_atforkOnce = PTHREAD_ONCE_INIT;

void on_fork_child() { g_forkGeneration.fetch_add(1, std::memory_order_relaxed); }
void register_atfork() { pthread_atfork(nullptr, nullptr, on_fork_child); }

}  // namespace

uint32_t fork_generation() {
  pthread_once(&g_atforkOnce, register_atfork);
  return g_forkGeneration.load(std::memory_order_relaxed);
}

}  // namespace kel::random

namespace kel::drbg {
namespace {

using random::as_ctr;
using random::CtrDrbgContext;
using random::fork_generation;
using random::kNullPointer;
using random::kOk;

constexpr uint32_t kHealthInterval = 0x1000000;
constexpr uint64_t kMaxReseedCounter = uint64_t{1} << 48;
constexpr uint64_t kMaxTdeaReseedCounter = 0xFFFFFFFFu;
constexpr uint32_t kMaxRequestBits = 0x80000;
constexpr uint32_t kMaxTdeaRequestBits = 8191;
constexpr uint32_t kMaxSeedLen = 48;

uint32_t seedlen(const CtrDrbgState &s) { return s.keyLength + s.blockLength; }

// Holds the instance lock for a scope. An instance being built has no lock
// yet and belongs to its creator alone.
class InstanceLock {
 public:
  explicit InstanceLock(MutexHandle m) : m_(m), status_(m != nullptr ? LINUX_mutexWait(m) : kOk) {}
  ~InstanceLock() {
    if (m_ != nullptr && status_ == kOk) LINUX_mutexRelease(m_);
  }
  InstanceLock(const InstanceLock &) = delete;
  InstanceLock &operator=(const InstanceLock &) = delete;
  int32_t status() const { return status_; }

 private:
  MutexHandle m_;
  int32_t status_;
};
bool is_tdea(const CtrDrbgState &s) { return s.blockLength == 8; }

int32_t aes_block(const void *ks, const uint8_t *in, uint8_t *out) {
  kel::aes::encrypt_blocks(*static_cast<const AesContext *>(ks), in, out, 1);
  return kOk;
}

int32_t tdea_block(const void *ks, const uint8_t *in, uint8_t *out) {
  return THREE_DES_encipher(static_cast<const TripleDesContext *>(ks), in, out, 8);
}

// Keys a schedule for the instance's cipher from keyLength bytes.
int32_t make_schedule(CtrDrbgKeySchedule &ks, uint32_t blockLength, uint32_t keyLength, const uint8_t *key) {
  if (blockLength == 16)
    return kel::aes::set_key(ks.aes, static_cast<int32_t>(keyLength * 8), key, 1, MODE_ECB);
  kel::mem::Wiped<uint8_t[24]> full;
  expand_tdea_key(key, full);
  return THREE_DES_initKey(&ks.tdea, full, sizeof full);
}

// V + count as one big-endian integer over all its n bytes, wrapping. V is
// secret: every byte is visited and the carry is arithmetic, never a branch.
void add(uint8_t *v, uint32_t n, uint64_t count) {
  uint64_t carry = 0;
  for (uint32_t i = n; i-- > 0;) {
    const uint64_t sum = uint64_t{v[i]} + (count & 0xFF) + carry;
    v[i] = static_cast<uint8_t>(sum);
    carry = sum >> 8;
    count >>= 8;
  }
}

void increment(uint8_t *v, uint32_t n) { add(v, n, 1); }

// CTR_DRBG_Update (10.2.1.2) with seedlen bytes of provided data.
int32_t update(CtrDrbgContext &c, const uint8_t *provided) {
  CtrDrbgState &s = c.state;
  const uint32_t n = seedlen(s);
  kel::mem::Wiped<uint8_t[kMaxSeedLen + 16]> temp;
  kel::mem::Wiped<uint8_t[16]> block;
  for (uint32_t done = 0; done < n; done += s.blockLength) {
    increment(c.v(), s.blockLength);
    if (int32_t st = s.blockEncrypt(&s.keySchedule, c.v(), block); st != kOk) return st;
    std::memcpy(temp + done, block, s.blockLength);
  }
  for (uint32_t i = 0; i < n; ++i) temp[i] ^= provided[i];
  std::memcpy(c.key(), temp, s.keyLength);
  std::memcpy(c.v(), temp + s.keyLength, s.blockLength);
  return make_schedule(s.keySchedule, s.blockLength, s.keyLength, c.key());
}

// The fixed part of a new instance; V, Key and previousBlock are zero.
int32_t allocate(uint32_t keyLength, uint32_t blockLength, CtrDrbgContext **out) {
  const uint32_t size = sizeof(CtrDrbgContext) + keyLength + blockLength;
  void *mem = nullptr;
  if (int32_t st = VOR_alloc(size, &mem); st != kOk) return st;
  std::memset(mem, 0, size);
  auto *c = new (mem) CtrDrbgContext{};
  c->header.kind = RANDOM_KIND_CTRDRBG;
  CtrDrbgState &s = c->state;
  s.blockLength = blockLength;
  s.keyLength = keyLength;
  s.blockEncrypt = blockLength == 16 ? aes_block : tdea_block;
  s.healthInterval = kHealthInterval;
  s.forkGeneration = fork_generation();
  *out = c;
  void *prev = nullptr;
  if (int32_t st = VOR_alloc(blockLength, &prev); st != kOk) return st;
  std::memset(prev, 0, blockLength);
  s.previousBlock = static_cast<uint8_t *>(prev);
  return make_schedule(s.keySchedule, blockLength, keyLength, c->key());
}

// Frees previousBlock and the lock, wipes the block, checks the wipe and
// frees it.
int32_t destroy(CtrDrbgContext *c) {
  CtrDrbgState &s = c->state;
  if (s.previousBlock != nullptr) {
    kel::mem::secure_zero(s.previousBlock, s.blockLength);
    void *prev = s.previousBlock;
    VOR_free(&prev);
  }
  if (s.lock != nullptr) LINUX_mutexFree(&s.lock);
  const size_t size = sizeof(CtrDrbgContext) + s.keyLength + s.blockLength;
  kel::mem::secure_zero(c, size);
  int32_t status = kOk;
  const volatile uint8_t *p = reinterpret_cast<const volatile uint8_t *>(c);
  for (size_t i = 0; i < sizeof(CtrDrbgContext); ++i)
    if (p[i] != 0) status = ERR_DRBG_WIPE_CHECK;
  void *mem = c;
  VOR_free(&mem);
  return status;
}

bool is_ctr(const RandomContext *ctx) { return ctx != nullptr && ctx->kind == RANDOM_KIND_CTRDRBG; }

// Compares two secret blocks without an early exit; only the verdict is
// public.
bool same_block(const uint8_t *a, const uint8_t *b, uint32_t n) {
  uint64_t x0, x1 = 0, y0, y1 = 0;
  std::memcpy(&x0, a, 8);
  std::memcpy(&y0, b, 8);
  if (n == 16) {
    std::memcpy(&x1, a + 8, 8);
    std::memcpy(&y1, b + 8, 8);
  }
  uint64_t diff = (x0 ^ y0) | (x1 ^ y1);
  KEL_DECLASSIFY(&diff, sizeof diff);
  return diff == 0;
}

// The continuous test over the blocks of one request, in output order: the
// whole blocks at out, then (when rest is set) the block `last`. No two
// consecutive blocks, the first against previousBlock, may be equal.
// Returns the index of the first repeated block through *failedAt. The
// caller holds the instance lock.
int32_t continuous_test(CtrDrbgState &s, const uint8_t *out, size_t whole, const uint8_t *last, size_t *failedAt) {
  const uint32_t bl = s.blockLength;
  const uint8_t *prev = s.previousBlock;
  const size_t total = whole + (last != nullptr ? 1 : 0);
  for (size_t i = 0; i < total; ++i) {
    const uint8_t *block = i < whole ? out + i * bl : last;
    if (same_block(block, prev, bl)) {
      if (i > 0) std::memcpy(s.previousBlock, prev, bl);
      *failedAt = i;
      fips::enter_error_state(ERR_DRBG_CONTINUOUS_TEST);
      return ERR_DRBG_CONTINUOUS_TEST;
    }
    prev = block;
  }
  if (total > 0) std::memcpy(s.previousBlock, prev, bl);
  return kOk;
}

// The output of one request: whole blocks straight into out (AES in counter
// mode, so the hardware path runs them in bulk), the last partial block via
// a copy.
int32_t produce(CtrDrbgContext &c, uint8_t *out, uint32_t bytes) {
  CtrDrbgState &s = c.state;
  const uint32_t bl = s.blockLength;
  const uint32_t whole = bytes / bl, rest = bytes % bl;
  kel::mem::Wiped<uint8_t[16]> last;
  if (bl == 16 && whole > 0) {
    kel::mem::Wiped<uint8_t[16]> counter;
    std::memcpy(counter, c.v(), 16);
    increment(counter, 16);
    std::memset(out, 0, size_t{whole} * 16);
    aes::ctr_xor_secret(s.keySchedule.aes, counter, 16, out, out, whole);
    add(c.v(), 16, whole);
  } else {
    for (uint32_t i = 0; i < whole; ++i) {
      increment(c.v(), bl);
      if (int32_t st = s.blockEncrypt(&s.keySchedule, c.v(), out + size_t{i} * bl); st != kOk) return st;
    }
  }
  if (rest != 0) {
    increment(c.v(), bl);
    if (int32_t st = s.blockEncrypt(&s.keySchedule, c.v(), last); st != kOk) return st;
  }
  size_t failedAt = 0;
  if (int32_t st = continuous_test(s, out, whole, rest != 0 ? static_cast<const uint8_t *>(last) : nullptr, &failedAt); st != kOk) {
    // Nothing from the repeated block on is handed out.
    const size_t from = failedAt * bl;
    if (from < bytes) kel::mem::secure_zero(out + from, bytes - from);
    return st;
  }
  if (rest != 0) std::memcpy(out + size_t{whole} * bl, last, rest);
  return kOk;
}

}  // namespace

void expand_tdea_key(const uint8_t key21[21], uint8_t out24[24]) {
  for (int g = 0; g < 3; ++g) {
    uint64_t bits = 0;  // the group's 56 bits, position 0 at bit 55
    for (int i = 0; i < 7; ++i) bits = bits << 8 | key21[7 * g + i];
    for (int k = 0; k < 8; ++k) out24[8 * g + k] = static_cast<uint8_t>(bits >> (49 - 7 * k));
  }
}

// Block_Cipher_df (10.3.2) with BCC (10.3.3).
int32_t derive(const CtrDrbgState &s, const uint8_t *a, uint32_t aLen, const uint8_t *b, uint32_t bLen,
               const uint8_t *c, uint32_t cLen, uint8_t *out, uint32_t n) {
  if (n > 64) return ERR_DRBG_DF_TOO_LONG;
  const uint32_t bl = s.blockLength, kl = s.keyLength;
  const uint8_t *parts[3] = {a, b, c};
  uint32_t lens[3] = {a ? aLen : 0, b ? bLen : 0, c ? cLen : 0};
  const uint32_t L = lens[0] + lens[1] + lens[2];
  const uint32_t body = (8 + L + 1 + bl - 1) / bl * bl;  // L, N, inputs, 0x80, zero padding
  const uint32_t size = bl + body;
  void *mem = nullptr;
  if (int32_t st = VOR_alloc(size, &mem); st != kOk) return st;
  auto *buf = static_cast<uint8_t *>(mem);
  std::memset(buf, 0, size);
  VOR_HTONL(buf + bl, L);
  VOR_HTONL(buf + bl + 4, n);
  uint32_t at = bl + 8;
  for (int i = 0; i < 3; ++i) {
    if (lens[i] != 0) std::memcpy(buf + at, parts[i], lens[i]);
    at += lens[i];
  }
  buf[at] = 0x80;

  kel::mem::Wiped<CtrDrbgKeySchedule> ks;
  int32_t status;
  if (bl == 16) {
    uint8_t dfKey[32];
    for (int i = 0; i < 32; ++i) dfKey[i] = static_cast<uint8_t>(i);
    status = kel::aes::set_key(ks->aes, static_cast<int32_t>(kl * 8), dfKey, 1, MODE_ECB);
  } else {
    uint8_t dfKey[24];
    for (int i = 0; i < 24; ++i) dfKey[i] = static_cast<uint8_t>(i);
    status = THREE_DES_initKey(&ks->tdea, dfKey, sizeof dfKey);
  }
  kel::mem::Wiped<uint8_t[kMaxSeedLen + 16]> temp;
  kel::mem::Wiped<uint8_t[16]> chain;
  const uint32_t need = kl + bl;
  for (uint32_t i = 0, have = 0; status == kOk && have < need; ++i, have += bl) {
    VOR_HTONL(buf, i);
    std::memset(chain, 0, sizeof chain);
    for (uint32_t off = 0; off < size && status == kOk; off += bl) {
      for (uint32_t j = 0; j < bl; ++j) chain[j] ^= buf[off + j];
      status = s.blockEncrypt(ks.get(), chain, chain);
    }
    std::memcpy(temp + have, chain, bl);
  }
  if (status == kOk) status = make_schedule(*ks, bl, kl, temp);
  uint8_t *x = temp + kl;
  for (uint32_t done = 0; status == kOk && done < n; done += bl) {
    status = s.blockEncrypt(ks.get(), x, x);
    std::memcpy(out + done, x, n - done < bl ? n - done : bl);
  }
  kel::mem::secure_zero(buf, size);
  VOR_free(&mem);
  return status;
}

}  // namespace kel::drbg

namespace kel::drbg {
namespace {

// Reseed of an instance with the health test done.
int32_t reseed(CtrDrbgContext &c, const uint8_t *entropy, uint32_t entropyLength, const uint8_t *additional,
               uint32_t additionalLength) {
  CtrDrbgState &s = c.state;
  const uint32_t n = seedlen(s);
  uint8_t seed[kMaxSeedLen] = {};
  int32_t status;
  if ((s.usesDf & 1) == 0) {
    // 10.2.1.4.1: seed_material = entropy_input XOR additional_input
    if (entropyLength != n) return ERR_DRBG_BAD_ENTROPY_LENGTH;
    if (additional != nullptr && additionalLength != 0) {
      if (additionalLength > s.maxAdditionalLength) return ERR_DRBG_ADDITIONAL_TOO_LONG;
      std::memcpy(seed, additional, additionalLength < n ? additionalLength : n);
    }
    for (uint32_t i = 0; i < n; ++i) seed[i] ^= entropy[i];
    status = kOk;
  } else {
    // 10.2.1.4.2: seed_material = df(entropy_input || additional_input), with
    // at least security_strength bits of entropy (9.2, step 2).
    if (entropyLength < security_strength(s.keyLength)) return ERR_DRBG_INPUT_TOO_SHORT;
    status = derive(s, entropy, entropyLength, additional, additionalLength, nullptr, 0, seed, n);
  }
  if (status == kOk) status = update(c, seed);
  if (status == kOk) s.reseedCounter = 1;
  kel::mem::secure_zero(seed, sizeof seed);
  return status;
}

// A fresh seed from the OS for an instance whose state another process
// shares since fork(), fed through the ordinary reseed.
int32_t reseed_after_fork(CtrDrbgContext &c) {
  CtrDrbgState &s = c.state;
  const uint32_t current = fork_generation();
  if (s.forkGeneration == current) return kOk;
  kel::mem::Wiped<uint8_t[kMaxSeedLen]> entropy;
  const uint32_t n = seedlen(s);
  int32_t status = LINUX_getSeed(entropy, static_cast<int32_t>(n)) == 1 ? kOk : ERR_RANDOM_SEED_SOURCE;
  if (status == kOk) status = reseed(c, entropy, n, nullptr, 0);
  if (status == kOk) s.forkGeneration = current;
  return status;
}

int32_t check_lengths(uint32_t keyLength, uint32_t blockLength) {
  if (blockLength == 8) return keyLength == 21 ? kOk : ERR_DRBG_BAD_KEY_LENGTH;
  if (blockLength == 16)
    return keyLength == 16 || keyLength == 24 || keyLength == 32 ? kOk : ERR_DRBG_BAD_KEY_LENGTH;
  return ERR_DRBG_BAD_BLOCK_LENGTH;
}

// Hands a finished instance over, or deletes the half-built one.
int32_t finish(CtrDrbgContext *c, int32_t status, RandomContext **out) {
  if (status == kOk) status = LINUX_mutexCreate(&c->state.lock, 0, 1);
  if (status != kOk) {
    if (c != nullptr) destroy(c);
    return status;
  }
  *out = &c->header;
  return kOk;
}

}  // namespace
}  // namespace kel::drbg

using kel::drbg::CtrDrbgContext;
using kel::random::as_ctr;
using kel::random::kNullPointer;
using kel::random::kOk;

int32_t NIST_CTRDRBG_newContext(RandomContext **ctx, const uint8_t *entropy, uint32_t entropyLength,
                                uint32_t keyLength, uint32_t blockLength, const uint8_t *personalization,
                                uint32_t personalizationLength, uint8_t flags) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || entropy == nullptr) return kNullPointer;
  *ctx = nullptr;
  const uint32_t seedlen = keyLength + blockLength;
  if (personalizationLength > seedlen) return ERR_DRBG_PERS_TOO_LONG;
  if (entropyLength != seedlen) return ERR_DRBG_BAD_ENTROPY_LENGTH;
  if (int32_t st = kel::drbg::check_lengths(keyLength, blockLength); st != kOk) return st;

  CtrDrbgContext *c = nullptr;
  int32_t status = kel::drbg::allocate(keyLength, blockLength, &c);
  if (status == kOk) {
    CtrDrbgState &s = c->state;
    s.flags = flags;
    const bool tdea = blockLength == 8;
    s.maxBitsPerRequest = tdea ? 0x2000 : 0x80000;
    s.reseedInterval = tdea ? uint64_t{1} << 33 : uint64_t{1} << 49;
    s.entropyLengthLow = s.entropyLengthHigh = s.maxAdditionalLength = keyLength + 16;
    status = kel::drbg::run_health_test(s);
  }
  // 10.2.1.3.1: Key = 0, V = 0, then the reseed of entropy XOR personalisation.
  if (status == kOk) status = NIST_CTRDRBG_reseed(&c->header, entropy, entropyLength, personalization,
                                                  personalizationLength);
  return kel::drbg::finish(c, status, ctx);
}

int32_t NIST_CTRDRBG_newDFContext(RandomContext **ctx, uint32_t keyLength, uint32_t blockLength,
                                  const uint8_t *entropy, uint32_t entropyLength, const uint8_t *nonce,
                                  uint32_t nonceLength, const uint8_t *personalization, uint32_t personalizationLength,
                                  uint8_t flags) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || entropy == nullptr) return kNullPointer;
  *ctx = nullptr;
  if (int32_t st = kel::drbg::check_lengths(keyLength, blockLength); st != kOk) return st;
  // SP 800-90A 10.2.1.3.2 with 8.6.7: entropy of the full security strength
  // and a nonce of at least half of it.
  const uint32_t strength = kel::drbg::security_strength(keyLength);
  if (entropyLength < strength || nonce == nullptr || nonceLength < strength / 2) return ERR_DRBG_INPUT_TOO_SHORT;

  CtrDrbgContext *c = nullptr;
  int32_t status = kel::drbg::allocate(keyLength, blockLength, &c);
  kel::mem::Wiped<uint8_t[48]> seed;
  if (status == kOk) {
    CtrDrbgState &s = c->state;
    s.usesDf = 1;
    s.flags = flags;
    // 10.2.1.3.2: seed_material = df(entropy_input || nonce || personalization_string)
    status = kel::drbg::derive(s, entropy, entropyLength, nonce, nonceLength, personalization,
                               personalizationLength, seed, keyLength + blockLength);
    if (status == kOk) status = kel::drbg::run_health_test(s);
    if (status == kOk) status = kel::drbg::update(*c, seed);
    if (status == kOk) s.reseedCounter = 1;
  }
  return kel::drbg::finish(c, status, ctx);
}

int32_t NIST_CTRDRBG_deleteContext(RandomContext **ctx) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || !kel::drbg::is_ctr(*ctx)) return kNullPointer;
  {
    // A request still running on another thread finishes first.
    kel::drbg::InstanceLock hold(as_ctr(*ctx)->state.lock);
  }
  int32_t status = kel::drbg::destroy(as_ctr(*ctx));
  *ctx = nullptr;
  return status;
}

int32_t NIST_CTRDRBG_reseed(RandomContext *ctx, const uint8_t *entropy, uint32_t entropyLength,
                            const uint8_t *additional, uint32_t additionalLength) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (!kel::drbg::is_ctr(ctx) || entropy == nullptr) return kNullPointer;
  CtrDrbgContext &c = *as_ctr(ctx);
  kel::drbg::InstanceLock hold(c.state.lock);
  if (hold.status() != kOk) return hold.status();
  if (int32_t st = kel::drbg::run_health_test(c.state); st != kOk) return st;
  int32_t status = kel::drbg::reseed(c, entropy, entropyLength, additional, additionalLength);
  // The caller's entropy is fresh in this process as well.
  if (status == kOk) c.state.forkGeneration = kel::random::fork_generation();
  return status;
}

int32_t NIST_CTRDRBG_generate(RandomContext *ctx, const uint8_t *additional, uint32_t additionalLength,
                              uint8_t *output, uint32_t bits, uint8_t flags) {
  using namespace kel::drbg;
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (!is_ctr(ctx) || output == nullptr) return kNullPointer;
  CtrDrbgContext &c = *as_ctr(ctx);
  CtrDrbgState &s = c.state;
  // V, Key, the schedule and the counters change together: one request at a time.
  InstanceLock hold(s.lock);
  if (hold.status() != kOk) return hold.status();
  if (int32_t st = reseed_after_fork(c); st != kOk) return st;
  // 10.2.1.5: the instance refuses output until it is reseeded.
  if (s.reseedCounter >= kMaxReseedCounter || (is_tdea(s) && s.reseedCounter > kMaxTdeaReseedCounter))
    return ERR_DRBG_RESEED_REQUIRED;
  if (bits >= kMaxRequestBits || (is_tdea(s) && bits > kMaxTdeaRequestBits)) return ERR_DRBG_REQUEST_TOO_LARGE;
  if ((flags & CTRDRBG_FLAG_NO_HEALTH_TEST) == 0 && ++s.healthCount >= s.healthInterval) {
    if (int32_t st = run_health_test(s); st != kOk) return st;
    s.healthCount = 0;
  }
  const uint32_t n = seedlen(s);
  uint8_t provided[kMaxSeedLen] = {};
  int32_t status = kOk;
  if (additional != nullptr && additionalLength != 0) {
    if ((s.usesDf & 1) == 0) {
      if (additionalLength > s.maxAdditionalLength) return ERR_DRBG_ADDITIONAL_TOO_LONG;
      std::memcpy(provided, additional, additionalLength < n ? additionalLength : n);
    } else {
      status = derive(s, additional, additionalLength, nullptr, 0, nullptr, 0, provided, n);
    }
    if (status == kOk) status = update(c, provided);
  }
  if (status == kOk) status = produce(c, output, (bits + 7) / 8);
  if (status == kOk) status = update(c, provided);
  if (status == kOk) ++s.reseedCounter;
  kel::mem::secure_zero(provided, sizeof provided);
  return status;
}

int32_t NIST_CTRDRBG_numberGenerator(RandomContext *ctx, uint8_t *buffer, uint32_t length) {
  // A byte count whose bits do not fit the request limit is refused, not wrapped.
  const uint64_t bits = uint64_t{length} * 8;
  return NIST_CTRDRBG_generate(ctx, nullptr, 0, buffer, bits > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(bits),
                               0);
}

int32_t NIST_CTRDRBG_rngFun(void *ctx, uint32_t length, uint8_t *buffer) {
  return NIST_CTRDRBG_numberGenerator(static_cast<RandomContext *>(ctx), buffer, length);
}
