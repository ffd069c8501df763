// The vlong record: memory and queue discipline, units and bits, comparison,
// shifts, copies, addition and subtraction.
#include <cstring>

#include "crypto/bignum/internal.h"
#include "crypto/bignum/limbs.h"
#include "crypto/bignum/status.h"
#include "crypto/common/mem.h"
#include "kel/vor.h"

using namespace kel::bignum;

namespace kel::bignum {

void wipe(void *p, size_t n) {
  if (p != nullptr) mem::secure_zero(p, n);
}

namespace {

// A new zeroed-on-release unit buffer of cap units (VOR_alloc: malloc's
// 16-byte alignment).
int32_t new_buffer(uint32_t cap, uint32_t **out) {
  void *block = nullptr;
  if (VOR_alloc(cap * 4u, &block) != 0) return kNoMemory;
  *out = static_cast<uint32_t *>(block);
  return kOk;
}

void release_buffer(vlong *v) {
  if (v->units != nullptr) {
    wipe(v->units, static_cast<size_t>(v->capacity) * 4);
    void *block = v->units;
    VOR_free(&block);
  }
  v->units = nullptr;
  v->capacity = 0;
}

void release_record(vlong *v) {
  release_buffer(v);
  wipe(v, sizeof *v);
  void *block = v;
  VOR_free(&block);
}

void trim(vlong *v) {
  while (v->length > 0 && v->units[v->length - 1] == 0) --v->length;
}

// Replaces the buffer by one of cap units, copying keep units. The old buffer
// is wiped before it goes back to the heap (it may hold key material).
int32_t replace_buffer(vlong *v, uint32_t cap, uint32_t keep) {
  uint32_t *fresh = nullptr;
  if (int32_t s = new_buffer(cap, &fresh); s != kOk) return s;
  if (keep != 0) std::memcpy(fresh, v->units, static_cast<size_t>(keep) * 4);
  release_buffer(v);
  v->units = fresh;
  v->capacity = cap;
  return kOk;
}

}  // namespace

int32_t expandVlongNoCopy(vlong *v, uint32_t n) {
  if (v == nullptr) return kNull;
  if (n > VLONG_MAX_UNITS) return kSize;
  if (v->capacity >= n) return kOk;
  if (int32_t s = replace_buffer(v, (n + 4) & ~3u, 0); s != kOk) return s;
  v->length = 0;
  return kOk;
}

int32_t reserve_units(vlong *v, uint32_t cap) {
  if (cap > VLONG_MAX_UNITS + 8) return kSize;
  if (v->capacity >= cap) return kOk;
  if (int32_t s = replace_buffer(v, (cap + 3) & ~3u, 0); s != kOk) return s;
  v->length = 0;
  return kOk;
}

int32_t compareMagnitudes(const vlong *a, const vlong *b) {
  if (a->length != b->length) return a->length > b->length ? 1 : -1;
  for (uint32_t i = a->length; i-- > 0;)
    if (a->units[i] != b->units[i]) return a->units[i] > b->units[i] ? 1 : -1;
  return 0;
}

// |x| += |y| in place.
int32_t add_magnitudes(vlong *x, const vlong *y) {
  const uint32_t L = x->length > y->length ? x->length : y->length;
  if (int32_t s = VLONG_reallocVlong(x, L < VLONG_MAX_UNITS ? L + 1 : L); s != kOk) return s;
  size_t yn;
  const limb_t *yl = view(y, &yn);
  const size_t n = limbs_for(L);
  for (uint32_t i = x->length; i < 2 * n; ++i) x->units[i] = 0;
  limb_t *xl = limbs(x);
  uint64_t c = add_n(xl, xl, yl, yn);
  if (n > yn) c = add_1(xl + yn, xl + yn, n - yn, c);
  // An odd L leaves the top limb's high half free, so no carry leaves it;
  // an even L puts the carry in unit L, if the ceiling leaves room for it.
  x->length = L;
  if (L % 2 == 0) {
    if (L < VLONG_MAX_UNITS) {
      x->units[L] = static_cast<uint32_t>(c);
      x->length = L + 1;
    } else if (c != 0) {
      return kSize;
    }
  } else {
    x->length = L + 1;
  }
  trim(x);
  return kOk;
}

// x = |x| - |y| when |x| >= |y|, else |y| - |x|; the sign is the caller's.
int32_t subtract_magnitudes(vlong *x, const vlong *y) {
  if (compareMagnitudes(x, y) >= 0) {
    size_t xn, yn;
    view(x, &xn);
    const limb_t *yl = view(y, &yn);
    limb_t *xl = limbs(x);
    uint64_t b = sub_n(xl, xl, yl, yn);
    if (xn > yn) sub_1(xl + yn, xl + yn, xn - yn, b);
    set_limb_length(x, xn);
    return kOk;
  }
  if (int32_t s = VLONG_reallocVlong(x, y->length); s != kOk) return s;
  size_t yn;
  const limb_t *yl = view(y, &yn);
  for (uint32_t i = x->length; i < 2 * yn; ++i) x->units[i] = 0;
  limb_t *xl = limbs(x);
  sub_n(xl, yl, xl, yn);
  set_limb_length(x, yn);
  return kOk;
}

}  // namespace kel::bignum

// ---- memory and units ----

int32_t VLONG_allocVlong(vlong **out, vlong **queue) {
  if (out == nullptr) return kNull;
  *out = nullptr;
  vlong *v;
  if (queue != nullptr && *queue != nullptr) {
    v = *queue;
    *queue = v->queueNext;
  } else {
    void *block = nullptr;
    if (VOR_alloc(sizeof(vlong), &block) != 0) return kNoMemory;
    v = static_cast<vlong *>(block);
    v->units = nullptr;
    v->capacity = 0;
  }
  v->length = 0;
  v->isNegative = 0;
  v->queueNext = nullptr;
  *out = v;
  return kOk;
}

int32_t VLONG_freeVlong(vlong **v, vlong **queue) {
  if (v == nullptr || *v == nullptr) return kNull;
  if (queue != nullptr) {
    (*v)->queueNext = *queue;
    *queue = *v;
  } else {
    release_record(*v);
  }
  *v = nullptr;
  return kOk;
}

int32_t VLONG_freeVlongQueue(vlong **queue) {
  if (queue == nullptr) return kOk;
  while (vlong *v = *queue) {
    *queue = v->queueNext;
    release_record(v);
  }
  return kOk;
}

int32_t VLONG_reallocVlong(vlong *v, uint32_t n) {
  if (v == nullptr) return kNull;
  if (n > VLONG_MAX_UNITS) return kSize;
  if (v->capacity >= n) return kOk;
  return replace_buffer(v, (n + 6) & ~3u, v->length);
}

int32_t VLONG_clearVlong(vlong *v) {
  if (v == nullptr) return kNull;
  v->length = 0;
  v->isNegative = 0;
  return kOk;
}

uint32_t VLONG_getVlongUnit(const vlong *v, uint32_t index) {
  if (v == nullptr || v->units == nullptr || index >= v->length) return 0;
  return v->units[index];
}

int32_t VLONG_setVlongUnit(vlong *v, uint32_t index, uint32_t unit) {
  if (v == nullptr) return kNull;
  if (index < v->length) {
    v->units[index] = unit;
    if (unit == 0) trim(v);
    return kOk;
  }
  if (unit == 0) return kOk;
  if (index >= VLONG_MAX_UNITS) return kSize;
  if (int32_t s = VLONG_reallocVlong(v, index + 1); s != kOk) return s;
  for (uint32_t i = v->length; i < index; ++i) v->units[i] = 0;
  v->units[index] = unit;
  v->length = index + 1;
  return kOk;
}

int32_t VLONG_isVlongZero(const vlong *v) { return v == nullptr || v->length == 0; }

int32_t VLONG_isVlongBitSet(const vlong *v, uint32_t bitIndex) {
  return (VLONG_getVlongUnit(v, bitIndex / 32) >> (bitIndex % 32)) & 1;
}

int32_t VLONG_setVlongBit(vlong *v, uint32_t bitIndex) {
  if (v == nullptr) return kNull;
  return VLONG_setVlongUnit(v, bitIndex / 32, VLONG_getVlongUnit(v, bitIndex / 32) | 1u << (bitIndex % 32));
}

uint32_t VLONG_bitLength(const vlong *v) {
  if (v == nullptr || v->length == 0) return 0;
  return 32 * (v->length - 1) + VOR_BITLENGTH(v->units[v->length - 1]);
}

// ---- comparison ----

// A null vlong compares as zero.
int32_t VLONG_compareUnsigned(const vlong *a, uint32_t b) {
  if (a == nullptr) return b == 0 ? 0 : -1;
  if (a->isNegative) return -1;
  if (a->length > 1) return 1;
  if (a->length == 1) return a->units[0] == b ? 0 : (a->units[0] > b ? 1 : -1);
  return b == 0 ? 0 : -1;
}

int32_t VLONG_compareSignedVlongs(const vlong *a, const vlong *b) {
  const vlong zero{};
  if (a == nullptr) a = &zero;
  if (b == nullptr) b = &zero;
  const bool an = a->isNegative && a->length != 0;
  const bool bn = b->isNegative && b->length != 0;
  if (an != bn) return an ? -1 : 1;
  const int32_t c = compareMagnitudes(a, b);
  return an ? -c : c;
}

// ---- shifts ----

int32_t VLONG_shlVlong(vlong *v) {
  if (v == nullptr) return kNull;
  return shlVlong(v);
}

int32_t shlVlong(vlong *v) {
  if (v->length == 0) return kOk;
  if (v->units[v->length - 1] >> 31) {
    if (int32_t s = VLONG_reallocVlong(v, v->length + 1); s != kOk) return s;
    v->units[v->length] = 0;
    ++v->length;
  }
  uint32_t carry = 0;
  for (uint32_t i = 0; i < v->length; ++i) {
    uint32_t u = v->units[i];
    v->units[i] = u << 1 | carry;
    carry = u >> 31;
  }
  return kOk;
}

int32_t VLONG_shrVlong(vlong *v) {
  if (v == nullptr) return kNull;
  return VLONG_shrXvlong(v, 1);
}

int32_t VLONG_shlXvlong(vlong *v, uint32_t count) {
  if (v == nullptr) return kNull;
  if (count == 0 || v->length == 0) return kOk;
  const uint32_t words = count / 32, bits = count % 32;
  if (static_cast<uint64_t>(v->length) + words + 1 > VLONG_MAX_UNITS) return kSize;
  if (int32_t s = VLONG_reallocVlong(v, v->length + words + 1); s != kOk) return s;
  uint32_t *u = v->units;
  const uint32_t n = v->length;
  u[n + words] = bits ? u[n - 1] >> (32 - bits) : 0;
  for (uint32_t i = n; i-- > 0;) u[i + words] = u[i] << bits | (bits && i ? u[i - 1] >> (32 - bits) : 0);
  for (uint32_t i = 0; i < words; ++i) u[i] = 0;
  v->length = n + words + 1;
  trim(v);
  return kOk;
}

int32_t VLONG_shrXvlong(vlong *v, uint32_t count) {
  if (v == nullptr || count == 0 || v->length == 0) return kOk;
  const uint32_t words = count / 32, bits = count % 32;
  if (words >= v->length) {
    v->length = 0;
    return kOk;
  }
  uint32_t *u = v->units;
  const uint32_t n = v->length - words;
  for (uint32_t i = 0; i < n; ++i)
    u[i] = u[i + words] >> bits | (bits && i + words + 1 < v->length ? u[i + words + 1] << (32 - bits) : 0);
  v->length = n;
  trim(v);
  return kOk;
}

// ---- construction and copying ----

int32_t VLONG_copySignedValue(vlong *dest, const vlong *src) {
  if (dest == nullptr || src == nullptr) return kNull;
  if (dest == src) return kOk;
  if (int32_t s = expandVlongNoCopy(dest, src->length); s != kOk) return s;
  if (src->length != 0) std::memcpy(dest->units, src->units, static_cast<size_t>(src->length) * 4);
  dest->length = src->length;
  dest->isNegative = src->isNegative;
  return kOk;
}

int32_t VLONG_makeVlongFromUnsignedValue(uint32_t value, vlong **out, vlong **queue) {
  if (out == nullptr) return kNull;
  Temp v(queue);
  if (int32_t s = VLONG_allocVlong(v.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_setVlongUnit(v.get(), 0, value); s != kOk) return s;
  *out = v.release();
  return kOk;
}

int32_t VLONG_makeVlongFromVlong(const vlong *src, vlong **out, vlong **queue) {
  if (out == nullptr) return kNull;
  *out = nullptr;
  if (src == nullptr) return kNull;
  Temp v(queue);
  if (int32_t s = VLONG_allocVlong(v.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_copySignedValue(v.get(), src); s != kOk) return s;
  *out = v.release();
  return kOk;
}

// ---- addition and subtraction ----

int32_t VLONG_addSignedVlongs(vlong *x, const vlong *y, vlong ** /*queue*/) {
  if (x == nullptr || y == nullptr) return kNull;
  if (x->isNegative == y->isNegative) return add_magnitudes(x, y);
  // Different signs: the larger magnitude keeps its sign.
  const bool yWins = compareMagnitudes(x, y) < 0;
  const uint32_t sign = yWins ? y->isNegative : x->isNegative;
  if (int32_t s = subtract_magnitudes(x, y); s != kOk) return s;
  x->isNegative = sign;
  return kOk;
}

int32_t VLONG_subtractSignedVlongs(vlong *x, const vlong *y, vlong ** /*queue*/) {
  if (x == nullptr || y == nullptr) return kNull;
  if (x == y) {
    x->length = 0;
    return kOk;
  }
  if (x->isNegative != y->isNegative) return add_magnitudes(x, y);
  const bool flip = compareMagnitudes(x, y) < 0;
  if (int32_t s = subtract_magnitudes(x, y); s != kOk) return s;
  if (flip) x->isNegative ^= 1;
  return kOk;
}

namespace {

// A one-unit vlong on the stack for the immediate forms.
struct SmallVlong {
  alignas(16) uint32_t units[4] = {};
  vlong v{};
  explicit SmallVlong(uint32_t value) {
    units[0] = value;
    v.units = units;
    v.capacity = 4;
    v.length = value != 0;
  }
};

}  // namespace

int32_t VLONG_increment(vlong *x, vlong **queue) {
  SmallVlong one(1);
  return VLONG_addSignedVlongs(x, &one.v, queue);
}

int32_t VLONG_decrement(vlong *x, vlong **queue) {
  SmallVlong one(1);
  return VLONG_subtractSignedVlongs(x, &one.v, queue);
}

int32_t VLONG_addImmediate(vlong *x, uint32_t value, vlong **queue) {
  SmallVlong y(value);
  return VLONG_addSignedVlongs(x, &y.v, queue);
}
