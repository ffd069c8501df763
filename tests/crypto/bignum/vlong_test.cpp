// vlong arithmetic and byte forms against GMP, on both kernel paths, plus the
// record's own rules: growth, trimming, the 8192-unit ceiling, signed zero.
#include "bignum_test_util.h"
#include "support/vectors.h"

namespace kel::test {
namespace {

// Operand shapes: short, the common range, lengths around the Karatsuba
// threshold, and long ones near the ceiling.
constexpr struct { const char *name; unsigned maxUnits; int rounds; } kShapes[] = {
    {"short", 9, 400}, {"common", 300, 150}, {"long", 4096, 3}};

template <class Check>
void Differential(const Check &check, bool negatives = true) {
  ForEachCpuPath([&] {
    Operands ops(7);
    for (const auto &shape : kShapes) {
      SCOPED_TRACE(shape.name);
      for (int i = 0; i < shape.rounds; ++i) {
        Mpz x, y;
        ops.Next(x, shape.maxUnits, negatives);
        // Equal lengths now and then: the Karatsuba and square paths.
        ops.Below(3) == 0 ? ops.SameLength(y, x, negatives) : ops.Next(y, shape.maxUnits, negatives);
        V vx = FromMpz(x), vy = FromMpz(y);
        check(x, y, vx.get(), vy.get());
        if (::testing::Test::HasFailure()) return;
      }
    }
  });
}

TEST(VlongDifferential, AddSubtractCompareMultiplySquare) {
  Differential([](const mpz_t x, const mpz_t y, const vlong *vx, const vlong *vy) {
    Mpz want;
    V s, p;
    ASSERT_EQ(VLONG_makeVlongFromVlong(vx, s.out(), nullptr), 0);
    ASSERT_EQ(VLONG_addSignedVlongs(s.get(), vy, nullptr), 0);
    mpz_add(want, x, y);
    EXPECT_EQ(Str(s.get()), want.Hex());
    ASSERT_EQ(VLONG_subtractSignedVlongs(s.get(), vy, nullptr), 0);
    ASSERT_EQ(VLONG_subtractSignedVlongs(s.get(), vy, nullptr), 0);
    mpz_sub(want, x, y);
    EXPECT_EQ(Str(s.get()), want.Hex());
    const int c = mpz_cmp(x, y);
    EXPECT_EQ(VLONG_compareSignedVlongs(vx, vy), (c > 0) - (c < 0));
    ASSERT_EQ(VLONG_allocVlong(p.out(), nullptr), 0);
    ASSERT_EQ(VLONG_vlongSignedMultiply(p.get(), vx, vy), 0);
    mpz_mul(want, x, y);
    EXPECT_EQ(Str(p.get()), want.Hex());
    ASSERT_EQ(VLONG_vlongSignedSquare(p.get(), vx), 0);
    mpz_mul(want, x, x);
    EXPECT_EQ(Str(p.get()), want.Hex());
    V copy;
    ASSERT_EQ(VLONG_makeVlongFromVlong(vx, copy.out(), nullptr), 0);
    ASSERT_EQ(VLONG_vlongSignedMultiply(copy.get(), copy.get(), vy), 0);  // the product in a factor's place
    mpz_mul(want, x, y);
    EXPECT_EQ(Str(copy.get()), want.Hex());
  });
}

TEST(VlongDifferential, DivideModGcdInverse) {
  Differential([](const mpz_t x, const mpz_t y, const vlong *vx, const vlong *vy) {
    if (mpz_sgn(y) == 0) return;
    Mpz q, r, g, inv;
    V vq, vr, vg, vi;
    ASSERT_EQ(VLONG_operatorDivideSignedVlongs(vx, vy, vq.out(), nullptr), 0);
    ASSERT_EQ(VLONG_operatorModSignedVlongs(vx, vy, vr.out(), nullptr), 0);
    mpz_tdiv_qr(q, r, x, y);
    EXPECT_EQ(Str(vq.get()), q.Hex());
    EXPECT_EQ(Str(vr.get()), r.Hex());
    if (mpz_sizeinbase(x, 2) > 20000) return;  // Euclid on the long shapes is slow
    ASSERT_EQ(VLONG_greatestCommonDenominator(vx, vy, vg.out(), nullptr), 0);
    mpz_gcd(g, x, y);
    vg->isNegative = 0;  // Euclid on signed remainders may leave a sign
    EXPECT_EQ(Str(vg.get()), g.Hex());
    Mpz m;
    mpz_abs(m, y);
    if (mpz_cmp_ui(m.z, 1) > 0 && mpz_invert(inv, x, m) && mpz_sgn(x) > 0) {
      ASSERT_EQ(VLONG_modularInverse(vx, vy, vi.out(), nullptr), 0);
      if (mpz_sgn(y) > 0) {
        EXPECT_EQ(Str(vi.get()), inv.Hex());
      }
    }
  });
}

TEST(VlongDifferential, ShiftsAndBits) {
  Differential([](const mpz_t x, const mpz_t y, const vlong *vx, const vlong *) {
    const unsigned count = static_cast<unsigned>(mpz_get_ui(y) % 200);
    Mpz want;
    V v;
    ASSERT_EQ(VLONG_makeVlongFromVlong(vx, v.out(), nullptr), 0);
    ASSERT_EQ(VLONG_shlXvlong(v.get(), count), 0);
    mpz_mul_2exp(want, x, count);
    EXPECT_EQ(Str(v.get()), want.Hex());
    ASSERT_EQ(VLONG_shrXvlong(v.get(), count + 3), 0);
    mpz_tdiv_q_2exp(want, x, 3);
    EXPECT_EQ(Str(v.get()), want.Hex());
    ASSERT_EQ(VLONG_shlVlong(v.get()), 0);
    ASSERT_EQ(VLONG_shrVlong(v.get()), 0);
    EXPECT_EQ(Str(v.get()), want.Hex());
    EXPECT_EQ(VLONG_bitLength(vx), mpz_sgn(x) ? mpz_sizeinbase(x, 2) : 0);
    EXPECT_EQ(VLONG_isVlongBitSet(vx, count), mpz_tstbit(x, count));
  }, false);
}

TEST(VlongDifferential, ByteForms) {
  Differential([](const mpz_t x, const mpz_t, const vlong *vx, const vlong *) {
    Mpz mag;
    mpz_abs(mag, x);
    int32_t len = -1;
    ASSERT_EQ(VLONG_byteStringFromVlong(vx, nullptr, &len), 0);
    ASSERT_EQ(static_cast<size_t>(len), (mpz_sizeinbase(mag, 2) + 7) / 8);
    std::vector<uint8_t> b(len + 3, 0xee);
    int32_t padded = len + 3;
    ASSERT_EQ(VLONG_byteStringFromVlong(vx, b.data(), &padded), 0);
    EXPECT_EQ(b[0] | b[1] | b[2], 0);
    int32_t shorter = len - 1;
    EXPECT_EQ(VLONG_byteStringFromVlong(vx, b.data(), &shorter), -6007);
    V back;
    ASSERT_EQ(VLONG_vlongFromByteString(b.data(), padded, back.out(), nullptr), 0);
    EXPECT_EQ(Str(back.get()), mag.Hex());
    std::vector<uint8_t> f(5);
    ASSERT_EQ(VLONG_fixedByteStringFromVlong(vx, f.data(), 5), 0);
    Mpz low;
    mpz_tdiv_r_2exp(low, mag, 40);
    V vlow;
    ASSERT_EQ(VLONG_vlongFromByteString(f.data(), 5, vlow.out(), nullptr), 0);
    EXPECT_EQ(Str(vlow.get()), low.Hex());
    uint8_t *m = nullptr;
    int32_t mlen = 0;
    ASSERT_EQ(VLONG_mpintByteStringFromVlong(vx, &m, &mlen), 0);
    V vm;
    int32_t used = 0;
    ASSERT_EQ(VLONG_newFromMpintBytes(m, static_cast<uint32_t>(mlen), vm.out(), &used), 0);
    EXPECT_EQ(used, mlen);
    EXPECT_EQ(Str(vm.get()), Str(vx));
    Free(m);
    std::vector<uint32_t> words(vx->length + 2, 0);
    for (uint32_t i = 0; i < vx->length; ++i) words[words.size() - 1 - i] = vx->units[i];
    V vw;
    ASSERT_EQ(VLONG_vlongFromUByte4String(words.data(), static_cast<uint32_t>(words.size()), vw.out()), 0);
    EXPECT_EQ(Str(vw.get()), mag.Hex());
  });
}

TEST(Vlong, MpintEncodings) {
  const std::pair<int64_t, const char *> cases[] = {
      {0x80, "000000020080"}, {-1, "00000001ff"},     {-128, "00000002ff80"}, {0, "00000000"},
      {-129, "00000002ff7f"}, {-256, "00000002ff00"}, {0x7f, "000000017f"},   {-32768, "00000003ff8000"}};
  for (const auto &[value, hex] : cases) {
    Mpz z;
    mpz_set_si(z, value);
    V v = FromMpz(z);
    uint8_t *m = nullptr;
    int32_t len = 0;
    ASSERT_EQ(VLONG_mpintByteStringFromVlong(v.get(), &m, &len), 0);
    EXPECT_EQ(ToHex(m, static_cast<size_t>(len)), hex) << value;
    Free(m);
  }
  uint8_t *none = nullptr;
  int32_t used = 7;
  EXPECT_EQ(VLONG_mpintByteStringFromVlong(nullptr, &none, &used), -6001);
  EXPECT_EQ(used, 0) << "a refusal says it wrote nothing";
  EXPECT_EQ(VLONG_mpintByteStringFromVlong(nullptr, &none, nullptr), -6001);
  const uint8_t minus128[] = {0, 0, 0, 1, 0x80};
  V v;
  ASSERT_EQ(VLONG_newFromMpintBytes(minus128, 5, v.out(), &used), 0);
  EXPECT_EQ(Str(v.get()), "-80");
  EXPECT_EQ(used, 5);
  const uint8_t tooLong[] = {0, 0, 0, 2, 0x80};
  V bad;
  EXPECT_EQ(VLONG_newFromMpintBytes(tooLong, 5, bad.out(), &used), -6003);
  EXPECT_EQ(bad.p, nullptr);
  const uint8_t negative[] = {0x80, 0, 0, 0};
  EXPECT_EQ(VLONG_newFromMpintBytes(negative, 4, bad.out(), &used), -6003);
  EXPECT_EQ(VLONG_newFromMpintBytes(minus128, 3, bad.out(), &used), -6003);
  const Bytes longNegative = FromHex("00000028ff" + std::string(78, '1'));
  Mpz stored(("ff" + std::string(78, '1')).c_str()), want;
  mpz_ui_pow_ui(want.z, 2, 320);
  mpz_sub(want.z, stored.z, want.z);  // two's complement in 320 bits
  const int64_t failed = FailAllocationsInTurn([&] {
    V r;
    const int32_t st = VLONG_newFromMpintBytes(longNegative.data(), 44, r.out(), &used);
    EXPECT_EQ(r.p ? Str(r.get()) : "null", st ? "null" : want.Hex());
    return st;
  });
  EXPECT_GT(failed, 1);  // the record, then the units of 40 bytes
}

TEST(Vlong, RecordRules) {
  V v;
  ASSERT_EQ(VLONG_allocVlong(v.out(), nullptr), 0);
  EXPECT_EQ(v->capacity, 0u);
  ASSERT_EQ(VLONG_reallocVlong(v.get(), 5), 0);
  EXPECT_EQ(v->capacity, 8u);  // (5 + 6) & ~3
  EXPECT_EQ(reinterpret_cast<uintptr_t>(v->units) % 16, 0u);
  ASSERT_EQ(kel::bignum::expandVlongNoCopy(v.get(), 9), 0);
  EXPECT_EQ(v->capacity, 12u);  // (9 + 4) & ~3
  ASSERT_EQ(VLONG_setVlongUnit(v.get(), 3, 7), 0);
  EXPECT_EQ(v->length, 4u);
  ASSERT_EQ(VLONG_setVlongUnit(v.get(), 9, 0), 0);  // beyond the length: no change
  EXPECT_EQ(v->length, 4u);
  ASSERT_EQ(VLONG_setVlongUnit(v.get(), 3, 0), 0);  // top unit cleared: all trimmed
  EXPECT_EQ(v->length, 0u);
  EXPECT_EQ(VLONG_bitLength(v.get()), 0u);
  uint8_t four[4] = {1, 2, 3, 4};
  int32_t n = 4;
  ASSERT_EQ(VLONG_byteStringFromVlong(v.get(), four, &n), 0);
  EXPECT_EQ(four[0] | four[1] | four[2] | four[3], 0);

  v->isNegative = 1;  // negative zero
  V zero;
  ASSERT_EQ(VLONG_makeVlongFromUnsignedValue(0, zero.out(), nullptr), 0);
  EXPECT_EQ(VLONG_compareSignedVlongs(v.get(), zero.get()), 0);
  EXPECT_EQ(VLONG_compareUnsigned(v.get(), 0), -1);
  EXPECT_EQ(VLONG_compareUnsigned(zero.get(), 0), 0);
  EXPECT_EQ(VLONG_compareUnsigned(zero.get(), 1), -1);

  EXPECT_EQ(VLONG_setVlongBit(v.get(), 32 * 8192 - 1), 0);
  EXPECT_EQ(v->length, 8192u);
  EXPECT_EQ(VLONG_getVlongUnit(v.get(), 8191), 0x80000000u);
  EXPECT_EQ(VLONG_getVlongUnit(v.get(), 8192), 0u);
  EXPECT_EQ(VLONG_setVlongUnit(v.get(), 8192, 1), -6003);
  EXPECT_EQ(VLONG_reallocVlong(v.get(), 8193), -6003);
  EXPECT_EQ(VLONG_shlXvlong(v.get(), 1), -6003);
  EXPECT_EQ(VLONG_shrXvlong(v.get(), 32 * 8191), 0);
  v->isNegative = 1;
  ASSERT_EQ(VLONG_clearVlong(v.get()), 0);  // positive zero, the buffer kept
  EXPECT_TRUE(v->length == 0 && !v->isNegative && v->capacity >= 8192);
  std::vector<uint8_t> big(32769, 0xff);
  V full, tooBig;
  EXPECT_EQ(VLONG_vlongFromByteString(big.data(), 32768, full.out(), nullptr), 0);
  EXPECT_EQ(full->length, 8192u);
  V one = FromHex("1");
  EXPECT_EQ(VLONG_addSignedVlongs(full.get(), one.get(), nullptr), -6003) << "the carry would need unit 8192";
  big[32767] = 0xfe;  // 1 + (2^(32 8192) - 2): the short operand takes the long one's length, no carry
  V almost, sum = FromHex("1");
  ASSERT_EQ(VLONG_vlongFromByteString(big.data(), 32768, almost.out(), nullptr), 0);
  ASSERT_EQ(VLONG_addSignedVlongs(sum.get(), almost.get(), nullptr), 0);
  EXPECT_EQ(sum->length, 8192u);
  EXPECT_EQ(VLONG_getVlongUnit(sum.get(), 0) & VLONG_getVlongUnit(sum.get(), 8191), 0xffffffffu);
  EXPECT_EQ(VLONG_vlongFromByteString(big.data(), 32769, tooBig.out(), nullptr), -6003);
  EXPECT_EQ(tooBig.p, nullptr);
  EXPECT_EQ(VLONG_vlongFromByteString(big.data(), -1, tooBig.out(), nullptr), -6003);
  const std::vector<uint32_t> words(8193, 1);
  EXPECT_EQ(VLONG_vlongFromUByte4String(words.data(), 8193, tooBig.out()), -6003);
  const uint8_t zeros[8] = {};
  V empty;
  ASSERT_EQ(VLONG_vlongFromByteString(zeros, 8, empty.out(), nullptr), 0);  // leading zeros only: no units
  EXPECT_EQ(empty->length, 0u);

  EXPECT_EQ(VLONG_allocVlong(nullptr, nullptr), -6001);
  vlong *none = nullptr;
  EXPECT_EQ(VLONG_freeVlong(&none, nullptr), -6001);
  EXPECT_EQ(VLONG_freeVlongQueue(nullptr), 0);
  EXPECT_EQ(VLONG_copySignedValue(nullptr, zero.get()), -6001);
  EXPECT_EQ(VLONG_clearVlong(nullptr), -6001);
  EXPECT_EQ(VLONG_unsignedDivide(v.get(), zero.get(), zero.get(), full.get(), nullptr), -6002);
  EXPECT_EQ(VLONG_operatorDivideSignedVlongs(v.get(), zero.get(), tooBig.out(), nullptr), -6002);
  EXPECT_EQ(VLONG_operatorModSignedVlongs(v.get(), zero.get(), tooBig.out(), nullptr), -6002);
  EXPECT_EQ(VLONG_modularInverse(nullptr, zero.get(), tooBig.out(), nullptr), -6001);
  V left;  // a result slot that still holds a value is cleared (not released) before the refusal
  ASSERT_EQ(VLONG_allocVlong(left.out(), nullptr), 0);
  vlong *held = left.get();
  EXPECT_EQ(VLONG_operatorModSignedVlongs(nullptr, zero.get(), left.out(), nullptr), -6001);
  EXPECT_EQ(left.p, nullptr);
  left.p = held;
  // Signed zero and small signed steps (signed division is the differential's):
  // x + (-x) keeps x's sign on a zero, which still compares equal to zero.
  V three = FromHex("3"), seven = FromHex("7"), nought = FromHex("0"), n3 = FromHex("-3"), inv0;
  ASSERT_EQ(VLONG_modularInverse(nought.get(), seven.get(), inv0.out(), nullptr), 0);
  EXPECT_EQ(Str(inv0.get()), "0");
  ASSERT_EQ(VLONG_addSignedVlongs(three.get(), n3.get(), nullptr), 0);
  EXPECT_TRUE(VLONG_isVlongZero(three.get()));
  EXPECT_EQ(VLONG_compareSignedVlongs(three.get(), nought.get()), 0);
  ASSERT_EQ(VLONG_increment(n3.get(), nullptr), 0);
  ASSERT_EQ(VLONG_decrement(nought.get(), nullptr), 0);
  ASSERT_EQ(VLONG_addImmediate(seven.get(), 0xffffffffu, nullptr), 0);
  EXPECT_EQ(Str(n3.get()), "-2");
  EXPECT_EQ(Str(nought.get()), "-1");
  EXPECT_EQ(Str(seven.get()), "100000006");
}

// Operands at the ceiling: 4096 x 4096 units fill 8192; the quotient and
// remainder of that product come back exactly.
TEST(Vlong, CeilingOperands) {
  ForEachCpuPath([] {
    Operands ops(19);
    Mpz x, y, p, q, r;
    mpz_urandomb(x, ops.state(), 32 * 4096);
    mpz_setbit(x, 32 * 4096 - 1);
    mpz_urandomb(y, ops.state(), 32 * 4096 - 5);
    mpz_mul(p, x, y);
    V vx = FromMpz(x), vy = FromMpz(y), vp, vq, vr = FromHex("-1");  // the remainder's old sign must go
    ASSERT_EQ(VLONG_allocVlong(vp.out(), nullptr), 0);
    ASSERT_EQ(VLONG_unsignedMultiply(vp.get(), vx.get(), vx.get()), 0);
    EXPECT_EQ(vp->length, 8192u);
    ASSERT_EQ(VLONG_unsignedMultiply(vp.get(), vx.get(), vy.get()), 0);
    EXPECT_EQ(Str(vp.get()), p.Hex());
    ASSERT_EQ(VLONG_addImmediate(vp.get(), 12345, nullptr), 0);
    ASSERT_EQ(VLONG_allocVlong(vq.out(), nullptr), 0);
    ASSERT_EQ(VLONG_unsignedDivide(vq.get(), vp.get(), vx.get(), vr.get(), nullptr), 0);
    EXPECT_EQ(Str(vq.get()), y.Hex());
    EXPECT_EQ(Str(vr.get()), "3039");
    // Outputs over operands: the quotient over the dividend, the remainder over the divisor.
    ASSERT_EQ(VLONG_unsignedDivide(vp.get(), vp.get(), vx.get(), vx.get(), nullptr), 0);
    EXPECT_EQ(Str(vp.get()) + " " + Str(vx.get()), y.Hex() + " 3039");
  });
}

}  // namespace
}  // namespace kel::test
