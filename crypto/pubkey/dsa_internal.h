// Internal pieces of DSA shared by its key, parameter and signature files.
#pragma once

#include <cstdint>

#include "crypto/pubkey/dh_internal.h"
#include "kel/dsa.h"

namespace kel::dsa {

using kel::bignum::Temp;
using ffc::kNull;
using ffc::kOk;

// Bytes of randomness behind x and k: 160 bits beyond q's length, so the
// reduction bias is negligible (FIPS 186-2 Appendix 3).
constexpr uint32_t kRandomBytes = 40;

// The largest q the constant-time reduction takes, in 32-bit units.
constexpr uint32_t kMaxQUnits = 16;

// Constant-time reduction modulo q of a non-negative value given as
// little-endian 32-bit words: the time depends on the word count and q's
// length only. New result in *out. -6010 for a q beyond kMaxQUnits or zero.
int32_t ct_reduce_words(const uint32_t *words, uint32_t wordCount, const vlong *q, vlong **out, vlong **queue);

// The same for big-endian bytes (the random material behind x and k).
int32_t ct_reduce_bytes(const uint8_t *bytes, uint32_t length, const vlong *q, vlong **out, vlong **queue);

// The same for a vlong, read over a fixed number of units.
int32_t ct_reduce(const vlong *x, uint32_t units, const vlong *q, vlong **out, vlong **queue);

// Releases every value of the key (x wiped first).
void release_all(DsaKeyObject *key, vlong **queue);

// Signs m: the shared body of DSA_computeSignature and DSA_computeSignatureEx.
int32_t sign(RngFun rngFun, void *rngFunArg, const DsaKeyObject *key, const vlong *m, uint32_t *verified, vlong **r,
             vlong **s, vlong **queue);

}  // namespace kel::dsa
