// The RSA key object: creation, release, cloning, comparison, loading from
// raw parameters, completion of the CRT values, and the key blob.
#include <initializer_list>
#include <new>

#include "crypto/bignum/internal.h"
#include "crypto/fips/gate.h"
#include "crypto/pubkey/rsa_internal.h"
#include "kel/vor.h"

namespace kel::rsa {

namespace {

constexpr uint8_t kBlobVersion = 2;
constexpr int kPublicFields = 2;
constexpr int kPrivateFields = 7;

// The blob's fields in their order: e, n, p, q, dP, dQ, qInv.
vlong **field(RsaKeyObject *key, int i) {
  vlong **fields[kPrivateFields] = {&key->publicExponent, &key->modulus,  &key->prime1,     &key->prime2,
                                    &key->exponent1,      &key->exponent2, &key->coefficient};
  return fields[i];
}

void release_helpers(RsaKeyObject *key, vlong **queue) {
  // A helper holds a copy of its prime: wipe it before it goes back.
  for (ModExpHelper **h : {&key->prime1Helper, &key->prime2Helper}) {
    if (*h == nullptr) continue;
    wipe_units((*h)->modulus);
    wipe_units((*h)->montRInverse);
    VLONG_deleteModExpHelper(h, queue);
  }
}

}  // namespace

uint32_t modulus_bytes(const RsaKeyObject *key) {
  return key->modulus == nullptr ? 0 : (VLONG_bitLength(key->modulus) + 7) / 8;
}

void release_values(RsaKeyObject *key, vlong **queue) {
  for (int i = 0; i < kPrivateFields; ++i) wipe_release(field(key, i), queue);
  release_helpers(key, queue);
  wipe_release(&key->blindingFactor, queue);
  wipe_release(&key->unblindingFactor, queue);
  key->blindingUseCount = 0;
  key->hasPrivatePart = 0;
}

int32_t set_public(RsaKeyObject *key, uint32_t exponent, const uint8_t *modulus, uint32_t modulusLength,
                   vlong **queue) {
  if (exponent < 2) return ERR_RSA_BAD_EXPONENT;
  if (modulus == nullptr) return kNull;
  if (modulusLength > INT32_MAX) return ERR_VLONG_SIZE;
  release_values(key, queue);
  if (int32_t s = VLONG_makeVlongFromUnsignedValue(exponent, &key->publicExponent, queue); s != kOk) return s;
  bignum::Temp n(queue);
  if (int32_t s = VLONG_vlongFromByteString(modulus, static_cast<int32_t>(modulusLength), n.out(), queue); s != kOk)
    return s;
  key->modulus = n.release();
  return kOk;
}

int32_t prepare(RsaKeyObject *key, vlong **queue) {
  if (!key->hasPrivatePart) return kOk;
  if (key->prime1 == nullptr || key->prime2 == nullptr || key->publicExponent == nullptr)
    return ERR_RSA_INCOMPLETE_KEY;
  // Key material, not a secret-dependent choice an attacker can vary: the
  // order is fixed per key.
  if (VLONG_compareSignedVlongs(key->prime1, key->prime2) < 0) {
    vlong *t = key->prime1;
    key->prime1 = key->prime2;
    key->prime2 = t;
    wipe_release(&key->exponent1, queue);
    wipe_release(&key->exponent2, queue);
    wipe_release(&key->coefficient, queue);
    release_helpers(key, queue);
  }
  // dP = e^-1 mod (p - 1), dQ = e^-1 mod (q - 1).
  auto crt_exponent = [&](const vlong *prime, vlong **exponent) -> int32_t {
    if (*exponent != nullptr) return kOk;
    SecretVlong less(queue);
    if (int32_t s = VLONG_makeVlongFromVlong(prime, less.out(), queue); s != kOk) return s;
    if (int32_t s = VLONG_decrement(less.get(), queue); s != kOk) return s;
    return VLONG_modularInverse(key->publicExponent, less.get(), exponent, queue);
  };
  if (int32_t s = crt_exponent(key->prime1, &key->exponent1); s != kOk) return s;
  if (int32_t s = crt_exponent(key->prime2, &key->exponent2); s != kOk) return s;
  if (key->coefficient == nullptr) {
    if (int32_t s = VLONG_modularInverse(key->prime2, key->prime1, &key->coefficient, queue); s != kOk) return s;
  }
  if (key->prime1Helper == nullptr) {
    if (int32_t s = VLONG_newModExpHelper(&key->prime1Helper, key->prime1, queue); s != kOk) return s;
  }
  if (key->prime2Helper == nullptr) {
    if (int32_t s = VLONG_newModExpHelper(&key->prime2Helper, key->prime2, queue); s != kOk) return s;
  }
  return kOk;
}

namespace {

int32_t clone(RsaKeyObject **out, const RsaKeyObject *src, vlong **queue) {
  if (src->hasPrivatePart &&
      (src->exponent1 == nullptr || src->exponent2 == nullptr || src->coefficient == nullptr ||
       src->prime1Helper == nullptr || src->prime2Helper == nullptr || src->prime1 == nullptr ||
       src->prime2 == nullptr))
    return ERR_RSA_INCOMPLETE_KEY;
  if (src->publicExponent == nullptr || src->modulus == nullptr) return kNull;
  RsaKeyObject *key = nullptr;
  if (int32_t s = RSA_createKey(&key); s != kOk) return s;
  struct Guard {
    RsaKeyObject *key;
    vlong **queue;
    ~Guard() {
      if (key != nullptr) RSA_freeKey(&key, queue);
    }
  } guard{key, queue};
  auto *from = const_cast<RsaKeyObject *>(src);  // only read
  const int fields = src->hasPrivatePart ? kPrivateFields : kPublicFields;
  for (int i = 0; i < fields; ++i) {
    if (int32_t s = VLONG_makeVlongFromVlong(*field(from, i), field(key, i), queue); s != kOk) return s;
  }
  if (src->hasPrivatePart) {
    if (int32_t s = VLONG_makeModExpHelperFromModExpHelper(src->prime1Helper, &key->prime1Helper, queue); s != kOk)
      return s;
    if (int32_t s = VLONG_makeModExpHelperFromModExpHelper(src->prime2Helper, &key->prime2Helper, queue); s != kOk)
      return s;
  }
  key->hasPrivatePart = src->hasPrivatePart;
  guard.key = nullptr;
  *out = key;
  return kOk;
}

// Minimal big-endian length of a field (0 for zero).
uint32_t field_length(const vlong *v) { return (VLONG_bitLength(v) + 7) / 8; }

int32_t parse_blob(RsaKeyObject *key, const uint8_t *blob, uint32_t blobLength, vlong **queue) {
  key->hasPrivatePart = blob[1] != 0;
  const int fields = key->hasPrivatePart ? kPrivateFields : kPublicFields;
  uint32_t at = 2;
  for (int i = 0; i < fields; ++i) {
    if (blobLength - at < 4) return ERR_RSA_BLOB_LENGTH;
    const uint32_t len = VOR_NTOHL(blob + at);
    at += 4;
    if (len > blobLength - at) return ERR_RSA_BLOB_LENGTH;
    // A zero CRT value is taken as absent, so that RSA_prepareKey computes it.
    if (len != 0 || i < 4) {
      if (len > INT32_MAX) return ERR_VLONG_SIZE;
      if (int32_t s = VLONG_vlongFromByteString(blob + at, static_cast<int32_t>(len), field(key, i), queue);
          s != kOk)
        return s;
    }
    at += len;
  }
  return prepare(key, queue);
}

}  // namespace

}  // namespace kel::rsa

using namespace kel::rsa;
using kel::fips::gate;

int32_t RSA_createKey(RsaKeyObject **key) {
  if (int32_t s = gate(); s != 0) return s;
  if (key == nullptr) return kNull;
  void *block = nullptr;
  if (VOR_alloc(sizeof(RsaKeyObject), &block) != 0 || block == nullptr) return kAlloc;
  auto *k = new (block) RsaKeyObject{};
  if (int32_t s = LINUX_mutexCreate(&k->blindingLock, 0, 0); s != kOk) {
    secure_zero(k, sizeof *k);
    VOR_free(&block);
    return s;
  }
  *key = k;
  return kOk;
}

int32_t RSA_freeKey(RsaKeyObject **key, vlong **queue) {
  if (int32_t s = gate(); s != 0) return s;
  if (key == nullptr || *key == nullptr) return kNull;
  RsaKeyObject *k = *key;
  release_values(k, queue);
  if (k->blindingLock != nullptr) LINUX_mutexFree(&k->blindingLock);
  secure_zero(k, sizeof *k);
  void *block = k;
  VOR_free(&block);
  *key = nullptr;
  return kOk;
}

int32_t RSA_cloneKey(RsaKeyObject **out, const RsaKeyObject *source, vlong **queue) {
  if (int32_t s = gate(); s != 0) return s;
  if (out == nullptr || source == nullptr) return kNull;
  return clone(out, source, queue);
}

int32_t RSA_equalKey(const RsaKeyObject *key1, const RsaKeyObject *key2, uint8_t *equal) {
  if (int32_t s = gate(); s != 0) return s;
  if (key1 == nullptr || key2 == nullptr || equal == nullptr) return kNull;
  *equal = key1->publicExponent != nullptr && key1->modulus != nullptr && key2->publicExponent != nullptr &&
           key2->modulus != nullptr && VLONG_compareSignedVlongs(key1->publicExponent, key2->publicExponent) == 0 &&
           VLONG_compareSignedVlongs(key1->modulus, key2->modulus) == 0;
  return kOk;
}

int32_t RSA_setPublicKeyParameters(RsaKeyObject *key, uint32_t exponent, const uint8_t *modulus,
                                   uint32_t modulusLength, vlong **queue) {
  if (int32_t s = gate(); s != 0) return s;
  if (key == nullptr) return ERR_RSA_BAD_KEY;
  return set_public(key, exponent, modulus, modulusLength, queue);
}

int32_t RSA_setAllKeyParameters(RsaKeyObject *key, uint32_t exponent, const uint8_t *modulus, uint32_t modulusLength,
                                const uint8_t *prime1, uint32_t prime1Length, const uint8_t *prime2,
                                uint32_t prime2Length, vlong **queue) {
  if (int32_t s = gate(); s != 0) return s;
  if (key == nullptr) return ERR_RSA_BAD_KEY;
  if (prime1 == nullptr || prime2 == nullptr) return kNull;
  if (prime1Length > INT32_MAX || prime2Length > INT32_MAX) return ERR_VLONG_SIZE;
  if (int32_t s = set_public(key, exponent, modulus, modulusLength, queue); s != kOk) return s;
  if (int32_t s = VLONG_vlongFromByteString(prime1, static_cast<int32_t>(prime1Length), &key->prime1, queue); s != kOk)
    return s;
  if (int32_t s = VLONG_vlongFromByteString(prime2, static_cast<int32_t>(prime2Length), &key->prime2, queue); s != kOk)
    return s;
  key->hasPrivatePart = 1;
  return prepare(key, queue);
}

int32_t RSA_prepareKey(RsaKeyObject *key, vlong **queue) {
  if (int32_t s = gate(); s != 0) return s;
  if (key == nullptr) return kNull;
  return prepare(key, queue);
}

int32_t RSA_getCipherTextLength(const RsaKeyObject *key, int32_t *length) {
  if (int32_t s = gate(); s != 0) return s;
  if (key == nullptr || length == nullptr || key->modulus == nullptr) return kNull;
  *length = static_cast<int32_t>(modulus_bytes(key));
  return kOk;
}

int32_t RSA_keyFromByteString(RsaKeyObject **key, const uint8_t *blob, uint32_t blobLength, vlong **queue) {
  if (int32_t s = gate(); s != 0) return s;
  if (key == nullptr || blob == nullptr) return kNull;
  if (blobLength < 2) return ERR_RSA_BLOB_LENGTH;
  if (blob[0] > kBlobVersion) return ERR_RSA_BLOB_VERSION;  // versions 0, 1 and 2 read alike
  RsaKeyObject *k = nullptr;
  if (int32_t s = RSA_createKey(&k); s != kOk) return s;
  if (int32_t s = parse_blob(k, blob, blobLength, queue); s != kOk) {
    RSA_freeKey(&k, queue);
    return s;
  }
  *key = k;
  return kOk;
}

int32_t RSA_byteStringFromKey(RsaKeyObject *key, uint8_t *destination, uint32_t *length) {
  if (int32_t s = gate(); s != 0) return s;
  if (key == nullptr || length == nullptr) return kNull;
  if (int32_t s = prepare(key, nullptr); s != kOk) return s;
  const int fields = key->hasPrivatePart ? kPrivateFields : kPublicFields;
  uint64_t total = 2;
  for (int i = 0; i < fields; ++i) {
    if (*field(key, i) == nullptr) return kNull;
    total += 4 + uint64_t{field_length(*field(key, i))};
  }
  if (total > UINT32_MAX) return ERR_VLONG_SIZE;
  const uint32_t room = *length;
  *length = static_cast<uint32_t>(total);
  if (destination == nullptr) return kOk;
  if (room < total) return ERR_RSA_BUFFER_TOO_SMALL;
  destination[0] = kBlobVersion;
  destination[1] = key->hasPrivatePart ? 1 : 0;
  uint8_t *at = destination + 2;
  for (int i = 0; i < fields; ++i) {
    const vlong *v = *field(key, i);
    int32_t len = static_cast<int32_t>(field_length(v));
    VOR_HTONL(at, static_cast<uint32_t>(len));
    at += 4;
    if (len != 0) {
      if (int32_t s = VLONG_byteStringFromVlong(v, at, &len); s != kOk) return s;
    }
    at += len;
  }
  return kOk;
}
