// Signature-algorithm identifiers built for a hash number, the plain hash
// identifiers, and identifier comparison. Identifiers are in stored form:
// length byte, then the DER content octets.
#include <cstdint>
#include <cstring>

#include "kel/oid.h"

namespace {

constexpr int32_t kOk = 0;

// Copies a stored identifier (length byte included) into out.
void copy_oid(const uint8_t *oid, uint8_t *out) { std::memcpy(out, oid, oid[0] + 1u); }

// Copies base and appends the single-octet arc (arc < 128).
void extend_oid(const uint8_t *base, uint8_t arc, uint8_t *out) {
  copy_oid(base, out);
  out[0] = static_cast<uint8_t>(base[0] + 1);
  out[base[0] + 1] = arc;
}

}  // namespace

extern "C" int32_t CRYPTO_getHashAlgoOID(int32_t hashAlgo, const uint8_t **oid) {
  if (oid == nullptr) return ERR_OID_NULL;
  switch (hashAlgo & 0xff) {
    case 4: *oid = md5_OID; return kOk;
    case 5: *oid = sha1_OID; return kOk;
    case 11: *oid = sha256_OID; return kOk;
    case 12: *oid = sha384_OID; return kOk;
    case 13: *oid = sha512_OID; return kOk;
    case 14: *oid = sha224_OID; return kOk;
    default: return ERR_OID_UNSUPPORTED;
  }
}

// sha256WithRSAEncryption and friends are pkcs-1 arcs named by the hash
// number itself (1.2.840.113549.1.1.11 for SHA-256).
extern "C" int32_t CRYPTO_getRSAHashAlgoOID(int32_t hashAlgo, uint8_t *out) {
  if (out == nullptr) return ERR_OID_NULL;
  extend_oid(pkcs1_OID, static_cast<uint8_t>(hashAlgo & 0xff), out);
  return kOk;
}

// dsa-with-sha224 and dsa-with-sha256 are arcs 1 and 2 under NIST's
// sigAlgs (2.16.840.1.101.3.4.3); SHA-1 keeps the X9.57 identifier.
extern "C" int32_t CRYPTO_getDSAHashAlgoOID(int32_t hashAlgo, uint8_t *out) {
  if (out == nullptr) return ERR_OID_NULL;
  switch (hashAlgo) {
    case 5: copy_oid(dsaWithSHA1_OID, out); return kOk;
    case 14: extend_oid(dsaWithSHA2_OID, 1, out); return kOk;
    case 11: extend_oid(dsaWithSHA2_OID, 2, out); return kOk;
    default: return ERR_OID_NO_SIGNATURE;
  }
}

// ecdsa-with-SHA224 .. -SHA512 are arcs 1 to 4 under X9.62's
// ecdsa-with-SHA2 (1.2.840.10045.4.3).
extern "C" int32_t CRYPTO_getECDSAHashAlgoOID(int32_t hashAlgo, uint8_t *out) {
  if (out == nullptr) return ERR_OID_NULL;
  switch (hashAlgo) {
    case 5: copy_oid(ecdsaWithSHA1_OID, out); return kOk;
    case 14: extend_oid(ecdsaWithSHA2_OID, 1, out); return kOk;
    case 11: extend_oid(ecdsaWithSHA2_OID, 2, out); return kOk;
    case 12: extend_oid(ecdsaWithSHA2_OID, 3, out); return kOk;
    case 13: extend_oid(ecdsaWithSHA2_OID, 4, out); return kOk;
    default: return ERR_OID_NO_SIGNATURE;
  }
}

extern "C" int32_t EqualOID(const uint8_t *a, const uint8_t *b) {
  if (a == nullptr || b == nullptr || a[0] != b[0]) return 0;
  return std::memcmp(a + 1, b + 1, a[0]) == 0 ? 1 : 0;
}
