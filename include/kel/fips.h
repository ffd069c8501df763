/* Power-up status: the verdict of the self-test that gates every approved
 * algorithm; the power-up self-test with its known-answer (KAT) and
 * pairwise-consistency (PCT) tests; the paths of the integrity-check files.
 *
 * Every test returns 0 or a negative status; unless noted, a failing test
 * also writes its status into gFIPS_powerupStatus (the error state). The
 * accelerator handle of the tests is unused; pass NULL. */
#ifndef KEL_FIPS_H
#define KEL_FIPS_H

#include <stdint.h>

#include "kel/cipher.h"
#include "kel/export.h"
#include "kel/hash.h"
#include "kel/random.h"

KEL_BEGIN_DECLS

/* The self-test has not run yet: the value at load. */
#define ERR_FIPS_SELFTEST_NOT_RUN (-16508)

KEL_API extern int32_t gFIPS_powerupStatus;

/* Failure statuses of the self-tests. */
#define ERR_FIPS_DSA_PCT (-16501)
#define ERR_FIPS_RANDOM_KAT (-16509)
#define ERR_FIPS_HASH_NULL_SUITE (-16510)
#define ERR_FIPS_HASH_KAT (-16511)         /* digest or CMAC tag mismatch */
#define ERR_FIPS_HASH_LENGTH (-16512)
#define ERR_FIPS_HMAC_NULL_SUITE (-16513)
#define ERR_FIPS_HMAC_KAT (-16514)
#define ERR_FIPS_HMAC_LENGTH (-16515)
#define ERR_FIPS_SYM_NULL (-16516)         /* null suite, or the context could not be created */
#define ERR_FIPS_SYM_KAT (-16517)          /* symmetric, CCM, GCM or XTS mismatch */
#define ERR_FIPS_SYM_LENGTH (-16518)       /* data length not a multiple of the block */
#define ERR_FIPS_RSA_PCT (-16519)
#define ERR_FIPS_ECDSA_PCT (-16520)
#define ERR_FIPS_ECDH_PCT (-16521)
#define ERR_FIPS_DH_PCT (-16522)
#define ERR_FIPS_DRBG_KAT (-16524)

/* FIPS_powerupSelfTestStatus returns gFIPS_powerupStatus. */
KEL_API int32_t FIPS_powerupSelfTestStatus(void);

/* FIPS_powerupSelfTest sets the status to 0, runs FIPS_knownAnswerTests and,
 * when they pass, FIPS_pairwiseConsistencyTests, stores the result in
 * gFIPS_powerupStatus and returns it. The only way back to 0 after a
 * failure. Run it once, before other threads use the toolkit. */
KEL_API int32_t FIPS_powerupSelfTest(void);

/* The 21 known-answer tests in order, up to the first failure (returned). */
KEL_API int32_t FIPS_knownAnswerTests(void);

/* Acquires a default random context (its status on failure), runs the five
 * pairwise-consistency tests in order up to the first failure, releases the
 * context and returns the status. */
KEL_API int32_t FIPS_pairwiseConsistencyTests(void);

/* FIPS 186 generator: -16509 mismatch, -6101 no memory. */
KEL_API int32_t FIPS_randomKat(void);
/* CTR-DRBG with and without derivation function, then the EC-DRBG on P-256
 * with SHA-1: -16524 mismatch, or the DRBG's status. */
KEL_API int32_t FIPS_nistRngKat(void);

/* FIPS_hashKat digests 32 zero bytes through the suite and compares with
 * expected: -16510 null suite, -16512 digest size differs from
 * expectedLength (nothing hashed), -16511 mismatch; suite statuses pass
 * through. forceFail 1 flips the top bit of the first byte before the
 * comparison. name only identifies the test. */
KEL_API int32_t FIPS_hashKat(void *hwAccelCtx, const char *name, const HashSuite *suite, const uint8_t *expected,
                             uint32_t expectedLength, int32_t forceFail);
KEL_API int32_t FIPS_sha1Kat(void *hwAccelCtx);
KEL_API int32_t FIPS_sha224Kat(void *hwAccelCtx);
KEL_API int32_t FIPS_sha256Kat(void *hwAccelCtx);
KEL_API int32_t FIPS_sha384Kat(void *hwAccelCtx);
KEL_API int32_t FIPS_sha512Kat(void *hwAccelCtx);

/* FIPS_hmacHashKat: HMAC of a fixed 32-byte message under a fixed 32-byte
 * key: -16513 null suite, -16515 size differs, -16514 mismatch; HMAC
 * statuses pass through. forceFail as FIPS_hashKat. */
KEL_API int32_t FIPS_hmacHashKat(void *hwAccelCtx, const char *name, const HashSuite *suite,
                                 const uint8_t *expected, uint32_t expectedLength, int32_t forceFail);
KEL_API int32_t FIPS_hmacSha1Kat(void *hwAccelCtx);
KEL_API int32_t FIPS_hmacSha224Kat(void *hwAccelCtx);
KEL_API int32_t FIPS_hmacSha256Kat(void *hwAccelCtx);
KEL_API int32_t FIPS_hmacSha384Kat(void *hwAccelCtx);
KEL_API int32_t FIPS_hmacSha512Kat(void *hwAccelCtx);

/* FIPS_symKat runs one direction (1 encrypt, 0 decrypt) of the suite over
 * the fixed key (keyLength bytes), IV (one block) and dataLength bytes of
 * the fixed data (at most 32): -16516 null suite or no context, -16518
 * dataLength not a multiple of a non-zero block size, -16517 mismatch;
 * cipher statuses pass through. forceFail as FIPS_hashKat. */
KEL_API int32_t FIPS_symKat(void *hwAccelCtx, const char *name, const CipherSuite *suite, uint32_t keyLength,
                            int32_t encrypt, const uint8_t *expected, uint32_t dataLength, int32_t forceFail);
KEL_API int32_t FIPS_tdesCbcKat(void *hwAccelCtx);
KEL_API int32_t FIPS_aes256CbcKat(void *hwAccelCtx);
KEL_API int32_t FIPS_aes256CtrKat(void *hwAccelCtx);
KEL_API int32_t FIPS_aes256EcbKat(void *hwAccelCtx);
KEL_API int32_t FIPS_aesCfbKat(void *hwAccelCtx);
/* CMAC: -16511; CCM, XTS: -16517. */
KEL_API int32_t FIPS_aesCmacKat(void *hwAccelCtx);
KEL_API int32_t FIPS_aesCcmKat(void *hwAccelCtx);
KEL_API int32_t FIPS_aesXtsKat(void *hwAccelCtx);
/* GCM test case 2 both ways: -16517, or the failing GCM call's status. It
 * writes no power-up status itself. */
KEL_API int32_t FIPS_aesGcmKat(void *hwAccelCtx);

/* Pairwise-consistency tests with a random context: -16501 DSA, -16519
 * RSA, -16520 ECDSA, -16521 ECDH (P-256, then P-384), -16522 Diffie-Hellman;
 * a failing algorithm call returns its own status. */
KEL_API int32_t FIPS_dsaPct(void *hwAccelCtx, RandomContext *rng);
KEL_API int32_t FIPS_rsaPct(void *hwAccelCtx, RandomContext *rng);
KEL_API int32_t FIPS_ecdsaPct(void *hwAccelCtx, RandomContext *rng);
KEL_API int32_t FIPS_ecdhPct(void *hwAccelCtx, RandomContext *rng);
KEL_API int32_t FIPS_dhPct(void *hwAccelCtx, RandomContext *rng);

/* Integrity-check paths. path must hold at least 262 bytes; a null path
 * returns 0 and does nothing.
 * getLibFilePath: the file of the shared object that defines
 * FIPS_SetForceFailFromFile (at most 260 bytes); 0 when it contains
 * "libtvcrypto.so", 2 when not, -1 (path untouched) when the loader cannot
 * name it.
 * getHashFilePath, getFFPath: the file of the object that provides
 * FIPS_powerupSelfTest; when it contains "libtvcrypto.so" the path is cut
 * there and "libtvcrypto.sig" (resp. "libtvcrypto.fft") appended, 0;
 * otherwise 2 with the path as copied; -1 as above. */
KEL_API int getLibFilePath(char *path);
KEL_API int getHashFilePath(char *path);
KEL_API int getFFPath(char *path);

KEL_END_DECLS

#endif /* KEL_FIPS_H */
