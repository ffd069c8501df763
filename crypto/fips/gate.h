// The gate every approved algorithm passes first: while the power-up status is
// not 0, the entry returns it at once and touches nothing, not even its
// arguments.
//
//   if (int32_t s = kel::fips::gate(); s != 0) return s;
#pragma once

#include <cstdint>

#include "kel/fips.h"

namespace kel::fips {

// The status is a plain exported integer read without a lock on every thread.
inline int32_t gate() { return __atomic_load_n(&gFIPS_powerupStatus, __ATOMIC_RELAXED); }

// Records a failed self-check: the toolkit stays in the error state until a
// new power-up self-test passes.
inline void enter_error_state(int32_t status) {
  __atomic_store_n(&gFIPS_powerupStatus, status, __ATOMIC_RELAXED);
}

}  // namespace kel::fips
