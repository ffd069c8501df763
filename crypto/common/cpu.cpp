#include "crypto/common/cpu.h"

#include <cpuid.h>

#include <atomic>

namespace kel::cpu {
namespace {

constexpr uint32_t kUnknown = 0x80000000u;

std::atomic<uint32_t> g_detected{kUnknown};
std::atomic<uint32_t> g_allowed{~0u};

uint64_t xgetbv0() {
  uint32_t lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (static_cast<uint64_t>(hi) << 32) | lo;
}

uint32_t detect() {
  unsigned a, b, c, d;
  uint32_t f = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return 0;
  if (c & bit_SSSE3) f |= kSsse3;
  if (c & bit_SSE4_1) f |= kSse41;
  if (c & bit_AES) f |= kAesni;
  if (c & bit_PCLMUL) f |= kPclmul;
  // The wide registers are usable only when the OS saves them (XCR0).
  const bool osxsave = (c & bit_OSXSAVE) != 0;
  const uint64_t xcr0 = osxsave ? xgetbv0() : 0;
  const bool ymm = (xcr0 & 0x6) == 0x6;
  const bool zmm = ymm && (xcr0 & 0xe0) == 0xe0;
  if (ymm && (c & bit_AVX)) f |= kAvx;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d)) {
    if (b & bit_SHA) f |= kSha;
    if (b & bit_BMI2) f |= kBmi2;
    if (b & bit_ADX) f |= kAdx;
    if (ymm && (b & bit_AVX2)) f |= kAvx2;
    if (zmm && (b & bit_AVX512F)) f |= kAvx512f;
    if (zmm && (b & bit_AVX512BW)) f |= kAvx512bw;
    if (zmm && (b & bit_AVX512VL)) f |= kAvx512vl;
    if (ymm && (c & bit_VAES)) f |= kVaes;
    if (ymm && (c & bit_VPCLMULQDQ)) f |= kVpclmul;
  }
  return f;
}

}  // namespace

uint32_t features() {
  uint32_t f = g_detected.load(std::memory_order_relaxed);
  if (f == kUnknown) {
    f = detect();
    g_detected.store(f, std::memory_order_relaxed);
  }
  return f & g_allowed.load(std::memory_order_relaxed);
}

void restrict_to(uint32_t allowed) { g_allowed.store(allowed, std::memory_order_relaxed); }

}  // namespace kel::cpu
