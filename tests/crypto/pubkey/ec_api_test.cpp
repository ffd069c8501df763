// The curve entries as callers meet them: encodings, decompression, key checks,
// signatures' edges, key objects, the consistency test, the gate and threads.
#include <thread>

#include "pubkey_test_util.h"

namespace kel::test {
namespace {

class EcApi : public RandomTest, public ::testing::WithParamInterface<CurveCase> {
 protected:
  const CurveCase &C() const { return GetParam(); }
  Bytes Encoded(const Units &x, const Units &y) const {
    Bytes b = {4}, xb = ToBytes(C(), x.data()), yb = ToBytes(C(), y.data());
    b.insert(b.end(), xb.begin(), xb.end());
    b.insert(b.end(), yb.begin(), yb.end());
    return b;
  }
  // G, its encoding, 0 and 1 (with a spare unit, as ToUnits gives)
  const Units gx{C().curve->baseX, C().curve->baseX + C().n()}, gy{C().curve->baseY, C().curve->baseY + C().n()};
  const Units zero = Units(C().n() + 1, 0), one = [&] { Units u = zero; u[0] = 1; return u; }();
  const Bytes g = Encoded(gx, gy);
};
INSTANTIATE_TEST_SUITE_P(Curves, EcApi, ::testing::ValuesIn(Curves()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(EcApi, PointDecodingAndItsRefusals) {
  Bytes plusOne = g;
  plusOne[2 * C().bytes()] ^= 1;  // y + 1 or y - 1: off the curve
  const Bytes xAboveP = Encoded(Units(C().n(), 0xffffffff), gy);
  auto with = [&](uint8_t first) { Bytes b = g; b[0] = first; return b; };
  const struct { const char *what; Bytes in; int32_t status; } cases[] = {
      {"G", g, 0}, {"06", with(6), 0}, {"07", with(7), 0}, {"02", with(2), ERR_EC_BAD_POINT_FORMAT},
      {"short", Bytes(g.begin(), g.end() - 1), ERR_EC_BAD_POINT_LENGTH}, {"00", Bytes{0}, ERR_EC_BAD_POINT_LENGTH},
      {"off curve", plusOne, ERR_EC_INVALID}, {"x above p", xAboveP, ERR_EC_BAD_COORDINATE}};
  for (const auto &c : cases) {
    uint32_t *x = nullptr, *y = nullptr;
    EXPECT_EQ(EC_byteStringToPoint(C().curve, c.in.data(), int32_t(c.in.size()), &x, &y), c.status) << c.what;
    if (c.status == 0) {
      EXPECT_EQ(Units(x, x + C().n()), gx);
      EXPECT_EQ(Units(y, y + C().n()), gy);
      PRIMEFIELD_deleteElement(C().curve->field, &x);
      PRIMEFIELD_deleteElement(C().curve->field, &y);
    }
    EXPECT_TRUE(c.status == 0 || (x == nullptr && y == nullptr)) << c.what;
  }
  for (int64_t k = 0; k < 2; ++k) {  // either element's allocation may fail
    uint32_t *x = nullptr, *y = nullptr;
    kel::mem::fail_after(k);
    EXPECT_EQ(EC_byteStringToPoint(C().curve, g.data(), int32_t(g.size()), &x, &y), ERR_EC_OUT_OF_MEMORY);
    EXPECT_EQ(x, nullptr);
  }
}

TEST_P(EcApi, PointEncodingAndOrder) {
  int32_t len = 0;
  for (auto [x, y, want] :
       {std::tuple{&gx, &gy, g}, {&zero, &zero, Bytes{0}}, {&zero, &gy, Bytes{0}}}) {
    uint8_t *buf = nullptr;
    ASSERT_EQ(EC_pointToByteString(C().curve, x->data(), y->data(), &buf, &len), 0);
    EXPECT_EQ(Bytes(buf, buf + len), want);
    Free(buf);
  }
  Bytes out(2 * C().bytes() + 1, 0xaa);
  EXPECT_EQ(EC_writePointToBuffer(C().curve, gx.data(), gy.data(), out.data(), int32_t(out.size()) - 1),
            ERR_EC_BUFFER_TOO_SMALL);
  EXPECT_EQ(out, Bytes(out.size(), 0xaa));
  ASSERT_EQ(EC_writePointToBuffer(C().curve, gx.data(), gy.data(), out.data(), int32_t(out.size())), 0);
  EXPECT_EQ(out, g);
  ASSERT_EQ(EC_writePointToBuffer(C().curve, zero.data(), zero.data(), out.data(), 1), 0);
  EXPECT_EQ(out[0], 0);
  // Reducing by the order subtracts it while the element exceeds it (the
  // order itself stays).
  Units order(C().n()), e(C().n()), five(C().n(), 0);
  five[0] = 5;
  ASSERT_EQ(EC_getOrder(C().curve, order.data()), 0);
  for (uint32_t add : {0u, 5u}) {
    e = order;
    e[0] += add;
    ASSERT_EQ(EC_modOrder(C().curve, e.data()), 0);
    EXPECT_EQ(e, add ? five : order) << add;
  }
  for (int32_t st : {EC_getPrime(C().curve, nullptr), EC_getOrder(nullptr, e.data()), EC_modOrder(C().curve, nullptr)})
    EXPECT_EQ(st, ERR_EC_NULL_POINTER);
}

// Decompression to either root (the other is -G, and G + -G is infinity), a
// non-square x, and the public-key check that refuses a real point with x = 0.
TEST_P(EcApi, DecompressionAndPublicKeyChecks) {
  EcPoint *pt = nullptr, *neg = nullptr, *sum = nullptr;
  ASSERT_EQ(EC_newPoint(C().curve, &pt) | EC_newPoint(C().curve, &neg) | EC_newPoint(C().curve, &sum), 0);
  ASSERT_EQ(EC_decompress(C().curve, pt, gx.data(), gy[0] & 1), 0);
  EXPECT_TRUE(Units(pt->x, pt->x + C().n()) == gx && Units(pt->y, pt->y + C().n()) == gy);
  ASSERT_EQ(EC_decompress(C().curve, neg, gx.data(), (gy[0] & 1) ^ 1), 0);
  ASSERT_EQ(EC_pointAdd(sum, pt, neg), 0);
  EXPECT_EQ(ToBytes(C(), sum->x), Bytes(C().bytes(), 0));
  ASSERT_EQ(EC_pointInverse(pt, pt), 0);
  EXPECT_EQ(Units(pt->y, pt->y + C().n()), Units(neg->y, neg->y + C().n()));
  Units bad = gx;
  for (bad[0] += 1; EC_decompress(C().curve, pt, bad.data(), 0) == 0; ++bad[0]) {}
  EXPECT_EQ(EC_decompress(C().curve, pt, bad.data(), 0), ERR_EC_NOT_A_SQUARE);
  // (0, sqrt(b)) is on the curve but is no acceptable public key
  ASSERT_EQ(EC_decompress(C().curve, pt, zero.data(), 0), 0);
  EXPECT_EQ(EC_verifyPoint(C().curve, pt->x, pt->y), 0);
  EXPECT_EQ(EC_verifyPublicKey(C().curve, pt->x, pt->y), ERR_EC_INVALID);
  EXPECT_EQ(EC_verifyPublicKey(C().curve, gx.data(), C().curve->field->prime), ERR_EC_INVALID);
  EXPECT_EQ(EC_verifyPoint(C().curve, gx.data(), nullptr), ERR_EC_NULL_POINTER);
  EXPECT_EQ(EC_verifyPublicKey(C().curve, gx.data(), nullptr), ERR_EC_NULL_POINTER);
  for (EcPoint *p : {pt, neg, sum}) Free(p);
}

// A scripted nonce k gives r = x(k G) mod n (G by OpenSSL); the nonces n and 0
// are drawn again, n - 1 is taken, a nonce giving s = 0 is drawn again 64 times
// at most, and a failing generator ends signing; a private key of 0 is drawn again.
TEST_P(EcApi, FixedNonceSignatures) {
  Oracle o(C().nid);
  Units d(C().n()), qx(C().n()), qy(C().n()), r(C().n()), s(C().n());
  ASSERT_EQ(EC_generateKeyPair(C().curve, OpenSslRng, nullptr, d.data(), qx.data(), qy.data()), 0);
  Bytes k = Random(C().bytes());
  k[0] = 0x7f;  // below n
  const Bytes hash = Random(C().bytes() + 16), kG = o.Mul(k, nullptr, C().bytes());
  ScriptedRng rng{{ToBytes(C(), C().curve->order), Bytes(C().bytes(), 0), k}};
  ASSERT_EQ(ECDSA_RAC_sign(C().curve, d.data(), ScriptedRng::Fun, &rng, hash.data(), int32_t(hash.size()), r.data(),
                           s.data()), 0);
  EXPECT_EQ(rng.calls, 3);
  Units x = ToUnits(C(), Bytes(kG.begin(), kG.begin() + C().bytes()));
  ASSERT_EQ(EC_modOrder(C().curve, x.data()), 0);
  EXPECT_EQ(ToHex(ToBytes(C(), r.data())), ToHex(ToBytes(C(), x.data())));
  EXPECT_EQ(ECDSA_verifySignature(C().curve, qx.data(), qy.data(), hash.data(), int32_t(hash.size()), r.data(),
                                  s.data()), 0);
  EXPECT_EQ(ECDSA_RAC_sign(C().curve, d.data(), ScriptedRng::Fun, &rng, hash.data(), 8, r.data(), s.data()), -17999);
  // n - 1, the largest nonce, is taken at the first draw (n is odd).
  Bytes top = ToBytes(C(), C().curve->order);
  --top.back();
  ScriptedRng last{{top}};
  ASSERT_EQ(ECDSA_RAC_sign(C().curve, d.data(), ScriptedRng::Fun, &last, hash.data(), 8, r.data(), s.data()), 0);
  EXPECT_EQ(last.calls, 1);
  EXPECT_EQ(ECDSA_verifySignature(C().curve, qx.data(), qy.data(), hash.data(), 8, r.data(), s.data()), 0);
  // A hash e = -d r (mod n) makes s = 0 for the nonce k: 64 draws, then refused.
  Mpz e(d), order(Units(C().curve->order, C().curve->order + C().n()));
  mpz_mul(e, e, Mpz(x));
  mpz_neg(e, e);
  mpz_mod(e, e, order);
  const Bytes zeroing = ToBytes(C(), e.units(C().n()).data());
  ScriptedRng stuck{std::deque<Bytes>(64, k)};
  stuck.queue.push_back(top);
  EXPECT_EQ(ECDSA_RAC_sign(C().curve, d.data(), ScriptedRng::Fun, &stuck, zeroing.data(), int32_t(zeroing.size()),
                           r.data(), s.data()), ERR_EC_INVALID);
  EXPECT_EQ(stuck.calls, 64);
  // (signing alone would not show it: a nonce of 0 gives r = 0, drawn again)
  ScriptedRng keys{{Bytes(C().bytes(), 0), k, k}};  // the third draw: the pairwise test's nonce
  ASSERT_EQ(EC_generateKeyPair(C().curve, ScriptedRng::Fun, &keys, d.data(), qx.data(), qy.data()), 0);
  EXPECT_EQ(ToHex(ToBytes(C(), d.data())), ToHex(k));
}

TEST_P(EcApi, SignatureRangesAndWindows) {
  const Units n(C().curve->order, C().curve->order + C().n());
  const uint8_t hash[32] = {1};
  for (const auto &[r, s] : {std::pair{&zero, &one}, {&one, &zero}, {&n, &one}, {&one, &n}})
    EXPECT_EQ(ECDSA_verifySignature(C().curve, gx.data(), gy.data(), hash, 32, r->data(), s->data()), ERR_EC_INVALID);
  int32_t size = 0;
  Units x(C().n()), y(C().n());
  for (int32_t w : {1, 17}) EXPECT_EQ(EC_combSize(C().curve->field, w, &size), ERR_EC_BAD_WINDOW) << w;
  EXPECT_EQ(EC_multiplyPointEx(C().curve->field, x.data(), y.data(), one.data(), gx.data(), gy.data(), 3, nullptr),
            ERR_EC_NULL_POINTER);
  EXPECT_EQ(EC_multiplyPointEx(C().curve->field, x.data(), y.data(), one.data(), gx.data(), gy.data(), 1, one.data()),
            ERR_EC_BAD_WINDOW);
  EXPECT_EQ(ECDSA_signEx(C().curve, one.data(), OpenSslRng, nullptr, hash, 32, 4, nullptr, x.data(), y.data()),
            ERR_EC_NULL_POINTER);
  EXPECT_EQ(EC_generateKeyPairEx(C().curve, nullptr, nullptr, 0, nullptr, x.data(), x.data(), y.data()),
            ERR_EC_NULL_POINTER);
  EXPECT_EQ(ECDSA_verifySignatureEx(C().curve, gx.data(), gy.data(), hash, 32, 0, nullptr, 1, one.data(), one.data(),
                                    one.data()), ERR_EC_BAD_WINDOW);
  Units d(C().n()), qx(C().n()), qy(C().n()), r(C().n()), s(C().n());
  ASSERT_EQ(EC_generateKeyPair(C().curve, OpenSslRng, nullptr, d.data(), qx.data(), qy.data()), 0);
  ASSERT_EQ(ECDSA_RAC_sign(C().curve, d.data(), OpenSslRng, nullptr, hash, 32, r.data(), s.data()), 0);
  uint32_t *tg = nullptr, *tq = nullptr;
  ASSERT_EQ(EC_precomputeCombOfCurve(C().curve, 4, &tg), 0);
  ASSERT_EQ(EC_precomputeComb(C().curve->field, qx.data(), qy.data(), 5, &tq), 0);
  EXPECT_EQ(ECDSA_verifySignatureEx(C().curve, qx.data(), qy.data(), hash, 32, 4, tg, 5, tq, r.data(), s.data()), 0);
  s[0] ^= 4;
  EXPECT_EQ(ECDSA_verifySignatureEx(C().curve, qx.data(), qy.data(), hash, 32, 4, tg, 5, tq, r.data(), s.data()),
            ERR_EC_INVALID);
  for (uint32_t *t : {tg, tq}) Free(t);
}

TEST_P(EcApi, KeyObjects) {
  EcKey *key = nullptr, *copy = nullptr;
  kel::mem::fail_after(0);
  EXPECT_EQ(EC_newKey(C().curve, &key), ERR_EC_OUT_OF_MEMORY);
  EXPECT_EQ(key, nullptr);
  ReleaseWatch watch;
  ASSERT_EQ(EC_newKey(C().curve, &key), 0);
  EXPECT_EQ(key->hasPrivateKey, 0u);
  // the private scalar is checked against p, not the order: p itself is taken
  const Bytes p = ToBytes(C(), C().curve->field->prime), above(C().bytes(), 0xff);
  EXPECT_EQ(EC_setKeyParameters(key, g.data(), int32_t(g.size()), above.data(), int32_t(above.size())),
            ERR_EC_BAD_COORDINATE);
  EXPECT_EQ(key->hasPrivateKey, 0u);
  ASSERT_EQ(EC_setKeyParameters(key, g.data(), int32_t(g.size()), p.data(), int32_t(p.size())), 0);
  EXPECT_EQ(key->hasPrivateKey, 1u);
  ASSERT_EQ(EC_setKeyParameters(key, g.data(), int32_t(g.size()), nullptr, 0), 0);
  EXPECT_EQ(key->hasPrivateKey, 0u);
  EXPECT_EQ(Units(key->publicY, key->publicY + C().n()), gy);
  ASSERT_EQ(EC_cloneKey(&copy, key), 0);
  EXPECT_NE(copy->publicX, key->publicX);
  uint8_t equal = 9;
  ASSERT_EQ(EC_equalKey(key, copy, &equal), 0);
  EXPECT_EQ(equal, 1);
  copy->publicY[0] ^= 1;
  ASSERT_EQ(EC_equalKey(key, copy, &equal), 0);
  EXPECT_EQ(equal, 0);
  EXPECT_EQ(EC_deleteKey(&copy), 0);
  EXPECT_EQ(EC_deleteKey(&key), 0);
  EXPECT_EQ(ReleaseWatch::dirty, 0) << "keys are wiped before release";
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(EC_deleteKey(&key), ERR_EC_NULL_POINTER);
  EXPECT_EQ(EC_cloneKey(&copy, nullptr), ERR_EC_NULL_POINTER);
}

TEST_P(EcApi, ConsistencyTestFailureShutsTheGate) {
  Units d(C().n()), qx(C().n()), qy(C().n());
  ASSERT_EQ(EC_generateKeyPair(C().curve, OpenSslRng, nullptr, d.data(), qx.data(), qy.data()), 0);
  EXPECT_EQ(EC_generateKey_FIPS_consistancy_test(C().curve, OpenSslRng, nullptr, d.data(), qx.data(), qy.data()), 0);
  d[0] ^= 1;  // Q no longer belongs to d
  EXPECT_EQ(EC_generateKey_FIPS_consistancy_test(C().curve, OpenSslRng, nullptr, d.data(), qx.data(), qy.data()),
            ERR_EC_PAIRWISE_TEST);
  EXPECT_EQ(gFIPS_powerupStatus, ERR_EC_PAIRWISE_TEST);
  EXPECT_EQ(EC_generateKeyPair(C().curve, OpenSslRng, nullptr, d.data(), qx.data(), qy.data()), ERR_EC_PAIRWISE_TEST);
}

TEST_P(EcApi, GateCoversTheApprovedEntriesOnly) {
  Units x(C().n(), 0x11), y(C().n(), 0x11);
  const Units untouched = x;
  uint32_t *table = nullptr;
  EcKey *key = nullptr, *copy = nullptr;
  ASSERT_EQ(EC_newKey(C().curve, &key), 0);
  const uint8_t hash[32] = {};
  gFIPS_powerupStatus = -16508;
  const int32_t gated[] = {
      EC_precomputeComb(C().curve->field, gx.data(), gy.data(), 4, &table),
      EC_precomputeCombOfCurve(C().curve, 4, &table),
      EC_multiplyPoint(C().curve->field, x.data(), y.data(), one.data(), gx.data(), gy.data()),
      EC_generateKeyPair(C().curve, OpenSslRng, nullptr, x.data(), x.data(), y.data()),
      EC_generateKey_FIPS_consistancy_test(C().curve, OpenSslRng, nullptr, one.data(), gx.data(), gy.data()),
      EC_cloneKey(&copy, key),
      ECDSA_RAC_sign(C().curve, one.data(), OpenSslRng, nullptr, hash, 32, x.data(), y.data()),
      ECDSA_verifySignature(C().curve, gx.data(), gy.data(), hash, 32, one.data(), one.data()),
      EC_multiplyPointEx(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 1, nullptr),
  };
  for (size_t i = 0; i < std::size(gated); ++i) EXPECT_EQ(gated[i], -16508) << "entry " << i;
  EXPECT_EQ(x, untouched);
  EXPECT_EQ(table, nullptr);
  EXPECT_EQ(copy, nullptr);
  // ECDH, point checks and encodings do not wait for the self-test
  EXPECT_EQ(EC_verifyPublicKey(C().curve, gx.data(), gy.data()), 0);
  EXPECT_EQ(EC_addMultiplyPoint(C().curve->field, x.data(), y.data(), nullptr, nullptr, one.data(), gx.data(), gy.data()), 0);
  EXPECT_EQ(x, gx);
  uint8_t *z = nullptr;
  int32_t len = 0;
  EXPECT_EQ(ECDH_generateSharedSecretAux(C().curve, gx.data(), gy.data(), one.data(), &z, &len, 1), 0);
  Free(z);
  EXPECT_EQ(ECDH_generateSharedSecretAux(C().curve, nullptr, gy.data(), one.data(), &z, &len, 1), ERR_EC_NULL_POINTER);
  EXPECT_EQ(ECDH_generateSharedSecretAux(C().curve, gx.data(), nullptr, one.data(), &z, &len, 1), ERR_EC_NULL_POINTER);
  EXPECT_EQ(EC_deleteKey(&key), 0);
}

// Threads share a comb table and the built-in base table (built on first use).
TEST_P(EcApi, ThreadsShareTables) {
  uint32_t *table = nullptr;
  ASSERT_EQ(EC_precomputeCombOfCurve(C().curve, 4, &table), 0);
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10; ++i) {
        Units d(C().n()), qx(C().n()), qy(C().n()), r(C().n()), s(C().n());
        const Bytes hash = Random(32);
        if (EC_generateKeyPairEx(C().curve, OpenSslRng, nullptr, 4, table, d.data(), qx.data(), qy.data()) != 0 ||
            EC_verifyPublicKey(C().curve, qx.data(), qy.data()) != 0 ||
            ECDSA_signEx(C().curve, d.data(), OpenSslRng, nullptr, hash.data(), 32, 4, table, r.data(), s.data()) != 0 ||
            ECDSA_verifySignatureEx(C().curve, qx.data(), qy.data(), hash.data(), 32, 4, table, 0, nullptr, r.data(),
                                    s.data()) != 0)
          ++failures;
      }
    });
  }
  for (auto &t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  Free(table);
}

}  // namespace
}  // namespace kel::test
