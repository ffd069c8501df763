// Shared by the cipher tests: the power-up status opened for the test (the
// self-test is not part of these tests) and random data from a fixed seed,
// so that a failure repeats.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "crypto/cipher/internal.h"
#include "crypto/common/alloc.h"
#include "kel/fips.h"
#include "kel/vor.h"
#include "tests/crypto/crypto_test_util.h"

namespace kel::test {

class CipherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = gFIPS_powerupStatus;
    gFIPS_powerupStatus = 0;
  }
  void TearDown() override {
    gFIPS_powerupStatus = saved_;
    cpu::restrict_to(~0u);
    mem::fail_after(-1);
  }
  size_t Uniform(size_t lo, size_t hi) { return std::uniform_int_distribution<size_t>(lo, hi)(rng_); }
  Bytes Random(size_t n) {
    Bytes b(n);
    for (auto &v : b) v = static_cast<uint8_t>(rng_());
    return b;
  }
  std::mt19937 rng_{20261205};

 private:
  int32_t saved_ = 0;
};

inline Bytes Concat(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace kel::test
