#include "crypto/common/cpu.h"

#include <cpuid.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

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
    if (zmm && (b & bit_AVX512IFMA)) f |= kIfma;
    if (zmm && (c & bit_AVX512BITALG)) f |= kBitalg;
    if (ymm && (c & bit_VAES)) f |= kVaes;
    if (ymm && (c & bit_VPCLMULQDQ)) f |= kVpclmul;
  }
  return f;
}

// KEL_CPU_DISABLE: a comma-separated list of the names below; each one
// switches its features off. Unknown names are ignored.
uint32_t disabled_by_environment() {
  static constexpr struct {
    const char *name;
    uint32_t mask;
  } kNames[] = {{"aesni", kAesni}, {"pclmul", kPclmul}, {"vaes", kVaes},
                {"vpclmul", kVpclmul}, {"sha", kSha}, {"avx2", kAvx2},
                {"avx512", kAvx512f | kAvx512bw | kAvx512vl | kIfma | kBitalg}, {"bmi2", kBmi2},
                {"adx", kAdx},       {"ifma", kIfma}};
  const char *list = std::getenv("KEL_CPU_DISABLE");
  uint32_t off = 0;
  while (list != nullptr && *list != '\0') {
    const char *end = std::strchr(list, ',');
    const size_t n = end != nullptr ? static_cast<size_t>(end - list) : std::strlen(list);
    for (const auto &entry : kNames)
      if (std::strlen(entry.name) == n && std::strncmp(entry.name, list, n) == 0) off |= entry.mask;
    list = end != nullptr ? end + 1 : nullptr;
  }
  return off;
}

// The refill functions of the kernel tables (kel::cpu::subscribe).
constexpr int kMaxTables = 8;
std::atomic<void (*)()> g_tables[kMaxTables];

}  // namespace

uint32_t features() {
  uint32_t f = g_detected.load(std::memory_order_relaxed);
  if (f == kUnknown) {
    f = detect() & ~disabled_by_environment();
    g_detected.store(f, std::memory_order_relaxed);
  }
  return f & g_allowed.load(std::memory_order_relaxed);
}

void restrict_to(uint32_t allowed) {
  g_allowed.store(allowed, std::memory_order_relaxed);
  for (auto &slot : g_tables)
    if (void (*refill)() = slot.load(std::memory_order_acquire)) refill();
}

void subscribe(void (*refill)()) {
  for (auto &slot : g_tables) {
    void (*seen)() = nullptr;
    if (slot.compare_exchange_strong(seen, refill, std::memory_order_acq_rel) || seen == refill) break;
  }
  refill();
}

}  // namespace kel::cpu
