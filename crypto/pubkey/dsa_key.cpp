// DSA key objects: creation and release, copies and comparison, loading
// from raw parameters, and the mpint key blob.
#include <cstring>

#include "crypto/bignum/internal.h"
#include "crypto/fips/gate.h"
#include "crypto/pubkey/dsa_internal.h"

namespace kel::dsa {

void release_all(DsaKeyObject *key, vlong **queue) {
  ffc::release_vlong(&key->p, queue, false);
  ffc::release_vlong(&key->q, queue, false);
  ffc::release_vlong(&key->g, queue, false);
  ffc::release_vlong(&key->y, queue, false);
  ffc::release_vlong(&key->x, queue, true);
}

}  // namespace kel::dsa

namespace {

using kel::bignum::Temp;
using kel::dsa::kNull;
using kel::dsa::kOk;

// A new vlong from unsigned big-endian bytes (secret ones are wiped if the
// load fails half-way).
int32_t load(const uint8_t *bytes, uint32_t length, vlong **out, vlong **queue, bool secret) {
  if (length > 0x7fffffffu) return ERR_VLONG_SIZE;
  kel::bignum::Temp v(queue, secret);
  if (int32_t s = VLONG_vlongFromByteString(bytes, static_cast<int32_t>(length), v.fresh(), queue); s != kOk) return s;
  *out = v.release();
  return kOk;
}

// Copies src's value (null stays null).
int32_t copy_value(const vlong *src, vlong **out) {
  if (src == nullptr) return kOk;
  return VLONG_makeVlongFromVlong(src, out, nullptr);
}

bool equal_values(const vlong *a, const vlong *b) {
  if (a == nullptr || b == nullptr) return a == b;
  return VLONG_compareSignedVlongs(a, b) == 0;
}

// Reads one mpint of a key blob. Running short of bytes, before the length
// field or inside the value, is a malformed blob.
int32_t read_mpint(const uint8_t *blob, uint32_t length, uint32_t *offset, vlong **out) {
  const uint32_t left = length - *offset;
  if (left < 4) return ERR_DSA_BAD_BLOB;
  const uint8_t *at = blob + *offset;
  const uint32_t stated = (static_cast<uint32_t>(at[0]) << 24) | (static_cast<uint32_t>(at[1]) << 16) |
                          (static_cast<uint32_t>(at[2]) << 8) | at[3];
  if (stated > left - 4) return ERR_DSA_BAD_BLOB;
  int32_t used = 0;
  if (int32_t s = VLONG_newFromMpintBytes(at, left, out, &used); s != kOk) return s;
  *offset += static_cast<uint32_t>(used);
  return kOk;
}

// An mpint encoding from VLONG_mpintByteStringFromVlong, wiped and freed
// with the scope (the one of x is secret).
struct Encoding {
  uint8_t *bytes = nullptr;
  int32_t length = 0;
  ~Encoding() {
    if (bytes != nullptr) {
      kel::ffc::secure_zero(bytes, static_cast<size_t>(length));
      void *b = bytes;
      VOR_free(&b);
    }
  }
};

}  // namespace

extern "C" int32_t DSA_createKey(DsaKeyObject **out) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (out == nullptr) return kNull;
  DsaKeyObject *key = kel::mem::make<DsaKeyObject>();
  if (key == nullptr) return ERR_DSA_ALLOC;
  *out = key;
  return kOk;
}

extern "C" int32_t DSA_freeKey(DsaKeyObject **key, vlong **queue) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (key == nullptr || *key == nullptr) return kNull;
  kel::dsa::release_all(*key, queue);
  kel::mem::destroy(key);
  return kOk;
}

extern "C" int32_t DSA_cloneKey(DsaKeyObject **out, const DsaKeyObject *src) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (out == nullptr || src == nullptr) return kNull;
  DsaKeyObject *copy = nullptr;
  if (int32_t s = DSA_createKey(&copy); s != kOk) return s;
  int32_t s = copy_value(src->p, &copy->p);
  if (s == kOk) s = copy_value(src->q, &copy->q);
  if (s == kOk) s = copy_value(src->g, &copy->g);
  if (s == kOk) s = copy_value(src->y, &copy->y);
  if (s == kOk) s = copy_value(src->x, &copy->x);
  if (s != kOk) {
    DSA_freeKey(&copy, nullptr);
    return s;
  }
  *out = copy;
  return kOk;
}

extern "C" int32_t DSA_equalKey(const DsaKeyObject *a, const DsaKeyObject *b, uint8_t *equal) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (a == nullptr || b == nullptr || equal == nullptr) return kNull;
  *equal = equal_values(a->p, b->p) && equal_values(a->q, b->q) && equal_values(a->g, b->g) &&
                   equal_values(a->y, b->y)
               ? 1
               : 0;
  return kOk;
}

extern "C" int32_t DSA_setPublicKeyParameters(DsaKeyObject *key, const uint8_t *p, uint32_t pLength,
                                              const uint8_t *q, uint32_t qLength, const uint8_t *g, uint32_t gLength,
                                              const uint8_t *y, uint32_t yLength, vlong **queue) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (key == nullptr || p == nullptr || q == nullptr || g == nullptr || y == nullptr) return kNull;
  kel::dsa::release_all(key, queue);
  int32_t s = load(p, pLength, &key->p, queue, false);
  if (s == kOk) s = load(q, qLength, &key->q, queue, false);
  if (s == kOk) s = load(g, gLength, &key->g, queue, false);
  if (s == kOk) s = load(y, yLength, &key->y, queue, false);
  if (s != kOk) kel::dsa::release_all(key, queue);
  return s;
}

extern "C" int32_t DSA_setAllKeyParameters(DsaKeyObject *key, const uint8_t *p, uint32_t pLength, const uint8_t *q,
                                           uint32_t qLength, const uint8_t *g, uint32_t gLength, const uint8_t *x,
                                           uint32_t xLength, vlong **queue) {
  if (key == nullptr || p == nullptr || q == nullptr || g == nullptr || x == nullptr) return kNull;
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  kel::dsa::release_all(key, queue);
  int32_t s = load(p, pLength, &key->p, queue, false);
  if (s == kOk) s = load(q, qLength, &key->q, queue, false);
  if (s == kOk) s = load(g, gLength, &key->g, queue, false);
  if (s == kOk) s = load(x, xLength, &key->x, queue, true);
  if (s == kOk) s = kel::ffc::pow_secret_exponent(key->g, key->x, key->p, &key->y, queue);
  if (s != kOk) kel::dsa::release_all(key, queue);
  return s;
}

extern "C" int32_t DSA_getCipherTextLength(const DsaKeyObject *key, int32_t *length) {
  if (key == nullptr || length == nullptr || key->p == nullptr) return kNull;
  *length = static_cast<int32_t>((VLONG_bitLength(key->p) + 7) / 8);
  return kOk;
}

extern "C" int32_t DSA_makeKeyBlob(const DsaKeyObject *key, uint8_t *dest, uint32_t *length) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (key == nullptr || length == nullptr) return kNull;
  if (key->p == nullptr || key->q == nullptr || key->g == nullptr || key->y == nullptr) return kNull;
  const vlong *values[] = {key->p, key->q, key->g, key->y, key->x};
  Encoding encodings[5];
  uint32_t total = 0;
  for (int i = 0; i < 5 && values[i] != nullptr; ++i) {
    if (int32_t s = VLONG_mpintByteStringFromVlong(values[i], &encodings[i].bytes, &encodings[i].length); s != kOk)
      return s;
    total += static_cast<uint32_t>(encodings[i].length);
  }
  if (dest != nullptr) {
    for (const auto &e : encodings) {
      if (e.bytes == nullptr) break;
      std::memcpy(dest, e.bytes, static_cast<size_t>(e.length));
      dest += e.length;
    }
  }
  *length = total;
  return kOk;
}

extern "C" int32_t DSA_extractKeyBlob(DsaKeyObject **out, const uint8_t *blob, uint32_t length) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (out == nullptr || blob == nullptr) return kNull;
  if (length == 0) return ERR_DSA_BAD_BLOB;
  if (int32_t s = DSA_createKey(out); s != kOk) return s;
  DsaKeyObject *key = *out;
  uint32_t offset = 0;
  vlong **publicValues[] = {&key->p, &key->q, &key->g, &key->y};
  for (vlong **slot : publicValues)
    if (int32_t s = read_mpint(blob, length, &offset, slot); s != kOk) return s;
  if (offset == length) return kOk;  // a public key
  if (int32_t s = read_mpint(blob, length, &offset, &key->x); s != kOk) return s;
  return offset == length ? kOk : ERR_DSA_BAD_BLOB;
}
