// Shared pieces of the self-tests: status constants, the stored-value
// decoder, the fault bytes the break tests patch, and the failure writer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "crypto/common/mem.h"
#include "crypto/fips/gate.h"
#include "kel/ctr_drbg.h"
#include "kel/ec.h"
#include "kel/fips.h"
#include "kel/vor.h"

// Never defined: a call to it stops a constant evaluation.
void fips_not_a_hex_digit();

namespace kel::fips {

constexpr int32_t kOk = 0;
constexpr int32_t kNoMemory = -6101;

// Stored values are written as the sources print them, in hex, and kept in
// the library as plain bytes (so a patched copy can break them).
template <size_t N>
consteval std::array<uint8_t, N> hex(const char (&text)[2 * N + 1]) {
  auto nibble = [](char c) -> uint8_t {
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
    fips_not_a_hex_digit();
    return 0;
  };
  std::array<uint8_t, N> out{};
  for (size_t i = 0; i < N; ++i) out[i] = static_cast<uint8_t>(nibble(text[2 * i]) << 4 | nibble(text[2 * i + 1]));
  return out;
}

// The pointer as the optimiser cannot see through it: a stored value read
// through it stays in the library as bytes (and a patched copy is seen).
template <class T>
inline const T *opaque(const T *p) {
  __asm__("" : "+r"(p));
  return p;
}

// One stored expected value of a known-answer test: the name of the run
// that compares with it, the bytes that locate it in the library file (the
// value, or its record's input followed by the value), where the value
// starts within them, and the power-up verdict when it is wrong.
struct StoredValue {
  const char *name;
  const uint8_t *located;
  uint32_t locatedLength;
  uint32_t offset, length;
  int32_t status;
};
std::span<const StoredValue> stored_values();

// A failing test puts the toolkit into the error state and returns its
// status.
inline int32_t fail(int32_t status) {
  enter_error_state(status);
  return status;
}

// Fault bytes of the pairwise-consistency tests without stored keys, read at
// run time: '0' in every build. A break test patches one of them in a copy
// of the library, which makes that test corrupt its own result before it
// checks it (the DSA and RSA tests are broken through their stored keys).
enum class Pct { kEcdsa = 0, kEcdh, kDh };

// One ECDH agreement between two fresh key pairs (pairwise-consistency
// step); forceFail 1 flips the lowest bit of the first secret byte.
int32_t ecdh_check(const PrimeCurve *curve, RandomContext *rng, int32_t forceFail);
bool pct_fault(Pct which);

// The stored keys of the DSA and RSA tests (key blobs).
std::span<const uint8_t> dsa_key_blob();
std::span<const uint8_t> rsa_key_blob();

// A block from the toolkit allocator, wiped and released when it goes out
// of scope.
template <class T = uint8_t>
struct HeapBlock {
  T *p = nullptr;
  size_t n = 0;  // bytes to wipe
  ~HeapBlock() {
    if (p == nullptr) return;
    mem::secure_zero(p, n);
    void *v = p;
    VOR_free(&v);
  }
};

}  // namespace kel::fips
