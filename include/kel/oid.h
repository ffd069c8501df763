/* Object identifiers: the toolkit's constant algorithm, curve, extension and
 * attribute identifiers, the signature-algorithm identifiers built for a hash
 * number, and their comparison.
 *
 * Stored form: one length byte L, then the L content octets of the DER
 * encoding of the OBJECT IDENTIFIER (no tag byte). Every constant below is
 * L + 1 bytes. Hash numbers: 4 MD5, 5 SHA-1, 11 SHA-256, 12 SHA-384,
 * 13 SHA-512, 14 SHA-224. None of these functions is behind the power-up
 * gate. */
#ifndef KEL_OID_H
#define KEL_OID_H

#include <stdint.h>

#include "kel/export.h"

KEL_BEGIN_DECLS

#define ERR_OID_NULL (-6001)           /* null output buffer or pointer */
#define ERR_OID_UNSUPPORTED (-6010)    /* CRYPTO_getHashAlgoOID: no identifier for the hash */
#define ERR_OID_NO_SIGNATURE (-7620)   /* no DSA / ECDSA signature identifier for the hash */

/* Room a built signature identifier needs. */
#define OID_RSA_SIG_BYTES 10u
#define OID_DSA_SIG_BYTES 10u
#define OID_ECDSA_SIG_BYTES 9u

KEL_API extern const uint8_t pkcs1_OID[];
KEL_API extern const uint8_t rsaEncryption_OID[];
KEL_API extern const uint8_t md5withRSAEncryption_OID[];
KEL_API extern const uint8_t sha1withRSAEncryption_OID[];
KEL_API extern const uint8_t rsaDSI_OID[];
KEL_API extern const uint8_t md5_OID[];
KEL_API extern const uint8_t sha1_OID[];
KEL_API extern const uint8_t sha1withRsaSignature_OID[];
KEL_API extern const uint8_t sha2_OID[];
KEL_API extern const uint8_t sha224_OID[];
KEL_API extern const uint8_t sha256_OID[];
KEL_API extern const uint8_t sha384_OID[];
KEL_API extern const uint8_t sha512_OID[];
KEL_API extern const uint8_t desCBC_OID[];
KEL_API extern const uint8_t aes128CBC_OID[];
KEL_API extern const uint8_t aes192CBC_OID[];
KEL_API extern const uint8_t aes256CBC_OID[];
KEL_API extern const uint8_t subjectKeyIdentifier_OID[];
KEL_API extern const uint8_t keyUsage_OID[];
KEL_API extern const uint8_t subjectAltName_OID[];
KEL_API extern const uint8_t issuerAltName_OID[];
KEL_API extern const uint8_t basicConstraints_OID[];
KEL_API extern const uint8_t crlNumber_OID[];
KEL_API extern const uint8_t crlReason_OID[];
KEL_API extern const uint8_t invalidityDate_OID[];
KEL_API extern const uint8_t nameConstraints_OID[];
KEL_API extern const uint8_t crl_OID[];
KEL_API extern const uint8_t certificatePolicies_OID[];
KEL_API extern const uint8_t authorityKeyIdentifier_OID[];
KEL_API extern const uint8_t extendedKeyUsage_OID[];
KEL_API extern const uint8_t userPrincipalName_OID[];
KEL_API extern const uint8_t dsa_OID[];
KEL_API extern const uint8_t dsaWithSHA1_OID[];
KEL_API extern const uint8_t dsaWithSHA2_OID[];
KEL_API extern const uint8_t commonName_OID[];
KEL_API extern const uint8_t countryName_OID[];
KEL_API extern const uint8_t serialNumber_OID[];
KEL_API extern const uint8_t localityName_OID[];
KEL_API extern const uint8_t stateOrProvinceName_OID[];
KEL_API extern const uint8_t organizationName_OID[];
KEL_API extern const uint8_t organizationalUnitName_OID[];
KEL_API extern const uint8_t domainComponent_OID[];
KEL_API extern const uint8_t pkcs7_root_OID[];
KEL_API extern const uint8_t pkcs7_data_OID[];
KEL_API extern const uint8_t pkcs7_signedData_OID[];
KEL_API extern const uint8_t pkcs7_envelopedData_OID[];
KEL_API extern const uint8_t pkcs7_signedAndEnvelopedData_OID[];
KEL_API extern const uint8_t pkcs7_digestedData_OID[];
KEL_API extern const uint8_t pkcs7_encryptedData_OID[];
KEL_API extern const uint8_t rsaEncryptionAlgoRoot_OID[];
KEL_API extern const uint8_t rc2CBC_OID[];
KEL_API extern const uint8_t rc4_OID[];
KEL_API extern const uint8_t desEDE3CBC_OID[];
KEL_API extern const uint8_t pkcs9_emailAddress_OID[];
KEL_API extern const uint8_t pkcs9_contentType_OID[];
KEL_API extern const uint8_t pkcs9_messageDigest_OID[];
KEL_API extern const uint8_t pkcs9_signingTime_OID[];
KEL_API extern const uint8_t pkcs9_challengePassword_OID[];
KEL_API extern const uint8_t pkcs9_extensionRequest_OID[];
KEL_API extern const uint8_t pkcs9_friendlyName_OID[];
KEL_API extern const uint8_t pkcs9_localKeyId_OID[];
KEL_API extern const uint8_t id_pkix_ocsp_OID[];
KEL_API extern const uint8_t id_pkix_ocsp_basic_OID[];
KEL_API extern const uint8_t id_pkix_ocsp_nonce_OID[];
KEL_API extern const uint8_t id_pkix_ocsp_crl_OID[];
KEL_API extern const uint8_t id_pkix_ocsp_service_locator[];
KEL_API extern const uint8_t id_ad_ocsp[];
KEL_API extern const uint8_t id_pe_authorityInfoAcess_OID[];
KEL_API extern const uint8_t id_kp_OCSPSigning_OID[];
KEL_API extern const uint8_t id_ce_extKeyUsage_OID[];
KEL_API extern const uint8_t password_based_mac_OID[];
KEL_API extern const uint8_t id_regCtrl_oldCertID_OID[];
KEL_API extern const uint8_t hmac_sha1_OID[];
KEL_API extern const uint8_t id_aa_signingCertificate[];
KEL_API extern const uint8_t id_kp_secureShellServer[];
KEL_API extern const uint8_t ecdsaWithSHA1_OID[];
KEL_API extern const uint8_t ecPublicKey_OID[];
KEL_API extern const uint8_t ecdsaWithSHA2_OID[];
KEL_API extern const uint8_t ansiX962CurvesPrime_OID[];
KEL_API extern const uint8_t secp192r1_OID[];
KEL_API extern const uint8_t secp256r1_OID[];
KEL_API extern const uint8_t certicomCurve_OID[];
KEL_API extern const uint8_t secp224r1_OID[];
KEL_API extern const uint8_t secp384r1_OID[];
KEL_API extern const uint8_t secp521r1_OID[];
KEL_API extern const uint8_t dhSinglePassStdDHSha1KDF_OID[];
KEL_API extern const uint8_t dhSinglePassStdDHSha256KDF_OID[];
KEL_API extern const uint8_t dhSinglePassStdDHSha384KDF_OID[];
KEL_API extern const uint8_t dhSinglePassStdDHSha224KDF_OID[];
KEL_API extern const uint8_t dhSinglePassStdDHSha512KDF_OID[];
KEL_API extern const uint8_t aes128Wrap_OID[];
KEL_API extern const uint8_t aes192Wrap_OID[];
KEL_API extern const uint8_t aes256Wrap_OID[];
KEL_API extern const uint8_t vorane_cert_extension_OID[];
KEL_API extern const uint8_t vorane_voip_OID[];

/* CRYPTO_getHashAlgoOID points *oid at md5_OID (4), sha1_OID (5), sha256_OID
 * (11), sha384_OID (12), sha512_OID (13) or sha224_OID (14); only the low
 * byte of hashAlgo counts. -6001 null oid; -6010 any other number. */
KEL_API int32_t CRYPTO_getHashAlgoOID(int32_t hashAlgo, const uint8_t **oid);

/* CRYPTO_getRSAHashAlgoOID writes 1.2.840.113549.1.1.<low byte of hashAlgo>
 * (10 bytes) into out; the number is not checked. -6001 null out. */
KEL_API int32_t CRYPTO_getRSAHashAlgoOID(int32_t hashAlgo, uint8_t *out);

/* CRYPTO_getDSAHashAlgoOID writes dsa-with-SHA1 (5), dsa-with-SHA224 (14) or
 * dsa-with-SHA256 (11) into out (at most 10 bytes). -6001 null out; -7620
 * any other number. */
KEL_API int32_t CRYPTO_getDSAHashAlgoOID(int32_t hashAlgo, uint8_t *out);

/* CRYPTO_getECDSAHashAlgoOID writes ecdsa-with-SHA1 (5), -SHA224 (14),
 * -SHA256 (11), -SHA384 (12) or -SHA512 (13) into out (at most 9 bytes).
 * -6001 null out; -7620 any other number. */
KEL_API int32_t CRYPTO_getECDSAHashAlgoOID(int32_t hashAlgo, uint8_t *out);

/* EqualOID: 1 when both identifiers are non-null with the same length byte
 * and content octets, else 0 (a truth value, not a status). */
KEL_API int32_t EqualOID(const uint8_t *a, const uint8_t *b);

KEL_END_DECLS

#endif /* KEL_OID_H */
