// The power-up status: not tested at load, read back by the status call,
// and visible to every thread without a lock.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

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

TEST_F(PowerupStatus, AFailureWrittenOnOneThreadClosesTheGateOnOthers) {
  gFIPS_powerupStatus = 0;
  std::atomic<bool> stop{false};
  std::atomic<int> sawFailure{0};
  std::vector<std::thread> readers;
  for (int i = 0; i < 3; ++i)
    readers.emplace_back([&] {
      while (!stop.load()) {
        if (kel::fips::gate() == -16525) {
          sawFailure.fetch_add(1);
          return;
        }
      }
    });
  std::thread writer([] { kel::fips::enter_error_state(-16525); });
  writer.join();
  for (int spins = 0; sawFailure.load() < 3 && spins < 1000000; ++spins) std::this_thread::yield();
  stop = true;
  for (auto &t : readers) t.join();
  EXPECT_EQ(sawFailure.load(), 3);
}

}  // namespace
