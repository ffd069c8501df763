// Identifiers: every exported constant decoded by OpenSSL against its registered
// dotted value, the builders for every hash number, and the comparison.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/objects.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "kel/oid.h"
#include "support/vectors.h"

namespace {

// Dotted text of a stored identifier, decoded by OpenSSL from the DER it
// stands for (tag 06, then the length byte and content octets as stored).
std::string Dotted(const uint8_t *stored) {
  std::basic_string<uint8_t> der = {0x06};
  der.append(stored, stored[0] + 1u);
  const unsigned char *p = der.data();
  ASN1_OBJECT *obj = d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(der.size()));
  if (obj == nullptr) return "undecodable";
  char text[128];
  OBJ_obj2txt(text, sizeof text, obj, 1);
  ASN1_OBJECT_free(obj);
  return p == der.data() + der.size() ? text : "trailing bytes";
}

TEST(Oid, EveryExportedConstantDecodesToItsDottedValue) {
  void *lib = dlopen(KEL_LIBRARY_PATH, RTLD_LAZY | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  std::ifstream in(kel::test::VectorPath("oid/identifiers.txt"));
  int checked = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string name, eq, dotted;
    words >> name >> eq >> dotted;
    const auto *oid = static_cast<const uint8_t *>(dlsym(lib, name.c_str()));
    ASSERT_NE(oid, nullptr) << name << " is not exported";
    EXPECT_EQ(Dotted(oid), dotted) << name;
    ++checked;
  }
  EXPECT_EQ(checked, 93);
  // The private arcs: .1 and .2 under one enterprise arc, 9 bytes each.
  const std::string cert = Dotted(vorane_cert_extension_OID), voip = Dotted(vorane_voip_OID);
  EXPECT_EQ(vorane_cert_extension_OID[0] + vorane_voip_OID[0], 16);
  EXPECT_EQ(cert.rfind("1.3.6.1.4.1.", 0), 0u) << cert;
  EXPECT_EQ(cert.substr(cert.size() - 2) + voip.substr(voip.size() - 2), ".1.2");
  EXPECT_EQ(cert.substr(0, cert.size() - 1), voip.substr(0, voip.size() - 1));
  dlclose(lib);
}

TEST(Oid, HashIdentifiers) {
  const struct { int32_t hash; const uint8_t *want; } cases[] = {
      {4, md5_OID}, {5, sha1_OID}, {11, sha256_OID}, {12, sha384_OID}, {13, sha512_OID}, {14, sha224_OID},
      {0x10b, sha256_OID}, {0, nullptr}, {6, nullptr}, {15, nullptr}, {255, nullptr}};
  for (const auto &c : cases) {
    const uint8_t *oid = nullptr;
    EXPECT_EQ(CRYPTO_getHashAlgoOID(c.hash, &oid), c.want ? 0 : -6010) << c.hash;
    EXPECT_EQ(oid, c.want) << c.hash;
  }
  EXPECT_EQ(CRYPTO_getHashAlgoOID(5, nullptr), -6001);
}

// Each builder for every hash number 0..15 against the registered identifiers;
// nothing is written past one, and an unsupported number writes nothing.
TEST(Oid, SignatureIdentifierBuilders) {
  std::map<int32_t, std::string> dsa = {{5, "1.2.840.10040.4.3"}, {14, "2.16.840.1.101.3.4.3.1"},
                                        {11, "2.16.840.1.101.3.4.3.2"}};
  std::map<int32_t, std::string> ecdsa = {{5, "1.2.840.10045.4.1"},   {14, "1.2.840.10045.4.3.1"},
                                          {11, "1.2.840.10045.4.3.2"}, {12, "1.2.840.10045.4.3.3"},
                                          {13, "1.2.840.10045.4.3.4"}};
  const struct {
    int32_t (*build)(int32_t, uint8_t *);
    std::map<int32_t, std::string> *known;
    size_t room;
  } builders[] = {{CRYPTO_getRSAHashAlgoOID, nullptr, 10}, {CRYPTO_getDSAHashAlgoOID, &dsa, 10},
                  {CRYPTO_getECDSAHashAlgoOID, &ecdsa, 9}};
  for (const auto &b : builders) {
    for (int32_t h = 0; h < 16; ++h) {
      uint8_t out[16];
      memset(out, 0xee, sizeof out);
      const std::string want = b.known ? (b.known->count(h) ? (*b.known)[h] : "")
                                       : "1.2.840.113549.1.1." + std::to_string(h);
      EXPECT_EQ(b.build(h, out), want.empty() ? -7620 : 0) << h;
      if (want.empty()) {
        EXPECT_EQ(out[0], 0xee);
        continue;
      }
      EXPECT_EQ(Dotted(out), want);
      EXPECT_LE(out[0] + 1u, b.room);
      EXPECT_EQ(out[out[0] + 1], 0xee) << want;
    }
    EXPECT_EQ(b.build(5, nullptr), -6001);
  }
}

TEST(Oid, Comparison) {
  uint8_t built[10];
  ASSERT_EQ(CRYPTO_getRSAHashAlgoOID(5, built), 0);
  const struct { const uint8_t *a, *b; int32_t equal; } cases[] = {
      {id_ad_ocsp, id_pkix_ocsp_OID, 1}, {extendedKeyUsage_OID, id_ce_extKeyUsage_OID, 1},
      {built, sha1withRSAEncryption_OID, 1}, {sha256_OID, sha224_OID, 0},  // last octet differs
      {sha2_OID, sha256_OID, 0},  // a prefix
      {nullptr, sha1_OID, 0}, {sha1_OID, nullptr, 0}, {nullptr, nullptr, 0}};
  for (const auto &c : cases) EXPECT_EQ(EqualOID(c.a, c.b), c.equal);
}

}  // namespace
