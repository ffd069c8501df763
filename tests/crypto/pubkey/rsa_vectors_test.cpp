// Published RSA vectors: NIST CAVP PKCS #1 v1.5 signatures and the RSASP1
// component, Wycheproof decryption and verification.
#include "tests/crypto/crypto_test_util.h"
#include "pubkey_test_util.h"

namespace kel::test {
namespace {

using RsaTest = PubkeyTest;

using kel::test::Bytes;

// Every signature of the CAVP files recovers to the DigestInfo of its
// message, and only the passing ones do (the signing files hold no private
// key: their signatures are checked by recovery).
TEST_F(RsaTest, CavpSignaturesRecoverTheirDigestInfo) {
  ForEachCpuPath([] {
    int checked = 0;
    for (const char *file : {"rsa/SigGen15_186-3.rsp", "rsa/SigVer15_186-3.rsp", "rsa/SigGen15_186-2.rsp",
                             "rsa/SigVer15_186-2.rsp"}) {
      Bytes n, e;
      for (const auto &r : ReadRsp(file)) {
        if (r.Has("n")) n = Hex(r.Get("n"));
        if (r.Has("e")) e = Hex(r.Get("e"));
        if (!r.Has("S")) continue;
        Key key;
        LoadBlob(key, Blob({e, n}));
        int32_t st = 0;
        const bool match = Recover(key, Hex(r.Get("S")), &st) == DigestInfo(r.Get("SHAAlg"), Hex(r.Get("Msg")));
        const bool pass = !r.Has("Result") || r.Get("Result")[0] == 'P';
        EXPECT_EQ(st == 0 && match, pass) << file << " line " << r.line << " status " << st;
        ++checked;
      }
    }
    EXPECT_EQ(checked, 135);
  });
}

// RSASP1 with the CRT values computed from p and q (the blob's zero-length
// CRT fields are computed on load); RSADP and the blinded RSASP1 agree.
TEST_F(RsaTest, CavpSignaturePrimitive) {
  int checked = 0;
  for (const auto &r : ReadRsp("rsa/RSASP1.fax")) {
    if (!r.Has("EM") || r.Get("S").rfind("FAIL", 0) == 0) continue;  // EM >= n: the caller's check
    Key key;
    LoadBlob(key, Blob({Hex(r.Get("e")), Hex(r.Get("n")), Hex(r.Get("p")), Hex(r.Get("q")), {}, {}, {}}));
    const V em = FromMpz(Mpz(r.Get("EM").c_str()));
    V plain, blinded;
    ASSERT_EQ(RSA_RSADP(key.k, em.get(), plain.out(), nullptr), 0);
    ASSERT_EQ(RSA_RSASP1(key.k, em.get(), OpenSslRng, nullptr, blinded.out(), nullptr), 0);
    Mpz s(r.Get("S").c_str());
    EXPECT_EQ(Str(plain.get()), s.Hex()) << r.line;
    EXPECT_EQ(Str(blinded.get()), s.Hex()) << r.line;
    ++checked;
  }
  EXPECT_EQ(checked, 5);
}

// Valid blocks decrypt to their message with and without blinding; every
// invalid one is refused (bad padding with -7702) and leaves nothing behind.
TEST_F(RsaTest, WycheproofDecryption) {
  for (const auto &t : ReadWycheproof("rsa/rsa_pkcs1_2048_test.json")) {
    SCOPED_TRACE("tcId " + t.at("tcId"));
    Key key;
    LoadBlob(key, Blob({FromHex(t.at("publicExponent")), FromHex(t.at("modulus")), FromHex(t.at("prime1")),
                        FromHex(t.at("prime2")), FromHex(t.at("exponent1")), FromHex(t.at("exponent2")),
                        FromHex(t.at("coefficient"))}));
    const Bytes ct = FromHex(t.at("ct"));
    if (ct.size() != static_cast<size_t>(key.Bytes())) continue;  // the caller's length check
    for (RngFun rng : {static_cast<RngFun>(nullptr), OpenSslRng}) {
      Bytes out(ct.size(), 0xee);
      uint32_t len = 0;
      const int32_t st = RSA_decrypt(key.k, ct.data(), out.data(), &len, rng, nullptr, nullptr);
      if (t.at("result") == "valid") {
        ASSERT_EQ(st, 0);
        EXPECT_EQ(ToHex(out.data(), len), t.at("msg"));
      } else {
        EXPECT_EQ(st, ERR_RSA_BAD_PADDING);
        EXPECT_EQ(out, Bytes(ct.size(), 0));
      }
    }
  }
}

// A caller that checks length and s < n and then compares the DigestInfo
// accepts exactly the valid signatures.
TEST_F(RsaTest, WycheproofVerification) {
  for (const auto &t : ReadWycheproof("rsa/rsa_signature_2048_sha256_test.json")) {
    SCOPED_TRACE("tcId " + t.at("tcId"));
    Key key;
    LoadBlob(key, Blob({FromHex(t.at("publicExponent")), FromHex(t.at("modulus"))}));
    const Bytes sig = FromHex(t.at("sig"));
    Bytes n = FromHex(t.at("modulus"));
    n.erase(n.begin(), std::find_if(n.begin(), n.end(), [](uint8_t b) { return b != 0; }));
    bool accepted = false;
    if (sig.size() == n.size() && sig < n) {
      int32_t st = 0;
      accepted = Recover(key, sig, &st) == DigestInfo("SHA256", FromHex(t.at("msg"))) && st == 0;
    }
    if (t.at("result") != "acceptable") {
      EXPECT_EQ(accepted, t.at("result") == "valid");
    }
  }
}

}  // namespace
}  // namespace kel::test
