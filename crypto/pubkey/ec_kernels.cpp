// The curve kernel table: the MULX/ADX Montgomery products when the CPU
// has BMI2 and ADX, the inline portable code otherwise; chosen again when
// the features change.
#include "crypto/pubkey/ec_internal.h"
#include "crypto/pubkey/x86/ec_mont_adx.h"

namespace kel::ec {

Kernels g_kernels;
std::atomic<bool> g_kernelsReady{false};

void fill_kernels() {
  constexpr auto kRelaxed = std::memory_order_relaxed;
#if defined(KEL_CT_CHECK_MSAN)
  const bool adx = false;  // MemorySanitizer cannot see through the assembly; valgrind checks it
#else
  const bool adx = mont_adx_available();
#endif
  g_kernels.mul4.store(adx ? mont_mul4_adx : nullptr, kRelaxed);
  g_kernels.mul6.store(adx ? mont_mul6_adx : nullptr, kRelaxed);
  g_kernels.mulP256.store(adx ? mont_mul_p256_adx : nullptr, kRelaxed);
  g_kernels.sqrP256.store(adx ? mont_sqr_p256_adx : nullptr, kRelaxed);
  g_kernelsReady.store(true, std::memory_order_release);
}

}  // namespace kel::ec
