// Identifiers: every exported constant decoded by OpenSSL and compared with
// the published dotted value, the signature-identifier builders for every
// hash number, and the comparison.
#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <string>

#include "kel/oid.h"

namespace {

struct Named {
  const char *name;
  const uint8_t *oid;
  const char *dotted;
};

const Named kExported[] = {
    {"pkcs1_OID", pkcs1_OID, "1.2.840.113549.1.1"},
    {"rsaEncryption_OID", rsaEncryption_OID, "1.2.840.113549.1.1.1"},
    {"md5withRSAEncryption_OID", md5withRSAEncryption_OID, "1.2.840.113549.1.1.4"},
    {"sha1withRSAEncryption_OID", sha1withRSAEncryption_OID, "1.2.840.113549.1.1.5"},
    {"rsaDSI_OID", rsaDSI_OID, "1.2.840.113549.2"},
    {"md5_OID", md5_OID, "1.2.840.113549.2.5"},
    {"sha1_OID", sha1_OID, "1.3.14.3.2.26"},
    {"sha1withRsaSignature_OID", sha1withRsaSignature_OID, "1.3.14.3.2.29"},
    {"sha2_OID", sha2_OID, "2.16.840.1.101.3.4.2"},
    {"sha224_OID", sha224_OID, "2.16.840.1.101.3.4.2.4"},
    {"sha256_OID", sha256_OID, "2.16.840.1.101.3.4.2.1"},
    {"sha384_OID", sha384_OID, "2.16.840.1.101.3.4.2.2"},
    {"sha512_OID", sha512_OID, "2.16.840.1.101.3.4.2.3"},
    {"desCBC_OID", desCBC_OID, "1.3.14.3.2.7"},
    {"aes128CBC_OID", aes128CBC_OID, "2.16.840.1.101.3.4.1.2"},
    {"aes192CBC_OID", aes192CBC_OID, "2.16.840.1.101.3.4.1.22"},
    {"aes256CBC_OID", aes256CBC_OID, "2.16.840.1.101.3.4.1.42"},
    {"subjectKeyIdentifier_OID", subjectKeyIdentifier_OID, "2.5.29.14"},
    {"keyUsage_OID", keyUsage_OID, "2.5.29.15"},
    {"subjectAltName_OID", subjectAltName_OID, "2.5.29.17"},
    {"issuerAltName_OID", issuerAltName_OID, "2.5.29.18"},
    {"basicConstraints_OID", basicConstraints_OID, "2.5.29.19"},
    {"crlNumber_OID", crlNumber_OID, "2.5.29.20"},
    {"crlReason_OID", crlReason_OID, "2.5.29.21"},
    {"invalidityDate_OID", invalidityDate_OID, "2.5.29.24"},
    {"nameConstraints_OID", nameConstraints_OID, "2.5.29.30"},
    {"crl_OID", crl_OID, "2.5.29.31"},
    {"certificatePolicies_OID", certificatePolicies_OID, "2.5.29.32"},
    {"authorityKeyIdentifier_OID", authorityKeyIdentifier_OID, "2.5.29.35"},
    {"extendedKeyUsage_OID", extendedKeyUsage_OID, "2.5.29.37"},
    {"userPrincipalName_OID", userPrincipalName_OID, "1.3.6.1.4.1.311.20.2.3"},
    {"dsa_OID", dsa_OID, "1.2.840.10040.4.1"},
    {"dsaWithSHA1_OID", dsaWithSHA1_OID, "1.2.840.10040.4.3"},
    {"dsaWithSHA2_OID", dsaWithSHA2_OID, "2.16.840.1.101.3.4.3"},
    {"commonName_OID", commonName_OID, "2.5.4.3"},
    {"countryName_OID", countryName_OID, "2.5.4.6"},
    {"serialNumber_OID", serialNumber_OID, "2.5.4.5"},
    {"localityName_OID", localityName_OID, "2.5.4.7"},
    {"stateOrProvinceName_OID", stateOrProvinceName_OID, "2.5.4.8"},
    {"organizationName_OID", organizationName_OID, "2.5.4.10"},
    {"organizationalUnitName_OID", organizationalUnitName_OID, "2.5.4.11"},
    {"domainComponent_OID", domainComponent_OID, "0.9.2342.19200300.100.1.25"},
    {"pkcs7_root_OID", pkcs7_root_OID, "1.2.840.113549.1.7"},
    {"pkcs7_data_OID", pkcs7_data_OID, "1.2.840.113549.1.7.1"},
    {"pkcs7_signedData_OID", pkcs7_signedData_OID, "1.2.840.113549.1.7.2"},
    {"pkcs7_envelopedData_OID", pkcs7_envelopedData_OID, "1.2.840.113549.1.7.3"},
    {"pkcs7_signedAndEnvelopedData_OID", pkcs7_signedAndEnvelopedData_OID, "1.2.840.113549.1.7.4"},
    {"pkcs7_digestedData_OID", pkcs7_digestedData_OID, "1.2.840.113549.1.7.5"},
    {"pkcs7_encryptedData_OID", pkcs7_encryptedData_OID, "1.2.840.113549.1.7.6"},
    {"rsaEncryptionAlgoRoot_OID", rsaEncryptionAlgoRoot_OID, "1.2.840.113549.3"},
    {"rc2CBC_OID", rc2CBC_OID, "1.2.840.113549.3.2"},
    {"rc4_OID", rc4_OID, "1.2.840.113549.3.4"},
    {"desEDE3CBC_OID", desEDE3CBC_OID, "1.2.840.113549.3.7"},
    {"pkcs9_emailAddress_OID", pkcs9_emailAddress_OID, "1.2.840.113549.1.9.1"},
    {"pkcs9_contentType_OID", pkcs9_contentType_OID, "1.2.840.113549.1.9.3"},
    {"pkcs9_messageDigest_OID", pkcs9_messageDigest_OID, "1.2.840.113549.1.9.4"},
    {"pkcs9_signingTime_OID", pkcs9_signingTime_OID, "1.2.840.113549.1.9.5"},
    {"pkcs9_challengePassword_OID", pkcs9_challengePassword_OID, "1.2.840.113549.1.9.7"},
    {"pkcs9_extensionRequest_OID", pkcs9_extensionRequest_OID, "1.2.840.113549.1.9.14"},
    {"pkcs9_friendlyName_OID", pkcs9_friendlyName_OID, "1.2.840.113549.1.9.20"},
    {"pkcs9_localKeyId_OID", pkcs9_localKeyId_OID, "1.2.840.113549.1.9.21"},
    {"id_pkix_ocsp_OID", id_pkix_ocsp_OID, "1.3.6.1.5.5.7.48.1"},
    {"id_pkix_ocsp_basic_OID", id_pkix_ocsp_basic_OID, "1.3.6.1.5.5.7.48.1.1"},
    {"id_pkix_ocsp_nonce_OID", id_pkix_ocsp_nonce_OID, "1.3.6.1.5.5.7.48.1.2"},
    {"id_pkix_ocsp_crl_OID", id_pkix_ocsp_crl_OID, "1.3.6.1.5.5.7.48.1.3"},
    {"id_pkix_ocsp_service_locator", id_pkix_ocsp_service_locator, "1.3.6.1.5.5.7.48.1.7"},
    {"id_ad_ocsp", id_ad_ocsp, "1.3.6.1.5.5.7.48.1"},
    {"id_pe_authorityInfoAcess_OID", id_pe_authorityInfoAcess_OID, "1.3.6.1.5.5.7.1.1"},
    {"id_kp_OCSPSigning_OID", id_kp_OCSPSigning_OID, "1.3.6.1.5.5.7.3.9"},
    {"id_ce_extKeyUsage_OID", id_ce_extKeyUsage_OID, "2.5.29.37"},
    {"password_based_mac_OID", password_based_mac_OID, "1.2.840.113533.7.66.13"},
    {"id_regCtrl_oldCertID_OID", id_regCtrl_oldCertID_OID, "1.3.6.1.5.5.7.5.1.5"},
    {"hmac_sha1_OID", hmac_sha1_OID, "1.3.6.1.5.5.8.1.2"},
    {"id_aa_signingCertificate", id_aa_signingCertificate, "1.2.840.113549.1.9.16.2.12"},
    {"id_kp_secureShellServer", id_kp_secureShellServer, "1.3.6.1.5.5.7.3.22"},
    {"ecdsaWithSHA1_OID", ecdsaWithSHA1_OID, "1.2.840.10045.4.1"},
    {"ecPublicKey_OID", ecPublicKey_OID, "1.2.840.10045.2.1"},
    {"ecdsaWithSHA2_OID", ecdsaWithSHA2_OID, "1.2.840.10045.4.3"},
    {"ansiX962CurvesPrime_OID", ansiX962CurvesPrime_OID, "1.2.840.10045.3.1"},
    {"secp192r1_OID", secp192r1_OID, "1.2.840.10045.3.1.1"},
    {"secp256r1_OID", secp256r1_OID, "1.2.840.10045.3.1.7"},
    {"certicomCurve_OID", certicomCurve_OID, "1.3.132.0"},
    {"secp224r1_OID", secp224r1_OID, "1.3.132.0.33"},
    {"secp384r1_OID", secp384r1_OID, "1.3.132.0.34"},
    {"secp521r1_OID", secp521r1_OID, "1.3.132.0.35"},
    {"dhSinglePassStdDHSha1KDF_OID", dhSinglePassStdDHSha1KDF_OID, "1.2.840.63.0.2"},
    {"dhSinglePassStdDHSha256KDF_OID", dhSinglePassStdDHSha256KDF_OID, "1.3.132.1.1"},
    {"dhSinglePassStdDHSha384KDF_OID", dhSinglePassStdDHSha384KDF_OID, "1.3.132.1.2"},
    {"dhSinglePassStdDHSha224KDF_OID", dhSinglePassStdDHSha224KDF_OID, "1.3.132.1.0"},
    {"dhSinglePassStdDHSha512KDF_OID", dhSinglePassStdDHSha512KDF_OID, "1.3.132.1.3"},
    {"aes128Wrap_OID", aes128Wrap_OID, "2.16.840.1.101.3.4.1.5"},
    {"aes192Wrap_OID", aes192Wrap_OID, "2.16.840.1.101.3.4.1.25"},
    {"aes256Wrap_OID", aes256Wrap_OID, "2.16.840.1.101.3.4.1.45"},
};

// Dotted text of a stored identifier, decoded by OpenSSL from the DER that the
// stored form implies (tag 06, the length byte, the content octets).
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
  for (const auto &e : kExported) EXPECT_EQ(Dotted(e.oid), e.dotted) << e.name;
  // The private arcs: enterprise arc, then .1 and .2, each 9 bytes stored.
  const std::string cert = Dotted(vorane_cert_extension_OID), voip = Dotted(vorane_voip_OID);
  EXPECT_EQ(vorane_cert_extension_OID[0], 8);
  EXPECT_EQ(vorane_voip_OID[0], 8);
  EXPECT_EQ(cert.rfind("1.3.6.1.4.1.", 0), 0u) << cert;
  EXPECT_EQ(cert.substr(0, cert.size() - 1) + "2", voip);
  EXPECT_EQ(cert.back(), '1');
}

TEST(Oid, HashIdentifiers) {
  const struct { int32_t hash; const uint8_t *want; } cases[] = {
      {4, md5_OID}, {5, sha1_OID}, {11, sha256_OID}, {12, sha384_OID}, {13, sha512_OID}, {14, sha224_OID},
      {0x10b, sha256_OID}};  // only the low byte counts
  for (const auto &c : cases) {
    const uint8_t *oid = nullptr;
    EXPECT_EQ(CRYPTO_getHashAlgoOID(c.hash, &oid), 0) << c.hash;
    EXPECT_EQ(oid, c.want) << c.hash;
  }
  for (int32_t bad : {0, 1, 6, 10, 15, 255}) {
    const uint8_t *oid = nullptr;
    EXPECT_EQ(CRYPTO_getHashAlgoOID(bad, &oid), -6010) << bad;
    EXPECT_EQ(oid, nullptr);
  }
  EXPECT_EQ(CRYPTO_getHashAlgoOID(5, nullptr), -6001);
}

// Each builder against the published signature identifiers, for every hash
// number 0..15; an unsupported number leaves the output untouched.
TEST(Oid, SignatureIdentifierBuilders) {
  const char *dsa[16] = {}, *ecdsa[16] = {};
  dsa[5] = "1.2.840.10040.4.3";
  dsa[14] = "2.16.840.1.101.3.4.3.1";
  dsa[11] = "2.16.840.1.101.3.4.3.2";
  ecdsa[5] = "1.2.840.10045.4.1";
  ecdsa[14] = "1.2.840.10045.4.3.1";
  ecdsa[11] = "1.2.840.10045.4.3.2";
  ecdsa[12] = "1.2.840.10045.4.3.3";
  ecdsa[13] = "1.2.840.10045.4.3.4";
  for (int32_t h = 0; h < 16; ++h) {
    uint8_t out[16];
    memset(out, 0xee, sizeof out);
    ASSERT_EQ(CRYPTO_getRSAHashAlgoOID(h, out), 0);
    EXPECT_EQ(out[0], 9);
    EXPECT_EQ(Dotted(out), "1.2.840.113549.1.1." + std::to_string(h));
    EXPECT_EQ(out[10], 0xee) << "RSA identifier wrote past 10 bytes";

    memset(out, 0xee, sizeof out);
    int32_t s = CRYPTO_getDSAHashAlgoOID(h, out);
    if (dsa[h] != nullptr) {
      EXPECT_EQ(s, 0) << h;
      EXPECT_EQ(Dotted(out), dsa[h]);
      EXPECT_EQ(out[out[0] + 1], 0xee);
    } else {
      EXPECT_EQ(s, -7620) << h;
      EXPECT_EQ(out[0], 0xee);
    }
    memset(out, 0xee, sizeof out);
    s = CRYPTO_getECDSAHashAlgoOID(h, out);
    if (ecdsa[h] != nullptr) {
      EXPECT_EQ(s, 0) << h;
      EXPECT_EQ(Dotted(out), ecdsa[h]);
      EXPECT_LE(out[0] + 1, 9);
    } else {
      EXPECT_EQ(s, -7620) << h;
      EXPECT_EQ(out[0], 0xee);
    }
  }
  EXPECT_EQ(CRYPTO_getRSAHashAlgoOID(11, nullptr), -6001);
  EXPECT_EQ(CRYPTO_getDSAHashAlgoOID(5, nullptr), -6001);
  EXPECT_EQ(CRYPTO_getECDSAHashAlgoOID(5, nullptr), -6001);
}

TEST(Oid, Comparison) {
  EXPECT_EQ(EqualOID(id_ad_ocsp, id_pkix_ocsp_OID), 1);
  EXPECT_EQ(EqualOID(extendedKeyUsage_OID, id_ce_extKeyUsage_OID), 1);
  EXPECT_EQ(EqualOID(sha256_OID, sha224_OID), 0);        // same length, last octet differs
  EXPECT_EQ(EqualOID(sha2_OID, sha256_OID), 0);          // a prefix is not equal
  EXPECT_EQ(EqualOID(id_pkix_ocsp_basic_OID, id_pkix_ocsp_OID), 0);
  uint8_t built[10];
  ASSERT_EQ(CRYPTO_getRSAHashAlgoOID(5, built), 0);
  EXPECT_EQ(EqualOID(built, sha1withRSAEncryption_OID), 1);
  EXPECT_EQ(EqualOID(nullptr, sha1_OID), 0);
  EXPECT_EQ(EqualOID(sha1_OID, nullptr), 0);
  EXPECT_EQ(EqualOID(nullptr, nullptr), 0);
}

}  // namespace
