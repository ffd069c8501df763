// Against OpenSSL: scalar multiples (double-and-add, combs of w = 2 to 8, A + kP)
// and ECDH on edge and random scalars, and ECDSA both ways.
#include "pubkey_test_util.h"

namespace kel::test {
namespace {

class EcOpenSsl : public RandomTest, public ::testing::WithParamInterface<CurveCase> {};
INSTANTIATE_TEST_SUITE_P(Curves, EcOpenSsl, ::testing::ValuesIn(Curves()),
                         [](const auto &info) { return std::string(info.param.name); });

std::vector<Bytes> Scalars(const CurveCase &c, int randomCount) {
  std::vector<Bytes> out = {Bytes(c.bytes(), 0), Bytes(c.bytes(), 0), Bytes(c.bytes(), 0)};
  out[1].back() = 1;
  out[2].back() = 2;
  for (int delta : {-1, 0, 1}) {  // n - 1, n, n + 1: its last byte is neither 00 nor ff
    out.push_back(ToBytes(c, c.curve->order));
    out.back().back() += delta;
  }
  out.push_back(Bytes(c.bytes(), 0xff));
  for (int i = 0; i < randomCount; ++i) out.push_back(Random(c.bytes()));
  return out;
}

TEST_P(EcOpenSsl, ScalarMultiplesMatchForEveryMethod) {
  const CurveCase c = GetParam();
  Oracle o(c.nid);
  Bytes pointBytes = o.Mul(Random(c.bytes()), nullptr, c.bytes());  // P = t G, SEC 1 encoded
  pointBytes.insert(pointBytes.begin(), 4);
  const Units px = ToUnits(c, Bytes(pointBytes.begin() + 1, pointBytes.begin() + 1 + c.bytes()));
  const Units py = ToUnits(c, Bytes(pointBytes.begin() + 1 + c.bytes(), pointBytes.end()));
  std::vector<uint32_t *> tables;
  uint32_t *tableG = nullptr;
  ASSERT_EQ(EC_precomputeCombOfCurve(c.curve, 5, &tableG), 0);
  for (int32_t w = 2; w <= 8; ++w) {
    uint32_t *t = nullptr;
    ASSERT_EQ(EC_precomputeComb(c.curve->field, px.data(), py.data(), w, &t), 0);
    tables.push_back(t);
  }
  for (const Bytes &k : Scalars(c, 6)) {
    SCOPED_TRACE(ToHex(k));
    const Bytes expected = o.Mul(k, &pointBytes, c.bytes());
    const Bytes expectedG = o.Mul(k, nullptr, c.bytes());
    const Units ku = ToUnits(c, k);
    Units x(c.n()), y(c.n());
    auto got = [&] {  // x || y, empty for (0, 0) as the oracle writes infinity
      Bytes b = ToBytes(c, x.data()), yb = ToBytes(c, y.data());
      b.insert(b.end(), yb.begin(), yb.end());
      return b == Bytes(2 * c.bytes(), 0) ? Bytes{} : b;
    };
    ASSERT_EQ(EC_multiplyPoint(c.curve->field, x.data(), y.data(), ku.data(), px.data(), py.data()), 0);
    EXPECT_EQ(ToHex(got()), ToHex(expected)) << "double-and-add";
    for (int32_t w = 2; w <= 8; ++w) {
      ASSERT_EQ(EC_multiplyPointEx(c.curve->field, x.data(), y.data(), ku.data(), px.data(), py.data(), w,
                                   tables[w - 2]), 0);
      EXPECT_EQ(ToHex(got()), ToHex(expected)) << "comb w=" << w;
    }
    // ECDH with P as the peer: x alone, or x || y from the unchecked entry (zeros for infinity)
    for (int32_t both : {0, 1}) {
      uint8_t *secret = nullptr;
      int32_t len = 0;
      ASSERT_EQ(both ? ECDH_generateSharedSecretAux(c.curve, px.data(), py.data(), ku.data(), &secret, &len, 0)
                     : ECDH_generateSharedSecret(c.curve, pointBytes.data(), int32_t(pointBytes.size()), ku.data(),
                                                 &secret, &len), 0);
      const Bytes want = expected.empty() ? Bytes(2 * c.bytes(), 0) : expected;
      EXPECT_EQ(ToHex(secret, len), ToHex(want.data(), both ? want.size() : c.bytes())) << "ECDH";
      Free(secret);
    }
    ASSERT_EQ(EC_multiplyPoint(c.curve->field, x.data(), y.data(), ku.data(), c.curve->baseX, c.curve->baseY), 0);
    EXPECT_EQ(ToHex(got()), ToHex(expectedG)) << "k G";
    // A + k P with A = G, against k P + G from the oracle (k + t for P = t G is not known here)
    ASSERT_EQ(EC_addMultiplyPoint(c.curve->field, x.data(), y.data(), c.curve->baseX, c.curve->baseY, ku.data(),
                                  c.curve->baseX, c.curve->baseY), 0);
    Bytes k1 = k;  // k + 1 mod 2^(32n): a wrap only for all ones, skipped
    if (k != Bytes(c.bytes(), 0xff)) {
      for (size_t i = k1.size(); i-- > 0 && ++k1[i] == 0;) {}
      EXPECT_EQ(ToHex(got()), ToHex(o.Mul(k1, nullptr, c.bytes()))) << "G + k G";
      ASSERT_EQ(EC_addMultiplyPointEx(c.curve->field, x.data(), y.data(), c.curve->baseX, c.curve->baseY, ku.data(),
                                      c.curve->baseX, c.curve->baseY, 5, tableG), 0);
      EXPECT_EQ(ToHex(got()), ToHex(o.Mul(k1, nullptr, c.bytes()))) << "G + k G, comb";
    }
  }
  tables.push_back(tableG);
  for (uint32_t *t : tables) Free(t);
}

TEST_P(EcOpenSsl, SignaturesCrossVerify) {
  const CurveCase c = GetParam();
  EC_KEY *key = EC_KEY_new_by_curve_name(c.nid);
  uint32_t *tableG = nullptr;
  ASSERT_EQ(EC_precomputeCombOfCurve(c.curve, 4, &tableG), 0);
  for (int round = 0; round < 8; ++round) {
    ASSERT_EQ(EC_KEY_generate_key(key), 1);
    Bytes d(c.bytes()), q(2 * c.bytes() + 1);
    BN_bn2binpad(EC_KEY_get0_private_key(key), d.data(), int(d.size()));
    EC_POINT_point2oct(EC_KEY_get0_group(key), EC_KEY_get0_public_key(key), POINT_CONVERSION_UNCOMPRESSED, q.data(),
                       q.size(), nullptr);
    const Units du = ToUnits(c, d);
    const Units qx = ToUnits(c, Bytes(q.begin() + 1, q.begin() + 1 + c.bytes()));
    const Units qy = ToUnits(c, Bytes(q.begin() + 1 + c.bytes(), q.end()));
    const Bytes hash = Random(std::vector<size_t>{20, 28, 32, 48, 64}[round % 5]);
    const int hashLen = static_cast<int>(hash.size());
    Units r(c.n()), s(c.n());
    ASSERT_EQ(ECDSA_RAC_sign(c.curve, du.data(), OpenSslRng, nullptr, hash.data(), hashLen, r.data(), s.data()), 0);
    ECDSA_SIG *sig = ECDSA_SIG_new();
    const Bytes rb = ToBytes(c, r.data()), sb = ToBytes(c, s.data());
    ECDSA_SIG_set0(sig, BN_bin2bn(rb.data(), int(rb.size()), nullptr), BN_bin2bn(sb.data(), int(sb.size()), nullptr));
    EXPECT_EQ(ECDSA_do_verify(hash.data(), hashLen, sig, key), 1) << "hash " << hashLen;
    ECDSA_SIG_free(sig);
    sig = ECDSA_do_sign(hash.data(), hashLen, key);
    Bytes r2(c.bytes()), s2(c.bytes());
    BN_bn2binpad(ECDSA_SIG_get0_r(sig), r2.data(), int(r2.size()));
    BN_bn2binpad(ECDSA_SIG_get0_s(sig), s2.data(), int(s2.size()));
    ECDSA_SIG_free(sig);
    EXPECT_EQ(ECDSA_verifySignature(c.curve, qx.data(), qy.data(), hash.data(), hashLen, ToUnits(c, r2).data(),
                                    ToUnits(c, s2).data()), 0);
    Bytes other = hash;
    other[0] ^= 1;
    EXPECT_EQ(ECDSA_verifySignature(c.curve, qx.data(), qy.data(), other.data(), hashLen, ToUnits(c, r2).data(),
                                    ToUnits(c, s2).data()), ERR_EC_INVALID);
    Units wrong = du;
    wrong[0] ^= 1;
    EXPECT_EQ(EC_verifyKeyPairEx(c.curve, du.data(), qx.data(), qy.data(), 4, tableG), 0);
    EXPECT_EQ(EC_verifyKeyPair(c.curve, du.data(), qx.data(), qy.data()), 0);
    EXPECT_EQ(EC_verifyKeyPairEx(c.curve, wrong.data(), qx.data(), qy.data(), 4, tableG), ERR_EC_INVALID);
  }
  Free(tableG);
  EC_KEY_free(key);
}

}  // namespace
}  // namespace kel::test
