// Shared by the cipher tests: the power-up status opened for the test, the
// code paths every vector runs through, and a watch on released contexts.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "crypto/cipher/internal.h"
#include "crypto/common/cpu.h"
#include "kel/fips.h"
#include "kel/vor.h"
#include "support/vectors.h"

namespace kel::test {

// The code paths: the table form, 128-bit AES-NI with PCLMULQDQ, and all
// that the processor has (VAES and VPCLMULQDQ on wide registers).
struct Path {
  const char *name;
  uint32_t features;
};
inline constexpr Path kPaths[] = {
    {"portable", 0},
    {"aesni", cpu::kSsse3 | cpu::kSse41 | cpu::kAesni | cpu::kPclmul | cpu::kAvx},
    {"all", ~0u},
};

// Runs body once per path, with the features limited accordingly.
template <class F>
void ForEachPath(F body) {
  for (const Path &p : kPaths) {
    SCOPED_TRACE(p.name);
    cpu::restrict_to(p.features);
    body();
  }
  cpu::restrict_to(~0u);
}

// Opens the gate for the test (the self-test is not part of these tests) and
// restores the previous status afterwards.
class CipherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = gFIPS_powerupStatus;
    gFIPS_powerupStatus = 0;
  }
  void TearDown() override {
    gFIPS_powerupStatus = saved_;
    cpu::restrict_to(~0u);
  }

 private:
  int32_t saved_ = 0;
};

// Records every released block's bytes (after the wipe, before the free).
class ReleaseWatch {
 public:
  ReleaseWatch() {
    seen().clear();
    cipher::set_release_observer([](const void *block, size_t size) {
      const auto *p = static_cast<const uint8_t *>(block);
      seen().emplace_back(p, p + size);
    });
  }
  ~ReleaseWatch() { cipher::set_release_observer(nullptr); }
  static std::vector<Bytes> &seen() {
    static std::vector<Bytes> s;
    return s;
  }
  // True when at least one block was released and every one was all zeros.
  static bool AllZeroed() {
    if (seen().empty()) return false;
    for (const Bytes &b : seen())
      for (uint8_t v : b)
        if (v != 0) return false;
    return true;
  }
};

inline Bytes Concat(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace kel::test
