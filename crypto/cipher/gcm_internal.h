// The GCM context as allocated (the public record first, then the powers of H
// the carry-less paths use) and the GHASH engines.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kel/gcm.h"

namespace kel::gcm {

constexpr int kPowers = 16;
// Keystream blocks computed beside the tag mask when a message starts.
constexpr uint32_t kPrecomputed = 4;

struct GcmState {
  GcmContext pub;
  // H^1..H^16 byte-reflected for PCLMULQDQ, filled on first hardware use.
  alignas(16) uint8_t hpow[kPowers][16];
  // The same powers from H^16 down to H^1: four to a 512-bit register.
  alignas(16) uint8_t hrev[kPowers][16];
  // The round keys as the AES instructions take them (each schedule word
  // big-endian), laid out once when the context is keyed.
  alignas(16) uint8_t aesKeys[15][16];
  // The keystream of counters J0 + 1 .. J0 + kPrecomputed, of which the last
  // ksAvail are still unused (0 once the message has taken another path).
  alignas(16) uint8_t keystream[kPrecomputed][16];
  uint32_t ksAvail;
  uint32_t powersReady;
};

// Absorbs n whole blocks into X (four big-endian words, GcmContext order).
void ghash_blocks(GcmState &s, uint32_t X[4], const uint8_t *data, size_t n);

// The portable constant-time form (ghash_ct.cpp), over H as four words.
namespace portable {
void ghash(const uint32_t H[4], uint32_t X[4], const uint8_t *data, size_t n);
}  // namespace portable

// Carry-less forms (x86/ghash_clmul.cpp), and the wide ones; the kernel
// table (kernels.cpp) takes them when available().
namespace clmul {
bool available();
void init_powers(GcmState &s);
void ghash(const uint8_t hpow[kPowers][16], uint32_t X[4], const uint8_t *data, size_t n);
}  // namespace clmul

namespace vpclmul {
bool available();
// n is a multiple of 16.
void ghash(const uint8_t hrev[kPowers][16], uint32_t X[4], const uint8_t *data, size_t n);
}  // namespace vpclmul

}  // namespace kel::gcm
