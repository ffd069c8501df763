// Run-time CPU feature detection for the hardware paths of the toolkit.
//
// Every accelerated routine asks kel::cpu::has() before it is chosen, so a
// test can switch the hardware off with kel::cpu::restrict_to(0) and run the
// same vectors through the portable code.
#pragma once

#include <cstdint>

namespace kel::cpu {

enum Feature : uint32_t {
  kSsse3 = 1u << 0,
  kSse41 = 1u << 1,
  kAesni = 1u << 2,
  kPclmul = 1u << 3,
  kSha = 1u << 4,
  kAvx = 1u << 5,
  kAvx2 = 1u << 6,
  kBmi2 = 1u << 7,
  kAvx512f = 1u << 8,
  kAvx512bw = 1u << 9,
  kAvx512vl = 1u << 10,
  kVaes = 1u << 11,
  kVpclmul = 1u << 12,
  kAdx = 1u << 13,
};

// The features this CPU and OS offer, less those switched off by restrict_to().
uint32_t features();

// True when every feature in mask is available.
inline bool has(uint32_t mask) { return (features() & mask) == mask; }

// Limits the features reported from now on to those in allowed (all bits: no
// limit). Meant for tests and benchmarks that compare paths.
void restrict_to(uint32_t allowed);

}  // namespace kel::cpu
