// Identifiers: every exported constant in `kelctl oid`'s listing decodes to the
// dotted form listed beside it; the hash lookup, the signature builders for every
// hash number (decoded by OpenSSL against the registered values), the comparison.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/objects.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "kel/oid.h"

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

TEST(Oid, ExportedConstantsHoldTheirListedValues) {
  void *library = dlopen(KEL_LIBRARY_PATH, RTLD_LAZY | RTLD_LOCAL);  // the tests link the objects, not the library
  ASSERT_NE(library, nullptr) << dlerror();
  std::ifstream listing(KEL_GOLDEN_DIR "/kelctl_oid.exp");
  int count = 0;
  for (std::string line; std::getline(listing, line) && !line.empty(); ++count) {  // up to the builders' part
    std::istringstream fields(line);
    std::string name, dotted;
    fields >> name >> dotted;
    const auto *stored = static_cast<const uint8_t *>(dlsym(library, name.c_str()));
    EXPECT_EQ(stored ? Dotted(stored) : "not exported", dotted) << name;
  }
  EXPECT_EQ(count, 95);
  dlclose(library);
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
// nothing is written past one, and an unsupported number writes nothing. Then
// the comparison.
TEST(Oid, SignatureIdentifierBuildersAndComparison) {
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
