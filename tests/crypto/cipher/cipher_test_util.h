// Shared by the cipher tests: the gate opened for the test and random data
// from a fixed seed, so that a failure repeats.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "crypto/cipher/internal.h"
#include "kel/aes.h"
#include "kel/vor.h"
#include "tests/crypto/crypto_test_util.h"

namespace kel::test {

class CipherTest : public GateOpenTest {
 protected:
  size_t Uniform(size_t lo, size_t hi) { return std::uniform_int_distribution<size_t>(lo, hi)(rng_); }
  Bytes Random(size_t n) {
    Bytes b(n);
    for (auto &v : b) v = static_cast<uint8_t>(rng_());
    return b;
  }
  std::mt19937 rng_{20261205};
};

// The AES modes DoAES runs, all but ECB chained through the iv buffer.
struct ModeInfo {
  const char *prefix;  // CAVP file prefix and SP 800-38A section prefix
  const char *evp;     // OpenSSL's name
  BulkCtx (*create)(const uint8_t *, uint32_t, int32_t);
  bool ecb;
};
constexpr ModeInfo kModes[] = {{"ECB", "ECB", CreateAESECBCtx, true},
                               {"CBC", "CBC", CreateAESCtx, false},
                               {"CFB128", "CFB", CreateAESCFBCtx, false},
                               {"OFB", "OFB", CreateAESOFBCtx, false}};

inline Bytes Concat(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline uint32_t Len(const Bytes &b) { return static_cast<uint32_t>(b.size()); }

}  // namespace kel::test
