// The curve kernel table: the MULX/ADX Montgomery products when the CPU
// has BMI2 and ADX, the portable code otherwise; chosen again when the
// features change.
#include "crypto/pubkey/ec_internal.h"

namespace kel::ec {

Kernels g_kernels;
std::atomic<bool> g_kernelsReady{false};

void fill_kernels() {
#if defined(KEL_CT_CHECK_MSAN)
  const bool adx = false;  // MemorySanitizer cannot see through the assembly; valgrind checks it
#else
  const bool adx = cpu::has(cpu::kBmi2 | cpu::kAdx);
#endif
  g_kernels.adx.store(adx, std::memory_order_relaxed);
  g_kernelsReady.store(true, std::memory_order_release);
}

}  // namespace kel::ec
