// kelctl dh and kelctl oid as users run them: an agreement with given
// private values, fresh ones every run, and the identifier listing (usage
// errors: kelctl_args_test).
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/objects.h>

#include <map>
#include <sstream>

#include "support/sandbox.h"

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

// Group 2 with the private values 5 and 7, small enough to check by hand:
// A = 2^5, B = 2^7, and the secret 2^35 (as 128 bytes) has the printed
// SHA-256 (kelctl runs the power-up self-test at start).
TEST(KelctlDh, GivenPrivateValuesAndFreshOnes) {
  const auto r = Kelctl("dh --group 2 --private-a 05 --private-b 7");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  auto f = Fields(r.out);
  EXPECT_EQ(f["A public"], "20");
  EXPECT_EQ(f["B public"], "80");
  EXPECT_EQ(f["agreement"], "both parties hold the same secret");
  unsigned char secret[128] = {}, md[32];
  secret[123] = 0x08;  // 2^35
  EVP_Digest(secret, 128, md, nullptr, EVP_sha256(), nullptr);
  char hex[65];
  for (int i = 0; i < 32; ++i) snprintf(hex + 2 * i, 3, "%02x", md[i]);
  EXPECT_EQ(f["secret SHA-256"], hex);
  EXPECT_NE(f["group"].find("1024-bit MODP"), std::string::npos);

  // Without given values every run draws new ones.
  const auto one = Kelctl("dh"), two = Kelctl("dh --group 24");
  ASSERT_EQ(one.exitCode + two.exitCode, 0) << one.out << two.out;
  EXPECT_NE(Fields(one.out)["A public"], Fields(two.out)["A public"]);
  // The self-test has run at start: they come from the toolkit's generator.
  EXPECT_NE(Fields(one.out)["private values"].find("from the toolkit's CTR-DRBG"), std::string::npos) << one.out;
  EXPECT_NE(Fields(two.out)["group"].find("RFC 5114"), std::string::npos);
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
