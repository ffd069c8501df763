// DES rounds with the AVX-512 bit shuffles (BITALG's VPSHUFBITQMB), for
// processors that have them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/common/cpu.h"

namespace kel::des::avx512 {

inline bool available() {
  return cpu::has(cpu::kAvx512f | cpu::kAvx512bw | cpu::kAvx512vl | cpu::kBitalg);
}

// des::RoundsKernel: n (1 or 2) blocks in the IP domain, single DES when k2 is
// null, else k1, k2 (on the swapped halves) and k3.
void rounds(uint32_t *l, uint32_t *r, size_t n, const uint32_t *k1, const uint32_t *k2, const uint32_t *k3);

}  // namespace kel::des::avx512
