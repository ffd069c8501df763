// OpenSSL on the other side: random keys of 1024 to 4096 bits (1056: an odd
// number of 32-bit units), encryption and signatures made by one and opened
// by the other, both ways.
#include <openssl/rsa.h>

#include "pubkey_test_util.h"

namespace kel::test {
namespace {

using RsaTest = PubkeyTest;

using kel::test::Bytes;

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
    // OpenSSL encrypts, we decrypt (with and without blinding).
    const Bytes theirs = Pkey(pkey, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, m);
    ASSERT_EQ(theirs.size(), k);
    for (RngFun rng : {static_cast<RngFun>(nullptr), OpenSslRng}) {
      Bytes out(k);
      uint32_t got = 0;
      ASSERT_EQ(RSA_decrypt(key.k, theirs.data(), out.data(), &got, rng, nullptr, nullptr), 0);
      EXPECT_EQ(Bytes(out.begin(), out.begin() + got), m);
    }
    // We encrypt, OpenSSL decrypts.
    Bytes ours(k);
    ASSERT_EQ(RSA_encrypt(key.k, msg.data(), static_cast<uint32_t>(len), ours.data(), OpenSslRng, nullptr, nullptr),
              0);
    EXPECT_EQ(Pkey(pkey, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, ours), m);
  }
  // Signatures over a SHA-256 DigestInfo: OpenSSL makes the same bytes
  // (the padding is deterministic) and recovers the DigestInfo from ours.
  const Bytes info = DigestInfo("SHA256", msg);
  Bytes sig(k);
  ASSERT_EQ(RSA_signMessage(key.k, info.data(), static_cast<uint32_t>(info.size()), sig.data(), nullptr), 0);
  const Bytes digest(info.end() - 32, info.end());
  EXPECT_EQ(Pkey(pkey, EVP_PKEY_sign_init, EVP_PKEY_sign, digest, true), sig);
  EXPECT_EQ(Pkey(pkey, EVP_PKEY_verify_recover_init, EVP_PKEY_verify_recover, sig), info);
  int32_t st = 0;
  EXPECT_EQ(Recover(key, sig, &st), info);
  EXPECT_EQ(st, 0);
  EVP_PKEY_free(pkey);
}

}  // namespace
}  // namespace kel::test
