// Unit-array primitives and prime-field operations against GMP, on edge
// values (0, 1, p - 1, p, all-ones units, values that carry through the fast
// reduction) and random ones, for P-256 and P-384.
#include <openssl/rand.h>

#include "bignum_test_util.h"
#include "kel/ec.h"
#include "kel/primefield.h"

namespace {

using kel::test::Units;
using Z = kel::test::Mpz;

Z operator+(const Z &a, const Z &b) { Z r; mpz_add(r.z, a.z, b.z); return r; }
Z operator-(const Z &a, const Z &b) { Z r; mpz_sub(r.z, a.z, b.z); return r; }
Z operator*(const Z &a, const Z &b) { Z r; mpz_mul(r.z, a.z, b.z); return r; }
Z operator%(const Z &a, const Z &m) { Z r; mpz_mod(r.z, a.z, m.z); return r; }
bool operator>(const Z &a, const Z &b) { return mpz_cmp(a.z, b.z) > 0; }
Z Pow2(unsigned bits) { Z r; mpz_setbit(r.z, bits); return r; }
Units One(size_t n) { Units u(n, 0); u[0] = 1; return u; }

struct FieldCase {
  const char *name;
  const PrimeField *field;
  const PrimeCurve *curve;
  size_t n() const { return field->unitCount; }
  Units p() const { return Units(field->prime, field->prime + n()); }
};
const FieldCase kFields[] = {{"P256", PF_p256, EC_P256}, {"P384", PF_p384, EC_P384}};

class Field : public ::testing::TestWithParam<FieldCase> {
 protected:
  void TearDown() override { kel::mem::fail_after(-1); }
  // Edge values, then random ones (some with their top half all ones, which
  // drives the reduction's carries).
  std::vector<Units> Values(bool belowP) const {
    const FieldCase &f = GetParam();
    const Z p(f.p());
    std::vector<Units> v = {Units(f.n(), 0), One(f.n()), (p - Z(Units{1})).units(f.n()),
                            (p - Z(Units{2})).units(f.n()), Units(f.n(), 0xffffffff)};
    if (!belowP) v.push_back(f.p());
    for (int i = 0; i < 12; ++i) {
      Units u(f.n());
      RAND_bytes(reinterpret_cast<uint8_t *>(u.data()), int(4 * f.n()));
      if (i % 3 == 0)
        for (size_t j = f.n() / 2; j < f.n(); ++j) u[j] = 0xffffffff;
      if (belowP) u = (Z(u) % p).units(f.n());
      v.push_back(u);
    }
    if (belowP) v.erase(v.begin() + 4);  // all ones is above p
    return v;
  }
};
INSTANTIATE_TEST_SUITE_P(Fields, Field, ::testing::ValuesIn(kFields), [](const auto &i) { return i.param.name; });

TEST_P(Field, UnitPrimitivesMatchGmp) {
  const FieldCase &f = GetParam();
  const int32_t n = int32_t(f.n());
  const Z R = Pow2(32 * n);
  for (const Units &a : Values(false)) {
    for (const Units &b : Values(false)) {
      Units s = a, d = a, prod(2 * n), low(n + 1);
      EXPECT_EQ(BI_add(n, s.data(), b.data()), Z(a) + Z(b) > R - Z(Units{1}) ? 1u : 0u);
      EXPECT_EQ(s, (Z(a) + Z(b)).units(n));
      EXPECT_EQ(BI_sub(n, d.data(), b.data()), Z(b) > Z(a) ? 1u : 0u);
      EXPECT_EQ(d, (Z(a) - Z(b) + R).units(n));
      EXPECT_EQ(BI_cmp(n, a.data(), b.data()), Z(a) > Z(b) ? 1 : (Z(b) > Z(a) ? -1 : 0));
      BI_mul(n, prod.data(), a.data(), b.data(), 2 * n);
      EXPECT_EQ(prod, (Z(a) * Z(b)).units(2 * n));
      BI_mul(n, low.data(), a.data(), b.data(), n + 1);
      EXPECT_EQ(low, (Z(a) * Z(b)).units(n + 1));
      Units x = a, copy(n);
      ASSERT_EQ(PRIMEFIELD_xor(f.field, x.data(), b.data()) | PRIMEFIELD_copyElement(f.field, copy.data(), x.data()), 0);
      for (int32_t i = 0; i < n; ++i) EXPECT_EQ(copy[i], a[i] ^ b[i]);
      EXPECT_EQ(PRIMEFIELD_cmp(f.field, a.data(), b.data()), BI_cmp(n, a.data(), b.data()));
    }
    Units sq(2 * n), twice = a;
    BI_sqr(n, sq.data(), a.data(), 2 * n);
    EXPECT_EQ(sq, (Z(a) * Z(a)).units(2 * n));
    BI_add(n, twice.data(), twice.data());  // a and b the same array
    EXPECT_EQ(twice, (Z(a) + Z(a)).units(n));
    Units half = a;
    Z expectHalf;
    mpz_fdiv_q_2exp(expectHalf.z, Z(a).z, 1);
    ASSERT_EQ(PRIMEFIELD_shiftR(f.field, half.data()), 0);
    EXPECT_EQ(half, expectHalf.units(n));
    for (int32_t shift : {0, 1, 7, 31, 32, 40}) {
      Units sh = a;
      BI_shiftREx(n, sh.data(), shift);
      Z expect;
      mpz_fdiv_q_2exp(expect.z, Z(a).z, shift >= 1 && shift <= 31 ? shift : 0);
      EXPECT_EQ(sh, expect.units(n)) << "shift " << shift;
    }
  }
}

TEST_P(Field, ModularArithmeticMatchesGmp) {
  const FieldCase &f = GetParam();
  const int32_t n = int32_t(f.n());
  const Z p(f.p()), order(Units(f.curve->order, f.curve->order + n));
  Units scratch(2 * n);
  for (const Units &a : Values(true)) {
    for (const Units &b : Values(true)) {
      Units r(n), s = a, d = a;
      ASSERT_EQ(PRIMEFIELD_add(f.field, s.data(), b.data()), 0);
      EXPECT_EQ(s, (Z(a) + Z(b) > p ? Z(a) + Z(b) - p : Z(a) + Z(b)).units(n));  // p itself stays p
      ASSERT_EQ(PRIMEFIELD_subtract(f.field, d.data(), b.data()), 0);
      EXPECT_EQ(d, ((Z(a) - Z(b) + p) % p).units(n));
      ASSERT_EQ(PRIMEFIELD_multiplyAux(f.field, r.data(), a.data(), b.data(), scratch.data()), 0);
      EXPECT_EQ(r, (Z(a) * Z(b) % p).units(n));
      ASSERT_EQ(PRIMEFIELD_multiply(f.field, r.data(), a.data(), b.data()), 0);  // scratch of its own
      EXPECT_EQ(r, (Z(a) * Z(b) % p).units(n));
      ASSERT_EQ(PRIMEFIELD_barrettMultiply(f.field, r.data(), a.data(), b.data(), f.curve->order, f.curve->orderMu), 0);
      EXPECT_EQ(r, (Z(a) * Z(b) % order).units(n));
      if (Z(b) > Z()) {
        ASSERT_EQ(PRIMEFIELD_divide(f.field, r.data(), a.data(), b.data()), 0);
        EXPECT_EQ((Z(r) * Z(b) % p).units(n), a);
      } else {
        EXPECT_EQ(PRIMEFIELD_divide(f.field, r.data(), a.data(), b.data()), ERR_PF_DIVIDE_BY_ZERO);
      }
    }
    Units sq(n), inv(n), root(n), back(n);
    ASSERT_EQ(PRIMEFIELD_squareAux(f.field, sq.data(), a.data(), scratch.data()), 0);
    EXPECT_EQ(sq, (Z(a) * Z(a) % p).units(n));
    ASSERT_EQ(PRIMEFIELD_sqrt(f.field, root.data(), sq.data()), 0);
    PRIMEFIELD_multiplyAux(f.field, back.data(), root.data(), root.data(), scratch.data());
    EXPECT_EQ(back, sq);
    if (Z(a) > Z()) {
      ASSERT_EQ(PRIMEFIELD_inverse(f.field, inv.data(), a.data()), 0);
      EXPECT_EQ((Z(inv) * Z(a) % p).units(n), One(n));
      const Units am = (Z(a) % order).units(n);
      if (Z(am) > Z()) {
        ASSERT_EQ(PRIMEFIELD_inverseAux(n, inv.data(), a.data(), f.curve->order), 0);
        EXPECT_EQ((Z(inv) * Z(a) % order).units(n), One(n));
      }
    }
  }
  // an inverse fills n units and not one more
  Units guarded(n + 1, 0x5a5a5a5au), seven = Z(Units{7}).units(n);
  ASSERT_EQ(PRIMEFIELD_inverse(f.field, guarded.data(), seven.data()), 0);
  ASSERT_EQ(PRIMEFIELD_inverseAux(n, guarded.data(), seven.data(), f.curve->order), 0);
  EXPECT_EQ(guarded[n], 0x5a5a5a5au);
  // a non-residue (-1, as p = 3 mod 4) has no root
  Units pm1 = (p - Z(Units{1})).units(n), r(n), sq(n);
  PRIMEFIELD_sqrt(f.field, r.data(), pm1.data());
  PRIMEFIELD_squareAux(f.field, sq.data(), r.data(), scratch.data());
  EXPECT_NE(sq, pm1);
  const Units zero(n, 0), prime = f.p();
  EXPECT_EQ(PRIMEFIELD_inverse(f.field, r.data(), zero.data()), ERR_PF_DIVIDE_BY_ZERO);
  EXPECT_EQ(PRIMEFIELD_inverse(f.field, r.data(), prime.data()), ERR_PF_DIVIDE_BY_ZERO);
  EXPECT_EQ(PRIMEFIELD_inverseAux(n, r.data(), f.curve->order, f.curve->order), ERR_PF_DIVIDE_BY_ZERO);
  std::vector<Units> xs = {Units(2 * n, 0xffffffff), (order * order - Z(Units{1})).units(2 * n),
                           (order * Z(Units{5})).units(2 * n)};
  for (int i = 0; i < 20; ++i) {
    Units x(2 * n);
    RAND_bytes(reinterpret_cast<uint8_t *>(x.data()), int(8 * n));
    xs.push_back(x);
  }
  for (const Units &x : xs) {
    Units work = x, wide(2 * n + 2);
    BI_barrettReduction(n, work.data(), r.data(), wide.data(), f.curve->orderMu, f.curve->order);
    EXPECT_EQ(r, (Z(x) % order).units(n));
  }
  Z mu;  // which the record's floor(2^(64n) / order) must be exactly
  mpz_fdiv_q(mu.z, Pow2(64 * n).z, order.z);
  EXPECT_EQ(Units(f.curve->orderMu, f.curve->orderMu + n + 1), mu.units(n + 1));
}

TEST_P(Field, ByteStringsAndElementHelpers) {
  const FieldCase &f = GetParam();
  const int32_t n = int32_t(f.n()), L = 4 * n;
  const Z p(f.p());
  uint32_t *e = nullptr;
  ASSERT_EQ(PRIMEFIELD_newElement(f.field, &e), 0);
  auto bytes = [&](const Z &v, int len) {
    std::vector<uint8_t> b(len, 0);
    const Units u = v.units(len / 4 + 1);
    for (int i = 0; i < len; ++i) b[len - 1 - i] = uint8_t(u[i / 4] >> (8 * (i % 4)));
    return b;
  };
  struct Import {
    std::vector<uint8_t> in;
    int32_t status;
  } imports[] = {
      {bytes(p - Z(Units{1}), L), 0}, {bytes(p, L), 0}, {bytes(p + Z(Units{1}), L), ERR_PF_BAD_ELEMENT},
      {bytes(p - Z(Units{1}), L + 1), 0}, {std::vector<uint8_t>(L + 1, 1), ERR_PF_BAD_ELEMENT},
      {std::vector<uint8_t>(L + 7, 0), 0}, {{}, 0}};
  for (const Import &c : imports) {
    EXPECT_EQ(PRIMEFIELD_setToByteString(f.field, e, c.in.data(), int32_t(c.in.size())), c.status);
    if (c.status == 0) {
      Z value;
      if (!c.in.empty()) mpz_import(value.z, c.in.size(), 1, 1, 0, 0, c.in.data());
      EXPECT_EQ(Units(e, e + n), value.units(n));
    }
  }
  // reduction by repeated subtraction; export right-aligned, zero-filled
  const std::vector<uint8_t> ones(L, 0xff);
  ASSERT_EQ(PRIMEFIELD_setToByteStringMod(f.field, e, ones.data(), L, f.field->prime), 0);
  EXPECT_EQ(Units(e, e + n), (Z(Units(n, 0xffffffff)) % p).units(n));
  const std::vector<uint8_t> wide(L + 1, 1);
  EXPECT_EQ(PRIMEFIELD_setToByteStringMod(f.field, e, wide.data(), L + 1, f.field->prime), ERR_PF_BAD_ELEMENT);
  std::vector<uint8_t> out(L + 8, 0xaa);
  ASSERT_EQ(PRIMEFIELD_writeByteString(f.field, e, out.data(), L + 8), 0);
  EXPECT_EQ(out, bytes(Z(Units(e, e + n)), L + 8));
  EXPECT_EQ(PRIMEFIELD_writeByteString(f.field, e, out.data(), L - 1), ERR_PF_BUFFER_TOO_SMALL);
  uint8_t *buf = nullptr;
  int32_t len = 0;
  ASSERT_EQ(PRIMEFIELD_getAsByteString2(f.field, e, f.field->prime, &buf, &len), 0);
  EXPECT_EQ(len, 2 * L);
  EXPECT_EQ(std::vector<uint8_t>(buf + L, buf + 2 * L), bytes(p, L));
  kel::test::Free(buf);
  PRIMEFIELD_setToUnsigned(f.field, e, 0x80000005u);
  uint8_t bit = 9;
  for (uint32_t i : {0u, 1u, 31u, uint32_t(32 * n), uint32_t(32 * n + 5)}) {
    ASSERT_EQ(PRIMEFIELD_getBit(f.field, e, i, &bit), 0);
    EXPECT_EQ(bit, (i == 0 || i == 31) ? 1 : 0) << i;
  }
  const Units full(n + 1, 0xffffffff);  // the unit past the element is never read
  ASSERT_EQ(PRIMEFIELD_getBit(f.field, full.data(), uint32_t(32 * n), &bit), 0);
  EXPECT_EQ(bit, 0);
  EXPECT_EQ(PRIMEFIELD_cmpToUnsigned(f.field, e, 0x80000005u), 0);
  EXPECT_EQ(PRIMEFIELD_cmpToUnsigned(f.field, f.field->prime, 0xffffffffu), 1);
  ASSERT_EQ(PRIMEFIELD_deleteElement(f.field, &e), 0);
  EXPECT_EQ(e, nullptr);
}

TEST_P(Field, RefusalsAndFailures) {
  const FieldCase &f = GetParam();
  const int32_t n = int32_t(f.n());
  Units a(n, 3), r(n);
  uint8_t *buf = nullptr;
  int32_t len = 0;
  const int32_t nulls[] = {
      PRIMEFIELD_deleteElement(nullptr, nullptr), PRIMEFIELD_setToByteString(f.field, nullptr, nullptr, 0),
      PRIMEFIELD_getAsByteString(f.field, a.data(), nullptr, &len), PRIMEFIELD_addAux(f.field, a.data(), a.data(), nullptr),
      PRIMEFIELD_multiplyAux(f.field, r.data(), a.data(), a.data(), nullptr), PRIMEFIELD_inverse(f.field, r.data(), nullptr),
      PRIMEFIELD_barrettMultiply(f.field, r.data(), a.data(), a.data(), f.curve->order, nullptr),
      PRIMEFIELD_xor(f.field, a.data(), nullptr), PRIMEFIELD_copyElement(f.field, nullptr, a.data()),
      PRIMEFIELD_shiftR(nullptr, a.data())};
  for (size_t i = 0; i < std::size(nulls); ++i) EXPECT_EQ(nulls[i], ERR_PF_NULL_POINTER) << "case " << i;
  uint32_t *e = nullptr;
  EXPECT_EQ(PRIMEFIELD_deleteElement(f.field, &e), ERR_PF_NULL_POINTER);
  kel::mem::fail_after(0);
  EXPECT_EQ(PRIMEFIELD_newElement(f.field, &e), ERR_PF_OUT_OF_MEMORY);
  kel::mem::fail_after(0);
  EXPECT_EQ(PRIMEFIELD_multiply(f.field, r.data(), a.data(), a.data()), ERR_PF_OUT_OF_MEMORY);
  kel::mem::fail_after(0);
  EXPECT_EQ(PRIMEFIELD_inverse(f.field, r.data(), a.data()), ERR_PF_OUT_OF_MEMORY);
  kel::mem::fail_after(0);
  EXPECT_EQ(PRIMEFIELD_getAsByteString(f.field, a.data(), &buf, &len), ERR_PF_OUT_OF_MEMORY);
  EXPECT_EQ(buf, nullptr);
  kel::mem::fail_after(0);
  r.assign(n, 0x77);
  PRIMEFIELD_sqrt(f.field, r.data(), a.data());  // no buffers: the result is left alone
  EXPECT_EQ(r, Units(n, 0x77));
  kel::mem::fail_after(-1);
  EXPECT_EQ(e, nullptr);
  gFIPS_powerupStatus = -16508;
  EXPECT_EQ(PRIMEFIELD_getElementByteStringLen(f.field, &len), -16508);
  gFIPS_powerupStatus = 0;
  ASSERT_EQ(PRIMEFIELD_getElementByteStringLen(f.field, &len), 0);
  EXPECT_EQ(len, 4 * n);
  gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
}

}  // namespace
