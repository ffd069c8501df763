// kelctl dh and kelctl oid as users run them: an agreement with given
// private values checked against OpenSSL, fresh ones every run, the
// identifier listing, and bad usage.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/objects.h>

#include <map>
#include <sstream>

#include "kelctl_test_util.h"

namespace {

using kel::test::Kelctl;

std::map<std::string, std::string> Fields(const std::string &out) {
  std::map<std::string, std::string> f;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    f[line.substr(0, colon)] = line.substr(line.find_first_not_of(' ', colon + 1));
  }
  return f;
}

std::string BnHex(const BIGNUM *b) {
  char *h = BN_bn2hex(b);
  std::string s(h);
  OPENSSL_free(h);
  for (auto &c : s) c = static_cast<char>(std::tolower(c));
  return s;
}

// Group 2 with given private values: the public values and the secret's
// digest (MD5 before the self-test) are what OpenSSL computes.
TEST(KelctlDh, GivenPrivateValuesMatchOpenSsl) {
  const std::string a = "1f2e3d4c5b6a79880123456789abcdef", b = "7766554433221100ffeeddccbbaa9988";
  const auto r = Kelctl("dh --group 2 --private-a " + a + " --private-b " + b);
  ASSERT_EQ(r.exitCode, 0) << r.out;
  auto f = Fields(r.out);
  BIGNUM *p = BN_get_rfc2409_prime_1024(nullptr), *x = nullptr, *y = nullptr, *g = BN_new();
  BN_set_word(g, 2);
  BN_hex2bn(&x, a.c_str());
  BN_hex2bn(&y, b.c_str());
  BN_CTX *ctx = BN_CTX_new();
  BIGNUM *pa = BN_new(), *pb = BN_new(), *z = BN_new();
  BN_mod_exp(pa, g, x, p, ctx);
  BN_mod_exp(pb, g, y, p, ctx);
  BN_mod_exp(z, pb, x, p, ctx);
  EXPECT_EQ(f["A public"], BnHex(pa));
  EXPECT_EQ(f["B public"], BnHex(pb));
  EXPECT_EQ(f["agreement"], "both parties hold the same secret");
  unsigned char secret[128], md[16];
  BN_bn2binpad(z, secret, 128);
  EVP_Digest(secret, 128, md, nullptr, EVP_md5(), nullptr);
  char hex[33];
  for (int i = 0; i < 16; ++i) snprintf(hex + 2 * i, 3, "%02x", md[i]);
  EXPECT_EQ(f["secret MD5"], hex);  // before the self-test the digest is MD5
  for (BIGNUM *n : {p, g, x, y, pa, pb, z}) BN_free(n);
  BN_CTX_free(ctx);

  // Without given values every run draws new ones.
  const auto one = Kelctl("dh"), two = Kelctl("dh --group 24");
  ASSERT_EQ(one.exitCode + two.exitCode, 0) << one.out << two.out;
  EXPECT_NE(Fields(one.out)["A public"], Fields(two.out)["A public"]);
  EXPECT_NE(Fields(one.out)["private values"].find("from the kernel"), std::string::npos) << one.out;
  EXPECT_NE(Fields(two.out)["group"].find("RFC 5114"), std::string::npos);
}

TEST(KelctlDh, BadUsage) {
  for (const char *args : {"dh --group 3", "dh --group", "dh --group x", "dh --private-a 01",
                           "dh --private-a zz --private-b 01", "dh extra"}) {
    const auto r = Kelctl(args);
    EXPECT_EQ(r.exitCode, 2) << args;
    EXPECT_NE(r.out.find("usage: kelctl dh"), std::string::npos) << args << ": " << r.out;
  }
}

// Every listed value is a well-formed identifier that OpenSSL reads back
// unchanged; the signature identifiers follow the constants.
TEST(KelctlOid, ListsEveryIdentifier) {
  const auto r = Kelctl("oid");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  std::istringstream in(r.out);
  int listed = 0;
  for (std::string line, name, dotted; std::getline(in, line) && !line.empty(); ++listed) {
    std::istringstream(line) >> name >> dotted;
    char back[128] = "";
    ASN1_OBJECT *o = OBJ_txt2obj(dotted.c_str(), 1);
    OBJ_obj2txt(back, sizeof back, o, 1);
    ASN1_OBJECT_free(o);
    EXPECT_EQ(dotted, back) << line;
  }
  EXPECT_EQ(listed, 95);
  EXPECT_NE(r.out.find("sha256_OID                         2.16.840.1.101.3.4.2.1\n"), std::string::npos);
  EXPECT_NE(r.out.find("ecdsa  sha384   1.2.840.10045.4.3.3\n"), std::string::npos);
  EXPECT_NE(r.out.find("dsa    sha512   (status -7620)\n"), std::string::npos);
  EXPECT_EQ(Kelctl("oid extra").exitCode, 2);
}

}  // namespace
