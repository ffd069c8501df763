#include "kel/fips.h"

// Not tested until the power-up self-test runs.
int32_t gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;

#include "crypto/fips/gate.h"

int32_t FIPS_powerupSelfTestStatus(void) { return kel::fips::gate(); }
