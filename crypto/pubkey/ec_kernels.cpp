// The curve kernel table: the MULX/ADX Montgomery products when the CPU
// has BMI2 and ADX, AVX2 table lookups when it has AVX2, the portable code
// otherwise; chosen again when the features change.
#include "crypto/pubkey/ec_internal.h"

namespace kel::ec {

Kernels g_kernels;
std::atomic<bool> g_kernelsReady{false};

void fill_kernels() {
#if defined(KEL_CT_CHECK_MSAN)
  const bool adx = false, avx2 = false;  // MemorySanitizer cannot see through them; valgrind checks them
#else
  const bool adx = cpu::has(cpu::kBmi2 | cpu::kAdx), avx2 = cpu::has(cpu::kAvx2);
#endif
  g_kernels.adx.store(adx, std::memory_order_relaxed);
  g_kernels.avx2.store(avx2, std::memory_order_relaxed);
  g_kernelsReady.store(true, std::memory_order_release);
}

}  // namespace kel::ec
