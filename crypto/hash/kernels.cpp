// The hash kernel table: the block function of each digest, chosen once
// from the CPU features (the x86 kernel when the CPU has what it needs, the
// portable loop otherwise) and chosen again when the features change.
#include "crypto/hash/internal.h"
#include "crypto/hash/x86/kernels.h"

namespace kel::hash {

Kernels g_kernels;
std::atomic<bool> g_kernelsReady{false};

void fill_kernels() {
  constexpr auto kRelaxed = std::memory_order_relaxed;
  g_kernels.md5.store(md5_bmi2_available() ? md5_blocks_bmi2 : md5_blocks_portable, kRelaxed);
  g_kernels.sha1.store(sha1_shani_available() ? sha1_blocks_shani : sha1_blocks_portable, kRelaxed);
  g_kernels.sha256.store(sha256_shani_available() ? sha256_blocks_shani : sha256_blocks_portable, kRelaxed);
  g_kernels.sha512.store(sha512_avx512vl_available() ? sha512_blocks_avx512vl
                         : sha512_avx2_available()   ? sha512_blocks_avx2
                                                     : sha512_blocks_portable,
                         kRelaxed);
  g_kernels.sha256HmacTail.store(sha256_shani_available(), kRelaxed);
  g_kernelsReady.store(true, std::memory_order_release);
}

}  // namespace kel::hash
