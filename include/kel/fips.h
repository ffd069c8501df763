/* Power-up status: the verdict of the self-test that gates every approved
 * algorithm. */
#ifndef KEL_FIPS_H
#define KEL_FIPS_H

#include <stdint.h>

#include "kel/export.h"

KEL_BEGIN_DECLS

/* The self-test has not run yet: the value at load. */
#define ERR_FIPS_SELFTEST_NOT_RUN (-16508)

KEL_API extern int32_t gFIPS_powerupStatus;

KEL_API int32_t FIPS_powerupSelfTestStatus(void);

KEL_END_DECLS

#endif /* KEL_FIPS_H */
