// Published vectors for P-256 and P-384: NIST CAVP public-key validation,
// Wycheproof ECDSA and ECDH.
#include "pubkey_test_util.h"

namespace kel::test {
namespace {

// The curve a record's section names ("P-256", "P-384,SHA-1", "P-384 SHA-384").
const CurveCase *CurveOf(const RspRecord &r) {
  static const std::vector<CurveCase> curves = Curves();
  const CurveCase *last = nullptr;
  for (const auto &section : r.section) {
    if (section.first.find("P-256") != std::string::npos) last = &curves[0];
    if (section.first.find("P-384") != std::string::npos) last = &curves[1];
  }
  if (last == nullptr) ADD_FAILURE() << "no curve at line " << r.line;
  return last != nullptr ? last : &curves[0];
}

// A coordinate or scalar in the curve's field; the import status when it
// does not fit.
int32_t Import(const CurveCase &c, const Bytes &b, Units *u) {
  u->assign(c.n() + 1, 0);
  return PRIMEFIELD_setToByteString(c.curve->field, u->data(), b.data(), static_cast<int32_t>(b.size()));
}

class EcVectors : public RandomTest {};

TEST_F(EcVectors, PublicKeyValidation) {
  int count = 0;
  for (const RspRecord &r : ReadRsp("ecdsa/PKV.rsp")) {
    if (!r.Has("Result")) continue;
    const CurveCase &c = *CurveOf(r);
    Units qx, qy;
    int32_t status = Import(c, Hex(r.Get("Qx")), &qx);
    if (status == 0) status = Import(c, Hex(r.Get("Qy")), &qy);
    if (status == 0) status = EC_verifyPublicKey(c.curve, qx.data(), qy.data());
    const bool pass = r.Get("Result")[0] == 'P';
    EXPECT_EQ(status == 0, pass) << r.line << " " << r.Get("Result") << " status " << status;
    EXPECT_TRUE(pass || status == ERR_EC_BAD_COORDINATE || status == ERR_EC_INVALID) << r.line;
    ++count;
  }
  EXPECT_EQ(count, 24);
}

TEST_F(EcVectors, WycheproofSignatures) {
  int valid = 0, invalid = 0;
  for (const RspRecord &r : ReadRsp("ecdsa/wycheproof_ecdsa.txt")) {
    const CurveCase &c = *CurveOf(r);
    const Bytes hash = Digest(SectionHash(r), r.Hex("Msg"));
    Units qx, qy;
    ASSERT_EQ(Import(c, FromHex(r.section.at("Qx")), &qx) | Import(c, FromHex(r.section.at("Qy")), &qy), 0);
    // r and s are n-unit values, whatever their size against p
    const Units rr = ToUnits(c, r.Hex("R")), ss = ToUnits(c, r.Hex("S"));
    const int32_t status = ECDSA_verifySignature(c.curve, qx.data(), qy.data(), hash.data(),
                                                 static_cast<int32_t>(hash.size()), rr.data(), ss.data());
    const std::string &result = r.Get("Result");
    if (result == "acceptable") continue;
    (result == "valid" ? valid : invalid)++;
    EXPECT_EQ(status, result == "valid" ? 0 : ERR_EC_INVALID) << "tcId " << r.Get("tcId") << " " << r.Get("Flags");
  }
  EXPECT_EQ(valid, 366);
  EXPECT_EQ(invalid, 136);
}

TEST_F(EcVectors, WycheproofSharedSecrets) {
  int valid = 0, invalid = 0;
  for (const RspRecord &r : ReadRsp("ecdh/wycheproof_ecdh.txt")) {
    const CurveCase &c = *CurveOf(r);
    const Bytes pub = r.Hex("Public");
    Bytes priv = r.Hex("Private");
    while (priv.size() > c.bytes() && priv[0] == 0) priv.erase(priv.begin());
    const Units d = ToUnits(c, priv);
    uint8_t *z = nullptr;
    int32_t len = 0;
    const int32_t status = ECDH_generateSharedSecret(c.curve, pub.data(), int32_t(pub.size()), d.data(), &z, &len);
    const std::string shared = status == 0 ? ToHex(z, len) : "";
    Free(z);
    const std::string &result = r.Get("Result");
    const bool compressed = !pub.empty() && (pub[0] == 2 || pub[0] == 3);
    SCOPED_TRACE("tcId " + r.Get("tcId") + " " + r.Get("Flags"));
    if (compressed) {
      EXPECT_EQ(status, ERR_EC_BAD_POINT_LENGTH);  // only the uncompressed form is taken
    } else if (result == "valid") {
      ++valid;
      EXPECT_EQ(status, 0);
      EXPECT_EQ(shared, r.Get("Shared"));
    } else if (result == "invalid") {
      ++invalid;
      EXPECT_NE(status, 0);
    }
  }
  EXPECT_EQ(valid, 100);
  EXPECT_EQ(invalid, 26);
}

}  // namespace
}  // namespace kel::test
