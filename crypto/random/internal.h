// Shared pieces of the random-number sources: the heap layouts of the
// context kinds and the internal hooks the tests reach.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/common/mem.h"
#include "kel/ctr_drbg.h"
#include "kel/random.h"

namespace kel::random {

constexpr int32_t kOk = 0;
constexpr int32_t kNullPointer = -6001;

// A FIPS 186 context: the header, then the generator's state.
struct Fips186Context {
  RandomContext header;
  Fips186State state;
  uint32_t forkGeneration;  // process generation XKEY was last seeded in
};
static_assert(offsetof(Fips186Context, state) == 8);

// A CTR-DRBG context: header, fixed state, then V and Key in the same block.
struct CtrDrbgContext {
  RandomContext header;
  CtrDrbgState state;
  uint8_t *v() { return reinterpret_cast<uint8_t *>(this + 1); }
  uint8_t *key() { return v() + state.blockLength; }
};
static_assert(offsetof(CtrDrbgContext, state) == 8);

// The process generation: 0 in the process that loaded the toolkit, bumped
// in the child of every fork(). A generator seeded under an older generation
// shares its state with another process and must reseed from the OS before
// its next output.
uint32_t fork_generation();

inline Fips186Context *as_fips186(RandomContext *ctx) { return reinterpret_cast<Fips186Context *>(ctx); }
inline CtrDrbgContext *as_ctr(RandomContext *ctx) { return reinterpret_cast<CtrDrbgContext *>(ctx); }

}  // namespace kel::random

namespace kel::fips186 {

// Entropy injection into XKEY (no lock: see RANDOM_addEntropyBit).
int32_t add_entropy_bit(RandomContext *ctx, uint8_t bit);

}  // namespace kel::fips186

namespace kel::drbg {

// Security strength in bytes: the AES key length, or 14 (112 bits) for TDEA.
constexpr uint32_t security_strength(uint32_t keyLength) { return keyLength == 21 ? 14 : keyLength; }

// The built-in health-test vector for a key length (16, 24, 32; any other
// length takes the 32-byte one).
const DrbgTestVector &builtin_vector(uint32_t keyLength);

// The built-in vector through the derivation function (16, 24, 21 for
// TDEA; any other length takes the 32-byte one).
const DrbgTestVector &builtin_df_vector(uint32_t keyLength);

// The health test of a derivation-function instance: its known answer, then
// the refusals of too little entropy and of a missing nonce.
int32_t df_health_test(const CtrDrbgState &instance, const DrbgTestVector &vector);

// The health test of an instance with the given key length and limits,
// driven by one vector: the known answer, then the error-path checks.
int32_t health_test(const CtrDrbgState &instance, const DrbgTestVector &vector);

// The whole health test of an instance (nothing for derivation-function
// instances or those made with the no-health-test flag).
int32_t run_health_test(const CtrDrbgState &instance);

// Block_Cipher_df over up to three strings (null or empty ones left out,
// except that `always` keeps the second even when empty) into out[n].
int32_t derive(const CtrDrbgState &s, const uint8_t *a, uint32_t aLen, const uint8_t *b, uint32_t bLen,
               const uint8_t *c, uint32_t cLen, uint8_t *out, uint32_t n);

// The 24-byte triple-DES key of a 21-byte TDEA key: 8 bytes per 7-byte
// group, byte k taking bits 7k - 1 to 7k + 6 (bit -1 reads as 0).
void expand_tdea_key(const uint8_t key21[21], uint8_t out24[24]);

}  // namespace kel::drbg

namespace kel::depot {

// Read-only views for tests: the 64-byte depot, the output pool, its index
// and the last pushed bit position; and the number of depot threads that
// have not ended yet.
void snapshot(uint8_t depot[64], uint8_t pool[48], uint32_t *outputIndex, uint32_t *bitPosition);
int running_threads();
// The scramble thread's byte permutation.
uint8_t scramble_byte(uint8_t x);

}  // namespace kel::depot
