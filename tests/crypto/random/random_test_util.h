// Shared by the random-number tests: byte-string pointers and lengths for
// the entries (the gate-open fixture is the crypto tests' own).
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

inline const uint8_t *Ptr(const Bytes &b) { return b.empty() ? nullptr : b.data(); }
inline uint32_t Len(const Bytes &b) { return static_cast<uint32_t>(b.size()); }

}  // namespace kel::test
