// Shared by the random-number tests: the gate opened as after a passed
// self-test (restored with the CPU features and the allocator afterwards).
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "crypto/common/alloc.h"
#include "kel/ctr_drbg.h"
#include "kel/fips.h"
#include "kel/random.h"
#include "kel/vor.h"
#include "support/vectors.h"
#include "tests/crypto/crypto_test_util.h"

namespace kel::test {

class GateOpenTest : public ::testing::Test {
 protected:
  void SetUp() override { gFIPS_powerupStatus = 0; }
  void TearDown() override {
    gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
    kel::cpu::restrict_to(~0u);
    kel::mem::fail_after(-1);
  }
};

inline const uint8_t *Ptr(const Bytes &b) { return b.empty() ? nullptr : b.data(); }
inline uint32_t Len(const Bytes &b) { return static_cast<uint32_t>(b.size()); }

}  // namespace kel::test
