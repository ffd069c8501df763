// Run-time CPU feature detection for the hardware paths of the toolkit.
//
// Each area keeps one table of kernel pointers, filled from these features
// at first use (kel::cpu::subscribe) and filled again whenever a test or a
// benchmark switches features off with kel::cpu::restrict_to, so the same
// vectors run through every path. The environment variable KEL_CPU_DISABLE
// (read once, when the features are first detected) takes features away for
// the whole process: a comma-separated list of aesni, pclmul, vaes, vpclmul,
// sha, avx2, avx512, bmi2, adx and ifma; other names are ignored.
#pragma once

#include <atomic>
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
  kIfma = 1u << 14,  // AVX512-IFMA (52-bit multiply-add), with the ZMM state
  kBitalg = 1u << 15,  // AVX512-BITALG bit shuffles
};

// The features this CPU and OS offer, less those switched off by
// KEL_CPU_DISABLE and by restrict_to().
uint32_t features();

// True when every feature in mask is available.
inline bool has(uint32_t mask) { return (features() & mask) == mask; }

// Limits the features reported from now on to those in allowed (all bits: no
// limit). Meant for tests and benchmarks that compare paths.
void restrict_to(uint32_t allowed);

// Calls refill now, and again after every restrict_to(): the way a kernel
// table is filled at first use and kept in step with the features. At most
// eight tables; subscribing the same function twice keeps one entry.
void subscribe(void (*refill)());

// The first-use check of a kernel table whose fill function sets `ready`.
inline void ensure_filled(const std::atomic<bool> &ready, void (*fill)()) {
  if (!ready.load(std::memory_order_acquire)) [[unlikely]]
    subscribe(fill);
}

}  // namespace kel::cpu
