// The prime fields P-256 and P-384: their records with the FIPS 186-4 D.2
// fast reductions and (p + 1) / 4 square roots, and the element operations.
#include "crypto/bignum/field_internal.h"
#include "crypto/fips/gate.h"
#include "kel/vor.h"

namespace kel::pf {
namespace {

constexpr uint32_t kP256[8] = {0xffffffff, 0xffffffff, 0xffffffff, 0x00000000,
                               0x00000000, 0x00000000, 0x00000001, 0xffffffff};
constexpr uint32_t kP384[12] = {0xffffffff, 0x00000000, 0x00000000, 0xffffffff, 0xfffffffe, 0xffffffff,
                                0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff};

// (p + 1) / 4, the square-root exponent of a prime = 3 mod 4.
template <size_t N> consteval std::array<uint32_t, N> sqrt_exponent(const uint32_t (&p)[N]) {
  std::array<uint32_t, N> e{};
  uint64_t carry = 1;
  for (size_t i = 0; i < N; ++i) {
    carry += p[i];
    e[i] = static_cast<uint32_t>(carry);
    carry >>= 32;
  }
  for (size_t i = 0; i < N; ++i) e[i] = (e[i] >> 2) | (i + 1 < N ? e[i + 1] << 30 : uint32_t(carry) << 30);
  return e;
}
constexpr auto kSqrtExp256 = sqrt_exponent(kP256);
constexpr auto kSqrtExp384 = sqrt_exponent(kP384);
static_assert(kSqrtExp256[7] == 0x3fffffff && kSqrtExp256[0] == 0 && kSqrtExp256[2] == 0x40000000);
static_assert(kSqrtExp384[11] == 0x3fffffff && kSqrtExp384[0] == 0x40000000);

// The reduction terms of FIPS 186-4 D.2.3 / D.2.4, most significant word
// first as in the standard; -1 is a zero word.
using Term256 = std::array<int8_t, 8>;
constexpr Term256 kAdd256[] = {
    {15, 14, 13, 12, 11, -1, -1, -1},  // S1 (twice)
    {15, 14, 13, 12, 11, -1, -1, -1},  //
    {-1, 15, 14, 13, 12, -1, -1, -1},  // S2 (twice)
    {-1, 15, 14, 13, 12, -1, -1, -1},  //
    {15, 14, -1, -1, -1, 10, 9, 8},    // S3
    {8, 13, 15, 14, 13, 11, 10, 9},    // S4
};
constexpr Term256 kSub256[] = {
    {10, 8, -1, -1, -1, 13, 12, 11},   // D1
    {11, 9, -1, -1, 15, 14, 13, 12},   // D2
    {12, -1, 10, 9, 8, 15, 14, 13},    // D3
    {13, -1, 11, 10, 9, -1, 15, 14},   // D4
};
using Term384 = std::array<int8_t, 12>;
constexpr Term384 kAdd384[] = {
    {-1, -1, -1, -1, -1, 23, 22, 21, -1, -1, -1, -1},  // S1 (twice)
    {-1, -1, -1, -1, -1, 23, 22, 21, -1, -1, -1, -1},  //
    {23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13, 12},  // S2
    {20, 19, 18, 17, 16, 15, 14, 13, 12, 23, 22, 21},  // S3
    {19, 18, 17, 16, 15, 14, 13, 12, 20, -1, 23, -1},  // S4
    {-1, -1, -1, -1, 23, 22, 21, 20, -1, -1, -1, -1},  // S5
    {-1, -1, -1, -1, -1, -1, 23, 22, 21, -1, -1, 20},  // S6
};
constexpr Term384 kSub384[] = {
    {22, 21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 23},  // D1
    {-1, -1, -1, -1, -1, -1, -1, 23, 22, 21, 20, -1},  // D2
    {-1, -1, -1, -1, -1, -1, -1, 23, 23, -1, -1, -1},  // D3
};

// result <- T, then each S added and each D subtracted modulo p; a last
// subtraction brings the value below p.
template <size_t N, size_t A, size_t D>
void fast_reduce(const uint32_t *c, uint32_t *result, const uint32_t *p, const std::array<int8_t, N> (&adds)[A],
                 const std::array<int8_t, N> (&subs)[D]) {
  constexpr int32_t n = N;
  uint32_t term[N];
  auto load = [&](const std::array<int8_t, N> &t) {
    for (size_t i = 0; i < N; ++i) term[i] = t[N - 1 - i] < 0 ? 0 : c[t[N - 1 - i]];
  };
  for (size_t i = 0; i < N; ++i) result[i] = c[i];
  for (const auto &t : adds) {
    load(t);
    mod_add(n, result, term, p);
  }
  for (const auto &t : subs) {
    load(t);
    mod_sub(n, result, term, p);
  }
  while (BI_cmp(n, result, p) >= 0) BI_sub(n, result, p);
  secure_zero(term, sizeof term);
}

void reduce256(uint32_t *product, uint32_t *result, const PrimeField *, uint32_t *) {
  fast_reduce<8>(product, result, kP256, kAdd256, kSub256);
}
void reduce384(uint32_t *product, uint32_t *result, const PrimeField *, uint32_t *) {
  fast_reduce<12>(product, result, kP384, kAdd384, kSub384);
}

// result <- a^((p + 1) / 4) by right-to-left square and multiply over all
// 32n exponent bits, through the field's reduction.
void sqrt_by_exponent(const uint32_t *a, uint32_t *result, const PrimeField *f, const uint32_t *exponent) {
  const int32_t n = static_cast<int32_t>(f->unitCount);
  void *block = nullptr;
  if (VOR_alloc(static_cast<uint32_t>(4 * n * sizeof(uint32_t)), &block) != 0) return;
  uint32_t *product = static_cast<uint32_t *>(block);
  uint32_t *t = product + 2 * n, *acc = t + n;
  for (int32_t i = 0; i < n; ++i) {
    t[i] = a[i];
    acc[i] = (exponent[0] & 1) ? a[i] : (i == 0);
  }
  for (int32_t i = 1; i < 32 * n; ++i) {
    BI_sqr(n, product, t, 2 * n);
    f->reduceFunc(product, t, f, nullptr);
    if ((exponent[i / 32] >> (i % 32)) & 1) {
      BI_mul(n, product, acc, t, 2 * n);
      f->reduceFunc(product, acc, f, nullptr);
    }
  }
  for (int32_t i = 0; i < n; ++i) result[i] = acc[i];
  secure_zero(block, 4 * n * sizeof(uint32_t));
  VOR_free(&block);
}

void sqrt256(const uint32_t *a, uint32_t *result, const PrimeField *f) {
  sqrt_by_exponent(a, result, f, kSqrtExp256.data());
}
void sqrt384(const uint32_t *a, uint32_t *result, const PrimeField *f) {
  sqrt_by_exponent(a, result, f, kSqrtExp384.data());
}


// Binary inversion extended to division (x / a mod m), on 4n units of
// working copies: u, v, x1, x2. A zero (or multiple of m) input gives -6002.
int32_t binary_divide(int32_t n, uint32_t *result, const uint32_t *x, const uint32_t *a, const uint32_t *m) {
  void *block = nullptr;
  if (VOR_alloc(static_cast<uint32_t>(4 * n * sizeof(uint32_t)), &block) != 0) return ERR_PF_OUT_OF_MEMORY;
  uint32_t *u = static_cast<uint32_t *>(block), *v = u + n, *x1 = v + n, *x2 = x1 + n;
  auto is_one = [n](const uint32_t *w) {
    uint32_t acc = w[0] ^ 1;
    for (int32_t i = 1; i < n; ++i) acc |= w[i];
    return acc == 0;
  };
  auto is_zero = [n](const uint32_t *w) {
    uint32_t acc = 0;
    for (int32_t i = 0; i < n; ++i) acc |= w[i];
    return acc == 0;
  };
  // x1 <- x1 / 2 mod m; an odd value takes m first, its carry the new top bit.
  auto halve = [n, m](uint32_t *w) {
    uint32_t carry = (w[0] & 1) ? BI_add(n, w, m) : 0;
    BI_shiftREx(n, w, 1);
    w[n - 1] |= carry << 31;
  };
  for (int32_t i = 0; i < n; ++i) {
    u[i] = a[i];
    v[i] = m[i];
    x1[i] = x[i];
    x2[i] = 0;
  }
  while (BI_cmp(n, u, m) >= 0) BI_sub(n, u, m);
  while (BI_cmp(n, x1, m) >= 0) BI_sub(n, x1, m);
  int32_t status = kOk;
  if (is_zero(u)) status = ERR_PF_DIVIDE_BY_ZERO;
  while (status == kOk && !is_one(u) && !is_one(v)) {
    while ((u[0] & 1) == 0) {
      BI_shiftREx(n, u, 1);
      halve(x1);
    }
    while ((v[0] & 1) == 0) {
      BI_shiftREx(n, v, 1);
      halve(x2);
    }
    if (BI_cmp(n, u, v) < 0) {
      BI_sub(n, v, u);
      mod_sub(n, x2, x1, m);
    } else {
      BI_sub(n, u, v);
      mod_sub(n, x1, x2, m);
    }
    if (is_zero(u) || is_zero(v)) status = ERR_PF_DIVIDE_BY_ZERO;  // no inverse: gcd(a, m) > 1
  }
  if (status == kOk) {
    const uint32_t *r = is_one(u) ? x1 : x2;
    for (int32_t i = 0; i < n; ++i) result[i] = r[i];
  }
  secure_zero(block, 4 * n * sizeof(uint32_t));
  VOR_free(&block);
  return status;
}

inline int32_t units(const PrimeField *f) { return static_cast<int32_t>(f->unitCount); }

int32_t write_bytes(const PrimeField *f, const uint32_t *e, uint8_t *out, int32_t outLength) {
  const int32_t len = static_cast<int32_t>(byte_length(f));
  if (outLength < len) return ERR_PF_BUFFER_TOO_SMALL;
  const int32_t pad = outLength - len;
  std::memset(out, 0, static_cast<size_t>(pad));
  for (int32_t i = 0; i < len; ++i) out[outLength - 1 - i] = static_cast<uint8_t>(e[i / 4] >> (8 * (i % 4)));
  return kOk;
}

int32_t import_bytes(const PrimeField *f, uint32_t *e, const uint8_t *bytes, int32_t length) {
  while (length > 0 && *bytes == 0) {
    ++bytes;
    --length;
  }
  if (length > 4 * units(f)) return ERR_PF_BAD_ELEMENT;
  BI_setUnitsToByteString(units(f), e, bytes, length < 0 ? 0 : length);
  return kOk;
}

}  // namespace
}  // namespace kel::pf

using namespace kel::pf;

namespace kel::pf {
constinit const PrimeField PrimeFieldP256 = {kP256, 8, 256, reduce256, sqrt256};
constinit const PrimeField PrimeFieldP384 = {kP384, 12, 384, reduce384, sqrt384};
}  // namespace kel::pf

extern "C" const uint32_t g_pOneUnits[12] = {1};
extern "C" const PrimeField *const PF_p256 = &kel::pf::PrimeFieldP256;
extern "C" const PrimeField *const PF_p384 = &kel::pf::PrimeFieldP384;

int32_t PRIMEFIELD_newElement(const PrimeField *field, uint32_t **element) {
  void *block = nullptr;
  const uint32_t size = field->unitCount * sizeof(uint32_t);
  if (VOR_alloc(size, &block) != 0) return ERR_PF_OUT_OF_MEMORY;
  std::memset(block, 0, size);
  *element = static_cast<uint32_t *>(block);
  return kOk;
}

int32_t PRIMEFIELD_deleteElement(const PrimeField *field, uint32_t **element) {
  if (field == nullptr || element == nullptr || *element == nullptr) return kNull;
  secure_zero(*element, field->unitCount * sizeof(uint32_t));
  void *block = *element;
  VOR_free(&block);
  *element = nullptr;
  return kOk;
}

int32_t PRIMEFIELD_copyElement(const PrimeField *field, uint32_t *destination, const uint32_t *source) {
  if (field == nullptr || destination == nullptr || source == nullptr) return kNull;
  if (destination != source) std::memmove(destination, source, field->unitCount * sizeof(uint32_t));
  return kOk;
}

int32_t PRIMEFIELD_setToUnsigned(const PrimeField *field, uint32_t *element, uint32_t value) {
  if (field == nullptr || element == nullptr) return kNull;
  for (int32_t i = 0; i < units(field); ++i) element[i] = i == 0 ? value : 0;
  return kOk;
}

int32_t PRIMEFIELD_setToByteString(const PrimeField *field, uint32_t *element, const uint8_t *bytes,
                                   int32_t length) {
  if (field == nullptr || element == nullptr || (bytes == nullptr && length > 0)) return kNull;
  kel::mem::Wiped<uint32_t[16]> value;
  std::memset(value, 0, sizeof value);
  if (int32_t s = import_bytes(field, value, bytes, length); s != kOk) return s;
  if (BI_cmp(units(field), value, field->prime) > 0) return ERR_PF_BAD_ELEMENT;
  std::memcpy(element, value, field->unitCount * sizeof(uint32_t));
  return kOk;
}

int32_t PRIMEFIELD_setToByteStringMod(const PrimeField *field, uint32_t *element, const uint8_t *bytes,
                                      int32_t length, const uint32_t *modulus) {
  if (field == nullptr || element == nullptr || modulus == nullptr || (bytes == nullptr && length > 0)) return kNull;
  kel::mem::Wiped<uint32_t[16]> value;
  std::memset(value, 0, sizeof value);
  if (int32_t s = import_bytes(field, value, bytes, length); s != kOk) return s;
  while (BI_cmp(units(field), value, modulus) > 0) BI_sub(units(field), value, modulus);
  std::memcpy(element, value, field->unitCount * sizeof(uint32_t));
  return kOk;
}

int32_t PRIMEFIELD_writeByteString(const PrimeField *field, const uint32_t *element, uint8_t *output,
                                   int32_t outputLength) {
  if (field == nullptr || element == nullptr || output == nullptr) return kNull;
  return write_bytes(field, element, output, outputLength);
}

// One element, or (b non-null) a then b, into a new buffer.
static int32_t get_as_bytes(const PrimeField *field, const uint32_t *a, const uint32_t *b, uint8_t **buffer,
                            int32_t *length) {
  const int32_t len = static_cast<int32_t>(byte_length(field));
  const int32_t total = b != nullptr ? 2 * len : len;
  void *block = nullptr;
  if (VOR_alloc(static_cast<uint32_t>(total), &block) != 0) return ERR_PF_OUT_OF_MEMORY;
  uint8_t *out = static_cast<uint8_t *>(block);
  write_bytes(field, a, out, len);
  if (b != nullptr) write_bytes(field, b, out + len, len);
  *buffer = out;
  *length = total;
  return kOk;
}

int32_t PRIMEFIELD_getAsByteString(const PrimeField *field, const uint32_t *element, uint8_t **buffer,
                                   int32_t *length) {
  if (field == nullptr || element == nullptr || buffer == nullptr || length == nullptr) return kNull;
  return get_as_bytes(field, element, nullptr, buffer, length);
}

int32_t PRIMEFIELD_getAsByteString2(const PrimeField *field, const uint32_t *a, const uint32_t *b, uint8_t **buffer,
                                    int32_t *length) {
  if (field == nullptr || a == nullptr || b == nullptr || buffer == nullptr || length == nullptr) return kNull;
  return get_as_bytes(field, a, b, buffer, length);
}

int32_t PRIMEFIELD_getElementByteStringLen(const PrimeField *field, int32_t *length) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (field == nullptr || length == nullptr) return kNull;
  *length = static_cast<int32_t>(byte_length(field));
  return kOk;
}

int32_t PRIMEFIELD_add(const PrimeField *field, uint32_t *a, const uint32_t *b) {
  if (field == nullptr || a == nullptr || b == nullptr) return kNull;
  mod_add(units(field), a, b, field->prime);
  return kOk;
}

int32_t PRIMEFIELD_subtract(const PrimeField *field, uint32_t *a, const uint32_t *b) {
  if (field == nullptr || a == nullptr || b == nullptr) return kNull;
  mod_sub(units(field), a, b, field->prime);
  return kOk;
}

int32_t PRIMEFIELD_addAux(const PrimeField *field, uint32_t *a, const uint32_t *b, const uint32_t *modulus) {
  if (field == nullptr || a == nullptr || b == nullptr || modulus == nullptr) return kNull;
  mod_add(units(field), a, b, modulus);
  return kOk;
}

int32_t PRIMEFIELD_add_mod(const PrimeField *field, uint32_t *a, const uint32_t *b, const uint32_t *modulus) {
  return PRIMEFIELD_addAux(field, a, b, modulus);
}

int32_t PRIMEFIELD_xor(const PrimeField *field, uint32_t *a, const uint32_t *b) {
  if (field == nullptr || a == nullptr || b == nullptr) return kNull;
  for (int32_t i = 0; i < units(field); ++i) a[i] ^= b[i];
  return kOk;
}

int32_t PRIMEFIELD_multiplyAux(const PrimeField *field, uint32_t *result, const uint32_t *a, const uint32_t *b,
                               uint32_t *scratch) {
  if (field == nullptr || result == nullptr || a == nullptr || b == nullptr || scratch == nullptr) return kNull;
  BI_mul(units(field), scratch, a, b, 2 * units(field));
  field->reduceFunc(scratch, result, field, nullptr);
  return kOk;
}

int32_t PRIMEFIELD_squareAux(const PrimeField *field, uint32_t *result, const uint32_t *a, uint32_t *scratch) {
  if (field == nullptr || result == nullptr || a == nullptr || scratch == nullptr) return kNull;
  BI_sqr(units(field), scratch, a, 2 * units(field));
  field->reduceFunc(scratch, result, field, nullptr);
  return kOk;
}

int32_t PRIMEFIELD_multiply(const PrimeField *field, uint32_t *result, const uint32_t *a, const uint32_t *b) {
  if (field == nullptr || result == nullptr || a == nullptr || b == nullptr) return kNull;
  void *block = nullptr;
  const uint32_t size = 2 * field->unitCount * sizeof(uint32_t);
  if (VOR_alloc(size, &block) != 0) return ERR_PF_OUT_OF_MEMORY;
  PRIMEFIELD_multiplyAux(field, result, a, b, static_cast<uint32_t *>(block));
  secure_zero(block, size);
  VOR_free(&block);
  return kOk;
}

int32_t PRIMEFIELD_barrettMultiply(const PrimeField *field, uint32_t *result, const uint32_t *a, const uint32_t *b,
                                   const uint32_t *modulus, const uint32_t *mu) {
  if (field == nullptr || result == nullptr || a == nullptr || b == nullptr || modulus == nullptr || mu == nullptr)
    return kNull;
  const int32_t n = units(field);
  void *block = nullptr;
  const uint32_t size = static_cast<uint32_t>((4 * n + 2) * sizeof(uint32_t));
  if (VOR_alloc(size, &block) != 0) return ERR_PF_OUT_OF_MEMORY;
  uint32_t *product = static_cast<uint32_t *>(block);
  BI_mul(n, product, a, b, 2 * n);
  BI_barrettReduction(n, product, result, product + 2 * n, mu, modulus);
  secure_zero(block, size);
  VOR_free(&block);
  return kOk;
}

int32_t PRIMEFIELD_inverse(const PrimeField *field, uint32_t *result, const uint32_t *a) {
  if (field == nullptr || result == nullptr || a == nullptr) return kNull;
  return binary_divide(units(field), result, g_pOneUnits, a, field->prime);
}

int32_t PRIMEFIELD_inverseAux(int32_t n, uint32_t *result, const uint32_t *a, const uint32_t *modulus) {
  if (result == nullptr || a == nullptr || modulus == nullptr) return kNull;
  if (n <= 0 || n > 12) return ERR_PF_DIVIDE_BY_ZERO;  // g_pOneUnits covers 12 units
  return binary_divide(n, result, g_pOneUnits, a, modulus);
}

int32_t PRIMEFIELD_divide(const PrimeField *field, uint32_t *result, const uint32_t *a, const uint32_t *b) {
  if (field == nullptr || result == nullptr || a == nullptr || b == nullptr) return kNull;
  return binary_divide(units(field), result, a, b, field->prime);
}

int32_t PRIMEFIELD_sqrt(const PrimeField *field, uint32_t *result, const uint32_t *a) {
  field->sqrtFunc(a, result, field);
  return kOk;
}

int32_t PRIMEFIELD_shiftR(const PrimeField *field, uint32_t *a) {
  if (field == nullptr || a == nullptr) return kNull;
  BI_shiftREx(units(field), a, 1);
  return kOk;
}

int32_t PRIMEFIELD_getBit(const PrimeField *field, const uint32_t *a, uint32_t index, uint8_t *bit) {
  if (field == nullptr || a == nullptr || bit == nullptr) return kNull;
  *bit = (index > field->bitLength || index >= 32 * field->unitCount) ? 0 : (a[index / 32] >> (index % 32)) & 1;
  return kOk;
}

int32_t PRIMEFIELD_cmp(const PrimeField *field, const uint32_t *a, const uint32_t *b) {
  return BI_cmp(units(field), a, b);
}

int32_t PRIMEFIELD_cmpToUnsigned(const PrimeField *field, const uint32_t *a, uint32_t value) {
  for (int32_t i = units(field) - 1; i > 0; --i)
    if (a[i] != 0) return 1;
  return a[0] > value ? 1 : (a[0] < value ? -1 : 0);
}
