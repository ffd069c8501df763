// kelctl oid: the toolkit's object identifiers with their dotted values,
// decoded from the stored form (length byte, DER content octets), then the
// signature identifiers built for each hash number.
#include <cstdio>
#include <cstring>
#include <string>

#include "kel/oid.h"
#include "kelctl/commands.h"
#include "kelctl/util.h"

namespace kelctl {
namespace {

struct Named {
  const char *name;
  const uint8_t *oid;
};

const Named kIdentifiers[] = {
    {"pkcs1_OID", pkcs1_OID},
    {"rsaEncryption_OID", rsaEncryption_OID},
    {"md5withRSAEncryption_OID", md5withRSAEncryption_OID},
    {"sha1withRSAEncryption_OID", sha1withRSAEncryption_OID},
    {"rsaDSI_OID", rsaDSI_OID},
    {"md5_OID", md5_OID},
    {"sha1_OID", sha1_OID},
    {"sha1withRsaSignature_OID", sha1withRsaSignature_OID},
    {"sha2_OID", sha2_OID},
    {"sha224_OID", sha224_OID},
    {"sha256_OID", sha256_OID},
    {"sha384_OID", sha384_OID},
    {"sha512_OID", sha512_OID},
    {"desCBC_OID", desCBC_OID},
    {"aes128CBC_OID", aes128CBC_OID},
    {"aes192CBC_OID", aes192CBC_OID},
    {"aes256CBC_OID", aes256CBC_OID},
    {"subjectKeyIdentifier_OID", subjectKeyIdentifier_OID},
    {"keyUsage_OID", keyUsage_OID},
    {"subjectAltName_OID", subjectAltName_OID},
    {"issuerAltName_OID", issuerAltName_OID},
    {"basicConstraints_OID", basicConstraints_OID},
    {"crlNumber_OID", crlNumber_OID},
    {"crlReason_OID", crlReason_OID},
    {"invalidityDate_OID", invalidityDate_OID},
    {"nameConstraints_OID", nameConstraints_OID},
    {"crl_OID", crl_OID},
    {"certificatePolicies_OID", certificatePolicies_OID},
    {"authorityKeyIdentifier_OID", authorityKeyIdentifier_OID},
    {"extendedKeyUsage_OID", extendedKeyUsage_OID},
    {"userPrincipalName_OID", userPrincipalName_OID},
    {"dsa_OID", dsa_OID},
    {"dsaWithSHA1_OID", dsaWithSHA1_OID},
    {"dsaWithSHA2_OID", dsaWithSHA2_OID},
    {"commonName_OID", commonName_OID},
    {"countryName_OID", countryName_OID},
    {"serialNumber_OID", serialNumber_OID},
    {"localityName_OID", localityName_OID},
    {"stateOrProvinceName_OID", stateOrProvinceName_OID},
    {"organizationName_OID", organizationName_OID},
    {"organizationalUnitName_OID", organizationalUnitName_OID},
    {"domainComponent_OID", domainComponent_OID},
    {"pkcs7_root_OID", pkcs7_root_OID},
    {"pkcs7_data_OID", pkcs7_data_OID},
    {"pkcs7_signedData_OID", pkcs7_signedData_OID},
    {"pkcs7_envelopedData_OID", pkcs7_envelopedData_OID},
    {"pkcs7_signedAndEnvelopedData_OID", pkcs7_signedAndEnvelopedData_OID},
    {"pkcs7_digestedData_OID", pkcs7_digestedData_OID},
    {"pkcs7_encryptedData_OID", pkcs7_encryptedData_OID},
    {"rsaEncryptionAlgoRoot_OID", rsaEncryptionAlgoRoot_OID},
    {"rc2CBC_OID", rc2CBC_OID},
    {"rc4_OID", rc4_OID},
    {"desEDE3CBC_OID", desEDE3CBC_OID},
    {"pkcs9_emailAddress_OID", pkcs9_emailAddress_OID},
    {"pkcs9_contentType_OID", pkcs9_contentType_OID},
    {"pkcs9_messageDigest_OID", pkcs9_messageDigest_OID},
    {"pkcs9_signingTime_OID", pkcs9_signingTime_OID},
    {"pkcs9_challengePassword_OID", pkcs9_challengePassword_OID},
    {"pkcs9_extensionRequest_OID", pkcs9_extensionRequest_OID},
    {"pkcs9_friendlyName_OID", pkcs9_friendlyName_OID},
    {"pkcs9_localKeyId_OID", pkcs9_localKeyId_OID},
    {"id_pkix_ocsp_OID", id_pkix_ocsp_OID},
    {"id_pkix_ocsp_basic_OID", id_pkix_ocsp_basic_OID},
    {"id_pkix_ocsp_nonce_OID", id_pkix_ocsp_nonce_OID},
    {"id_pkix_ocsp_crl_OID", id_pkix_ocsp_crl_OID},
    {"id_pkix_ocsp_service_locator", id_pkix_ocsp_service_locator},
    {"id_ad_ocsp", id_ad_ocsp},
    {"id_pe_authorityInfoAcess_OID", id_pe_authorityInfoAcess_OID},
    {"id_kp_OCSPSigning_OID", id_kp_OCSPSigning_OID},
    {"id_ce_extKeyUsage_OID", id_ce_extKeyUsage_OID},
    {"password_based_mac_OID", password_based_mac_OID},
    {"id_regCtrl_oldCertID_OID", id_regCtrl_oldCertID_OID},
    {"hmac_sha1_OID", hmac_sha1_OID},
    {"id_aa_signingCertificate", id_aa_signingCertificate},
    {"id_kp_secureShellServer", id_kp_secureShellServer},
    {"ecdsaWithSHA1_OID", ecdsaWithSHA1_OID},
    {"ecPublicKey_OID", ecPublicKey_OID},
    {"ecdsaWithSHA2_OID", ecdsaWithSHA2_OID},
    {"ansiX962CurvesPrime_OID", ansiX962CurvesPrime_OID},
    {"secp192r1_OID", secp192r1_OID},
    {"secp256r1_OID", secp256r1_OID},
    {"certicomCurve_OID", certicomCurve_OID},
    {"secp224r1_OID", secp224r1_OID},
    {"secp384r1_OID", secp384r1_OID},
    {"secp521r1_OID", secp521r1_OID},
    {"dhSinglePassStdDHSha1KDF_OID", dhSinglePassStdDHSha1KDF_OID},
    {"dhSinglePassStdDHSha256KDF_OID", dhSinglePassStdDHSha256KDF_OID},
    {"dhSinglePassStdDHSha384KDF_OID", dhSinglePassStdDHSha384KDF_OID},
    {"dhSinglePassStdDHSha224KDF_OID", dhSinglePassStdDHSha224KDF_OID},
    {"dhSinglePassStdDHSha512KDF_OID", dhSinglePassStdDHSha512KDF_OID},
    {"aes128Wrap_OID", aes128Wrap_OID},
    {"aes192Wrap_OID", aes192Wrap_OID},
    {"aes256Wrap_OID", aes256Wrap_OID},
    {"vorane_cert_extension_OID", vorane_cert_extension_OID},
    {"vorane_voip_OID", vorane_voip_OID},
};

// Dotted text of a stored identifier: base-128 arcs, the first octet's arc
// holding the first two (40a + b).
std::string Dotted(const uint8_t *stored) {
  std::string text;
  unsigned long long arc = 0;
  bool first = true;
  for (uint32_t i = 1; i <= stored[0]; ++i) {
    arc = (arc << 7) | (stored[i] & 0x7f);
    if (stored[i] & 0x80) continue;
    if (first) {
      const unsigned long long a = arc < 80 ? arc / 40 : 2;
      text = std::to_string(a);
      arc -= 40 * a;
      first = false;
    }
    text += '.';
    text += std::to_string(arc);
    arc = 0;
  }
  return text;
}

void PrintBuilt(const char *family, int32_t (*build)(int32_t, uint8_t *), int32_t hash, const char *hashName) {
  uint8_t out[16];
  const int32_t st = build(hash, out);
  if (st == 0)
    std::printf("  %-6s %-8s %s\n", family, hashName, Dotted(out).c_str());
  else
    std::printf("  %-6s %-8s (status %d)\n", family, hashName, st);
}

}  // namespace

int RunOid(int argc, char **argv) {
  Args a("oid", "usage: kelctl oid\nlists the toolkit's object identifiers with their dotted values\n", argc, argv);
  while (a.Next()) return a.Fail("unexpected argument '%s'", a.value);
  if (a.exit >= 0) return a.exit;
  for (const auto &n : kIdentifiers) std::printf("%-34s %s\n", n.name, Dotted(n.oid).c_str());
  std::printf("\nsignature identifiers by hash:\n");
  const struct { int32_t number; const char *name; } hashes[] = {
      {4, "md5"}, {5, "sha1"}, {14, "sha224"}, {11, "sha256"}, {12, "sha384"}, {13, "sha512"}};
  for (const auto &h : hashes) {
    PrintBuilt("rsa", CRYPTO_getRSAHashAlgoOID, h.number, h.name);
    PrintBuilt("dsa", CRYPTO_getDSAHashAlgoOID, h.number, h.name);
    PrintBuilt("ecdsa", CRYPTO_getECDSAHashAlgoOID, h.number, h.name);
  }
  return kExitOk;
}

}  // namespace kelctl
