// Shared pieces of the random-number tests: the open gate, the two CPU
// paths, and NIST DRBG records.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/common/cpu.h"
#include "kel/ctr_drbg.h"
#include "kel/fips.h"
#include "kel/random.h"
#include "kel/vor.h"
#include "support/vectors.h"

namespace kel::test {

// Opens the power-up gate for the test, as a passed self-test would.
class GateOpenTest : public ::testing::Test {
 protected:
  void SetUp() override { gFIPS_powerupStatus = 0; }
  void TearDown() override {
    gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
    kel::cpu::restrict_to(~0u);
  }
};

// Runs body once on the portable path and once with every CPU feature.
template <class F> void OnBothPaths(F body) {
  for (uint32_t allowed : {0u, ~0u}) {
    SCOPED_TRACE(allowed == 0 ? "portable path" : "hardware path");
    kel::cpu::restrict_to(allowed);
    body();
  }
  kel::cpu::restrict_to(~0u);
}

// The cipher of a CTR_DRBG section name such as "[AES-192 use df]".
struct DrbgSection {
  uint32_t keyLength = 0, blockLength = 0;
  bool df = false;
  static bool Parse(const RspRecord &r, DrbgSection *out) {
    for (const auto &[name, value] : r.section) {
      (void)value;
      if (name.rfind("AES-", 0) == 0 || name.rfind("3KeyTDEA", 0) == 0) {
        out->df = name.find("use df") != std::string::npos;
        if (name.rfind("3KeyTDEA", 0) == 0) {
          out->keyLength = 21;
          out->blockLength = 8;
        } else {
          out->keyLength = static_cast<uint32_t>(std::stoi(name.substr(4, 3)) / 8);
          out->blockLength = 16;
        }
        return true;
      }
    }
    return false;
  }
};

inline const uint8_t *Ptr(const Bytes &b) { return b.empty() ? nullptr : b.data(); }
inline uint32_t Len(const Bytes &b) { return static_cast<uint32_t>(b.size()); }

}  // namespace kel::test
