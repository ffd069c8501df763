// The power-up status: not tested at load, read back by the status call.
#include <gtest/gtest.h>

#include "crypto/fips/gate.h"
#include "kel/fips.h"

namespace {

class PowerupStatus : public ::testing::Test {
 protected:
  void TearDown() override { gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN; }
};

TEST_F(PowerupStatus, StartsAsNotTested) {
  EXPECT_EQ(ERR_FIPS_SELFTEST_NOT_RUN, -16508);
  EXPECT_EQ(gFIPS_powerupStatus, -16508);
  EXPECT_EQ(FIPS_powerupSelfTestStatus(), -16508);
  EXPECT_EQ(kel::fips::gate(), -16508);
}

TEST_F(PowerupStatus, ReportsWhatWasWrittenLast) {
  for (int32_t s : {0, -16507, -16525, 0, -16502}) {
    gFIPS_powerupStatus = s;
    EXPECT_EQ(FIPS_powerupSelfTestStatus(), s);
    EXPECT_EQ(kel::fips::gate(), s);
  }
  kel::fips::enter_error_state(-16504);
  EXPECT_EQ(gFIPS_powerupStatus, -16504);
  EXPECT_EQ(FIPS_powerupSelfTestStatus(), -16504);
}

}  // namespace
