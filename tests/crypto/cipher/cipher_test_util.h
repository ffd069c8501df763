// Shared by the cipher tests: the power-up status opened for the test, the
// code paths every vector runs through, random data and the Wycheproof reader.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "crypto/cipher/internal.h"
#include "crypto/common/alloc.h"
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
// restores the previous status afterwards. The seed is fixed, so a failure repeats.
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

// A Wycheproof test: its own fields and those of its group (ivSize, tagSize).
using WycheproofCase = std::map<std::string, std::string>;

// Reads a Wycheproof file flat: every "name": value pair in file order; a test
// ends at its "result", and the group fields seen before it stay in force.
// Nested objects and arrays of strings (flags) carry no value and drop out.
inline std::vector<WycheproofCase> ReadWycheproof(const std::string &relative) {
  std::ifstream in(VectorPath(relative));
  const std::string s{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_FALSE(s.empty()) << relative;
  std::vector<WycheproofCase> tests;
  WycheproofCase cur;
  for (size_t i = s.find('"'); i != std::string::npos; i = s.find('"', i)) {
    const size_t close = s.find('"', i + 1);
    const std::string name = s.substr(i + 1, close - i - 1);
    size_t v = s.find_first_not_of(" \t\r\n", close + 1);
    i = close + 1;
    if (v == std::string::npos || s[v] != ':') continue;  // a string inside an array
    v = s.find_first_not_of(" \t\r\n", v + 1);
    if (s[v] == '"') {
      for (i = v + 1; s[i] != '"'; i += s[i] == '\\' ? 2 : 1) {
      }
      cur[name] = s.substr(v + 1, i - v - 1);
      ++i;
    } else {
      i = s.find_first_of(",}] \r\n", v + 1);
      cur[name] = s.substr(v, i - v);
    }
    if (name == "result") tests.push_back(cur);
  }
  return tests;
}

}  // namespace kel::test
