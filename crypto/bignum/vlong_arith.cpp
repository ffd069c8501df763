// Multiplication, squaring, division, greatest common divisor and modular
// inverse of vlongs.
#include <cstring>
#include <utility>

#include "crypto/bignum/internal.h"
#include "crypto/bignum/limbs.h"
#include "crypto/bignum/status.h"
#include "kel/vor.h"

using namespace kel::bignum;

namespace kel::bignum {
namespace {

// Karatsuba's workspace: on the stack up to 2048-limb operands' worth of
// 8-unit blocks, else from the heap.
constexpr size_t kStackWorkspace = karatsuba_workspace(64);

class Workspace {
 public:
  int32_t get(size_t limbsNeeded, limb_t **out) {
    if (limbsNeeded <= kStackWorkspace) {
      *out = stack_;
      return kOk;
    }
    void *block = nullptr;
    if (limbsNeeded * 8 > 0xffffffffu || VOR_alloc(static_cast<uint32_t>(limbsNeeded * 8), &block) != 0)
      return kNoMemory;
    heap_ = block;
    bytes_ = limbsNeeded * 8;
    *out = static_cast<limb_t *>(block);
    return kOk;
  }
  ~Workspace() {
    wipe(stack_, sizeof stack_);
    if (heap_ != nullptr) {
      wipe(heap_, bytes_);
      VOR_free(&heap_);
    }
  }

 private:
  limb_t stack_[kStackWorkspace];
  void *heap_ = nullptr;
  size_t bytes_ = 0;
};

// product = x·y (x == y: square) into product's buffer, which must not be x's
// or y's.
int32_t multiply_into(vlong *product, const vlong *x, const vlong *y, uint32_t n) {
  product->length = 0;
  if (x->length == 0 || y->length == 0) return kOk;
  size_t xn, yn;
  const limb_t *xl = view(x, &xn);
  const limb_t *yl = view(y, &yn);
  if (static_cast<uint64_t>(x->length) + y->length > VLONG_MAX_UNITS || n > VLONG_MAX_UNITS) return kSize;
  const uint32_t need = static_cast<uint32_t>(2 * (xn + yn));
  if (int32_t s = expandVlongNoCopy(product, n); s != kOk) return s;
  if (int32_t s = reserve_units(product, need); s != kOk) return s;
  limb_t *pl = limbs(product);
  if (x == y) {
    if (xn >= kKaratsubaThreshold) {
      Workspace ws;
      limb_t *w;
      if (int32_t s = ws.get(karatsuba_workspace(xn), &w); s != kOk) return s;
      sqr_n(pl, xl, xn, w);
    } else {
      sqr_basecase(pl, xl, xn);
    }
  } else if (xn == yn && xn >= kKaratsubaThreshold) {
    Workspace ws;
    limb_t *w;
    if (int32_t s = ws.get(karatsuba_workspace(xn), &w); s != kOk) return s;
    mul_n(pl, xl, yl, xn, w);
  } else if (xn >= yn) {
    mul_basecase(pl, xl, xn, yl, yn);
  } else {
    mul_basecase(pl, yl, yn, xl, xn);
  }
  set_limb_length(product, xn + yn);
  return kOk;
}

// Runs multiply_into through a fresh vlong when the product aliases a factor.
int32_t multiply(vlong *product, const vlong *x, const vlong *y, uint32_t n) {
  if (product != x && product != y) return multiply_into(product, x, y, n);
  vlong *t = nullptr;
  if (int32_t s = VLONG_allocVlong(&t, nullptr); s != kOk) return s;
  int32_t s = multiply_into(t, x, y, n);
  if (s == kOk) {
    vlong keep = *product;
    product->units = t->units;
    product->capacity = t->capacity;
    product->length = t->length;
    t->units = keep.units;
    t->capacity = keep.capacity;
  }
  VLONG_freeVlong(&t, nullptr);
  return s;
}

}  // namespace

int32_t multiplyVlongsToLength(vlong *product, const vlong *x, const vlong *y, uint32_t n) {
  if (product == nullptr || x == nullptr || y == nullptr) return kNull;
  return multiply(product, x, y, n);
}

int32_t squareVlongToLength(vlong *product, const vlong *x, uint32_t n) {
  if (product == nullptr || x == nullptr) return kNull;
  return multiply(product, x, x, n);
}

int32_t VLONG_operatorMultiplySignedVlongs(const vlong *x, const vlong *y, vlong **out, vlong **queue) {
  if (out == nullptr) return kNull;
  *out = nullptr;
  if (x == nullptr || y == nullptr) return kNull;
  Temp p(queue);
  if (int32_t s = VLONG_allocVlong(p.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_unsignedMultiply(p.get(), x, y); s != kOk) return s;
  p->isNegative = x == y ? 0 : (x->isNegative ^ y->isNegative);
  *out = p.release();
  return kOk;
}

}  // namespace kel::bignum

int32_t VLONG_unsignedMultiply(vlong *product, const vlong *x, const vlong *y) {
  if (product == nullptr || x == nullptr || y == nullptr) return kNull;
  return multiply(product, x, y, x->length + y->length);
}

int32_t VLONG_vlongSignedMultiply(vlong *product, const vlong *x, const vlong *y) {
  if (product == nullptr || x == nullptr || y == nullptr) return kNull;
  const uint32_t sign = x == y ? 0 : (x->isNegative ^ y->isNegative);
  if (int32_t s = multiply(product, x, y, x->length + y->length); s != kOk) return s;
  product->isNegative = sign;
  return kOk;
}

int32_t VLONG_vlongSignedSquare(vlong *product, const vlong *x) {
  if (product == nullptr || x == nullptr) return kNull;
  if (int32_t s = multiply(product, x, x, 2 * x->length); s != kOk) return s;
  product->isNegative = 0;
  return kOk;
}

// ---- division ----

namespace {

// quotient and remainder of the magnitudes; q, r distinct from a, d and from
// each other.
int32_t divide(vlong *q, const vlong *a, const vlong *d, vlong *r, vlong **queue) {
  if (d->length == 0) return kDivideByZero;
  const uint32_t rsign = 0;
  if (compareMagnitudes(a, d) < 0) {
    if (int32_t s = VLONG_copySignedValue(r, a); s != kOk) return s;
    r->isNegative = rsign;
    q->length = 0;
    return kOk;
  }
  size_t an, dn;
  const limb_t *al = view(a, &an);
  const limb_t *dl = view(d, &dn);
  // Remainder buffer: the dividend and one limb of headroom.
  if (int32_t s = reserve_units(r, static_cast<uint32_t>(2 * an + 2)); s != kOk) return s;
  limb_t *u = limbs(r);
  copy_n(u, al, an);
  const size_t qn = an - dn + 1;
  if (int32_t s = reserve_units(q, static_cast<uint32_t>(2 * qn)); s != kOk) return s;
  Temp dw(queue);
  limb_t *dwl = nullptr;
  if (dn > 1) {
    if (int32_t s = VLONG_allocVlong(dw.out(), queue); s != kOk) return s;
    if (int32_t s = expandVlongNoCopy(dw.get(), static_cast<uint32_t>(2 * dn)); s != kOk) return s;
    dwl = limbs(dw.get());
  }
  divrem(limbs(q), u, an, dl, dn, dwl);
  if (dwl != nullptr) zero_n(dwl, dn);
  set_limb_length(q, qn);
  set_limb_length(r, dn);
  r->isNegative = rsign;
  return kOk;
}

}  // namespace

int32_t VLONG_unsignedDivide(vlong *quotient, const vlong *dividend, const vlong *divisor, vlong *remainder,
                             vlong **queue) {
  if (quotient == nullptr || dividend == nullptr || divisor == nullptr || remainder == nullptr) return kNull;
  if (divisor->length == 0) return kDivideByZero;
  if (quotient == remainder) return kNull;
  // Outputs that alias an operand work on a copy of it.
  Temp a(queue), d(queue);
  if (quotient == dividend || remainder == dividend) {
    if (int32_t s = VLONG_makeVlongFromVlong(dividend, a.out(), queue); s != kOk) return s;
    dividend = a.get();
  }
  if (quotient == divisor || remainder == divisor) {
    if (int32_t s = VLONG_makeVlongFromVlong(divisor, d.out(), queue); s != kOk) return s;
    divisor = d.get();
  }
  return divide(quotient, dividend, divisor, remainder, queue);
}

int32_t VLONG_operatorDivideSignedVlongs(const vlong *dividend, const vlong *divisor, vlong **out,
                                         vlong **queue) {
  if (out == nullptr) return kNull;
  *out = nullptr;
  if (dividend == nullptr || divisor == nullptr) return kNull;
  Temp q(queue), r(queue);
  if (int32_t s = VLONG_allocVlong(q.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_allocVlong(r.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_unsignedDivide(q.get(), dividend, divisor, r.get(), queue); s != kOk) return s;
  q->isNegative = dividend->isNegative ^ divisor->isNegative;
  *out = q.release();
  return kOk;
}

int32_t VLONG_operatorModSignedVlongs(const vlong *dividend, const vlong *divisor, vlong **out, vlong **queue) {
  if (out == nullptr) return kNull;
  *out = nullptr;
  if (dividend == nullptr || divisor == nullptr) return kNull;
  Temp q(queue), r(queue);
  if (int32_t s = VLONG_allocVlong(q.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_allocVlong(r.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_unsignedDivide(q.get(), dividend, divisor, r.get(), queue); s != kOk) return s;
  r->isNegative = dividend->isNegative;
  *out = r.release();
  return kOk;
}

// ---- number theory ----

int32_t VLONG_greatestCommonDenominator(const vlong *a, const vlong *b, vlong **out, vlong **queue) {
  if (out == nullptr) return kNull;
  *out = nullptr;
  if (a == nullptr || b == nullptr) return kNull;
  Temp x(queue), y(queue);
  if (int32_t s = VLONG_makeVlongFromVlong(a, x.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_makeVlongFromVlong(b, y.out(), queue); s != kOk) return s;
  // Euclid, each remainder carrying its dividend's sign.
  for (;;) {
    if (y->length == 0) {
      *out = x.release();
      return kOk;
    }
    Temp r(queue);
    if (int32_t s = VLONG_operatorModSignedVlongs(x.get(), y.get(), r.out(), queue); s != kOk) return s;
    std::swap(*x.out(), *r.out());
    if (x->length == 0) {
      *out = y.release();
      return kOk;
    }
    Temp r2(queue);
    if (int32_t s = VLONG_operatorModSignedVlongs(y.get(), x.get(), r2.out(), queue); s != kOk) return s;
    std::swap(*y.out(), *r2.out());
  }
}

int32_t VLONG_modularInverse(const vlong *a, const vlong *modulus, vlong **out, vlong **queue) {
  if (out == nullptr) return kNull;
  *out = nullptr;
  if (a == nullptr || modulus == nullptr) return kNull;
  // Extended Euclid on (modulus, a), tracking a's coefficient only.
  Temp g0(queue), g1(queue), q(queue), r(queue), tPrev(queue), t(queue), qt(queue);
  if (int32_t s = VLONG_makeVlongFromVlong(modulus, g0.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_makeVlongFromVlong(a, g1.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_makeVlongFromUnsignedValue(0, tPrev.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_makeVlongFromUnsignedValue(1, t.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_allocVlong(q.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_allocVlong(r.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_allocVlong(qt.out(), queue); s != kOk) return s;
  while (g1->length != 0) {
    if (int32_t s = VLONG_unsignedDivide(q.get(), g0.get(), g1.get(), r.get(), queue); s != kOk) return s;
    // (g0, g1) <- (g1, r)
    std::swap(*g0.out(), *g1.out());
    std::swap(*g1.out(), *r.out());
    // (tPrev, t) <- (t, tPrev - q·t)
    q->isNegative = 0;
    if (int32_t s = VLONG_vlongSignedMultiply(qt.get(), q.get(), t.get()); s != kOk) return s;
    if (int32_t s = VLONG_subtractSignedVlongs(tPrev.get(), qt.get(), queue); s != kOk) return s;
    std::swap(*tPrev.out(), *t.out());
  }
  if (tPrev->isNegative && tPrev->length != 0) {
    if (int32_t s = VLONG_addSignedVlongs(tPrev.get(), modulus, queue); s != kOk) return s;
  }
  *out = tPrev.release();
  return kOk;
}
