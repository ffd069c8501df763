// Unit-array primitives: add, subtract, compare, product-scanning multiply
// and square, shifts, byte import and Barrett reduction (HAC 14.42).
#include "crypto/bignum/field_internal.h"

namespace {

// Three-unit column accumulator of the product-scanning multiply.
struct Column {
  uint64_t low = 0;  // units 0 and 1
  uint32_t high = 0; // unit 2
  void add(uint64_t product) {
    low += product;
    high += low < product;
  }
  uint32_t emit() {
    const uint32_t out = static_cast<uint32_t>(low);
    low = (low >> 32) | (uint64_t{high} << 32);
    high = 0;
    return out;
  }
};

}  // namespace

uint32_t BI_add(int32_t n, uint32_t *a, const uint32_t *b) {
  uint64_t carry = 0;
  for (int32_t i = 0; i < n; ++i) {
    carry += uint64_t{a[i]} + b[i];
    a[i] = static_cast<uint32_t>(carry);
    carry >>= 32;
  }
  return static_cast<uint32_t>(carry);
}

uint32_t BI_sub(int32_t n, uint32_t *a, const uint32_t *b) {
  uint64_t borrow = 0;
  for (int32_t i = 0; i < n; ++i) {
    const uint64_t d = uint64_t{a[i]} - b[i] - borrow;
    a[i] = static_cast<uint32_t>(d);
    borrow = d >> 63;
  }
  return static_cast<uint32_t>(borrow);
}

int32_t BI_cmp(int32_t n, const uint32_t *a, const uint32_t *b) {
  for (int32_t i = n - 1; i >= 0; --i)
    if (a[i] != b[i]) return a[i] > b[i] ? 1 : -1;
  return 0;
}

void BI_mul(int32_t n, uint32_t *result, const uint32_t *a, const uint32_t *b, int32_t m) {
  Column acc;
  for (int32_t k = 0; k < m; ++k) {
    const int32_t first = k - n + 1 > 0 ? k - n + 1 : 0;
    const int32_t last = k < n - 1 ? k : n - 1;
    for (int32_t i = first; i <= last; ++i) acc.add(uint64_t{a[i]} * b[k - i]);
    result[k] = acc.emit();
  }
}

void BI_sqr(int32_t n, uint32_t *result, const uint32_t *a, int32_t m) {
  Column acc;
  for (int32_t k = 0; k < m; ++k) {
    const int32_t first = k - n + 1 > 0 ? k - n + 1 : 0;
    const int32_t last = k < n - 1 ? k : n - 1;
    // Each cross product once, doubled; then the diagonal square.
    Column cross;
    for (int32_t i = first; i <= last && i < k - i; ++i) cross.add(uint64_t{a[i]} * a[k - i]);
    acc.add(cross.low << 1);
    acc.high += (cross.high << 1) | static_cast<uint32_t>(cross.low >> 63);
    if ((k & 1) == 0 && k / 2 <= last && k / 2 >= first) acc.add(uint64_t{a[k / 2]} * a[k / 2]);
    result[k] = acc.emit();
  }
}

void BI_shiftREx(int32_t n, uint32_t *a, int32_t shift) {
  if (shift <= 0 || shift >= 32) return;
  for (int32_t i = 0; i < n; ++i) {
    const uint32_t next = i + 1 < n ? a[i + 1] : 0;
    a[i] = (a[i] >> shift) | (next << (32 - shift));
  }
}

void BI_setUnitsToByteString(int32_t n, uint32_t *units, const uint8_t *bytes, int32_t length) {
  for (int32_t i = 0; i < n; ++i) units[i] = 0;
  for (int32_t i = 0; i < length; ++i) {
    const int32_t bit = 8 * (length - 1 - i);
    units[bit / 32] |= uint32_t{bytes[i]} << (bit % 32);
  }
}

// HAC 14.42 with b = 2^32: q3 = floor(floor(x / b^(n-1)) mu / b^(n+1)),
// r = (x - q3 m) mod b^(n+1), then m comes off while r >= m (a remainder
// equal to m, possible when x is a multiple of it, becomes 0).
void BI_barrettReduction(int32_t n, uint32_t *x, uint32_t *result, uint32_t *scratch, const uint32_t *mu,
                         const uint32_t *modulus) {
  const int32_t w = n + 1;
  BI_mul(w, scratch, x + (n - 1), mu, 2 * w);  // q2 in scratch[0, 2n + 2)
  uint32_t *q3 = scratch + w;                    // its top n + 1 units
  uint32_t r[64];                                // n + 1 units of q3 m mod b^(n+1)
  uint32_t *r2 = w <= 64 ? r : scratch;          // wider moduli reuse q2's low half
  BI_mul(w, r2, q3, modulus, w);
  uint32_t *r1 = r2 == r ? scratch : r2 + 0;
  if (r2 == r) {
    for (int32_t i = 0; i < w; ++i) r1[i] = x[i];
    BI_sub(w, r1, r2);
  } else {
    // r1 - r2 in place: r2[i] <- x[i] - r2[i].
    uint64_t borrow = 0;
    for (int32_t i = 0; i < w; ++i) {
      const uint64_t d = uint64_t{x[i]} - r2[i] - borrow;
      r2[i] = static_cast<uint32_t>(d);
      borrow = d >> 63;
    }
  }
  while (BI_cmp(w, r1, modulus) >= 0) BI_sub(w, r1, modulus);
  for (int32_t i = 0; i < n; ++i) result[i] = r1[i];
  kel::mem::secure_zero(r, sizeof r);
}
