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
  BIGNUM *p = BN_get_rfc2409_prime_1024(nullptr), *g = nullptr, *x = nullptr, *y = nullptr;
  BN_dec2bn(&g, "2");
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
  EXPECT_EQ(f["secret MD5"], hex);
  EXPECT_NE(f["group"].find("1024-bit MODP"), std::string::npos);
  for (BIGNUM *n : {p, g, x, y, pa, pb, z}) BN_free(n);
  BN_CTX_free(ctx);
}

TEST(KelctlDh, FreshPrivateValuesEachRun) {
  const auto one = Kelctl("dh"), two = Kelctl("dh --group 24");
  ASSERT_EQ(one.exitCode, 0) << one.out;
  ASSERT_EQ(two.exitCode, 0) << two.out;
  auto f1 = Fields(one.out), f2 = Fields(two.out);
  EXPECT_NE(f1["A public"], f1["B public"]);
  EXPECT_NE(f1["A public"], f2["A public"]);
  EXPECT_NE(f1["private values"].find("from the kernel"), std::string::npos) << one.out;
  EXPECT_GT(f1["A public"].size(), 480u);  // a 2048-bit group element
  EXPECT_NE(f2["group"].find("RFC 5114"), std::string::npos);
}

TEST(KelctlDh, BadUsage) {
  for (const char *args : {"dh --group 3", "dh --group", "dh --group x", "dh --private-a 01",
                           "dh --private-a zz --private-b 01", "dh extra"}) {
    const auto r = Kelctl(args);
    EXPECT_EQ(r.exitCode, 2) << args;
    EXPECT_NE(r.out.find("usage: kelctl dh"), std::string::npos) << args << ": " << r.out;
  }
}

// Every listed value is a well-formed identifier whose text OpenSSL gives
// back unchanged; a few are checked by name.
TEST(KelctlOid, ListsEveryIdentifier) {
  const auto r = Kelctl("oid");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  std::istringstream in(r.out);
  int listed = 0;
  std::map<std::string, std::string> byName;
  for (std::string line; std::getline(in, line) && !line.empty(); ++listed) {
    std::istringstream words(line);
    std::string name, dotted;
    words >> name >> dotted;
    byName[name] = dotted;
    ASN1_OBJECT *o = OBJ_txt2obj(dotted.c_str(), 1);
    ASSERT_NE(o, nullptr) << line;
    char back[128];
    OBJ_obj2txt(back, sizeof back, o, 1);
    EXPECT_EQ(dotted, back);
    ASN1_OBJECT_free(o);
  }
  EXPECT_EQ(listed, 95);
  EXPECT_EQ(byName["sha256_OID"], "2.16.840.1.101.3.4.2.1");
  EXPECT_EQ(byName["domainComponent_OID"], "0.9.2342.19200300.100.1.25");
  EXPECT_EQ(byName["dhSinglePassStdDHSha1KDF_OID"], "1.2.840.63.0.2");
  EXPECT_NE(r.out.find("ecdsa  sha384   1.2.840.10045.4.3.3"), std::string::npos);
  EXPECT_NE(r.out.find("dsa    sha512   (status -7620)"), std::string::npos);
  EXPECT_EQ(Kelctl("oid extra").exitCode, 2);
}

}  // namespace
