// Published RSA vectors: NIST CAVP PKCS #1 v1.5 signatures (verification by
// recovery) and Wycheproof decryption; then OpenSSL on the other side.
#include <openssl/rsa.h>

#include "pubkey_test_util.h"

namespace kel::test {
namespace {

using RsaTest = RandomTest;

// Every signature of the CAVP files (signing ones included: no private key)
// recovers to the DigestInfo of its message, and only the passing ones do.
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

// OpenSSL on the other side, keys of 1024 to 4096 bits (1056: an odd number of
// units): encryption and signatures made by one and opened by the other.
class RsaOpenssl : public RsaTest, public ::testing::WithParamInterface<int> {};
INSTANTIATE_TEST_SUITE_P(Bits, RsaOpenssl, ::testing::Values(1024, 1056, 1536, 2048, 3072, 4096));

Bytes Pkey(EVP_PKEY *pkey, int (*init)(EVP_PKEY_CTX *),
          int (*op)(EVP_PKEY_CTX *, unsigned char *, size_t *, const unsigned char *, size_t), const Bytes &in,
          bool sha256 = false) {
  EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(pkey, nullptr);
  size_t len = 1024;
  Bytes out(len);
  const bool ok = init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
                  (!sha256 || EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256()) == 1) &&
                  op(ctx, out.data(), &len, in.data(), in.size()) == 1;
  EVP_PKEY_CTX_free(ctx);
  out.resize(ok ? len : 0);
  return out;
}

TEST_P(RsaOpenssl, BothWays) {
  EVP_PKEY *pkey = OpensslKey(GetParam());
  ASSERT_NE(pkey, nullptr);
  Key key;
  FromOpenssl(key, pkey);
  const size_t k = static_cast<size_t>(key.Bytes());
  ASSERT_EQ(k, static_cast<size_t>(GetParam() / 8));
  Bytes msg(k - 11);
  RAND_bytes(msg.data(), static_cast<int>(msg.size()));
  for (size_t len : {size_t{0}, size_t{1}, size_t{48}, k - 11}) {
    const Bytes m(msg.begin(), msg.begin() + static_cast<long>(len));
    const Bytes theirs = Pkey(pkey, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, m);
    ASSERT_EQ(theirs.size(), k);
    for (RngFun rng : {static_cast<RngFun>(nullptr), OpenSslRng}) {
      Bytes out(k);
      uint32_t got = 0;
      ASSERT_EQ(RSA_decrypt(key.k, theirs.data(), out.data(), &got, rng, nullptr, nullptr), 0);
      EXPECT_EQ(Bytes(out.begin(), out.begin() + got), m);
    }
    Bytes ours(k);
    ASSERT_EQ(RSA_encrypt(key.k, msg.data(), static_cast<uint32_t>(len), ours.data(), OpenSslRng, nullptr, nullptr),
              0);
    EXPECT_EQ(Pkey(pkey, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, ours), m);
  }
  // Signatures over a SHA-256 DigestInfo: OpenSSL makes the same bytes (the
  // padding is deterministic).
  const Bytes info = DigestInfo("SHA256", msg);
  Bytes sig(k);
  ASSERT_EQ(RSA_signMessage(key.k, info.data(), static_cast<uint32_t>(info.size()), sig.data(), nullptr), 0);
  const Bytes digest(info.end() - 32, info.end());
  EXPECT_EQ(Pkey(pkey, EVP_PKEY_sign_init, EVP_PKEY_sign, digest, true), sig);
  EVP_PKEY_free(pkey);
}

}  // namespace
}  // namespace kel::test
