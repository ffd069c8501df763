/* The NIST SP 800-90A CTR_DRBG with AES-128/192/256 or three-key TDEA, with
 * or without the block-cipher derivation function, inside a RandomContext
 * of kind 2. Instances carry a health test (a known answer and error-path
 * checks at instantiation, every reseed and every 2^24 generate calls) and
 * a continuous test over the output blocks. Every entry is gated: while the
 * power-up status (kel/fips.h) is not 0 it is returned at once. */
#ifndef KEL_CTR_DRBG_H
#define KEL_CTR_DRBG_H

#include <stdint.h>

#include "kel/aes.h"
#include "kel/des.h"
#include "kel/export.h"
#include "kel/os.h"
#include "kel/random.h"

KEL_BEGIN_DECLS

#define ERR_DRBG_KAT_FAILED (-16524)          /* known answer mismatch, or an error-path check failed */
#define ERR_DRBG_CONTINUOUS_TEST (-16525)     /* two equal consecutive output blocks */
#define ERR_DRBG_RESEED_REQUIRED (-17205)     /* reseed counter exhausted */
#define ERR_DRBG_DF_TOO_LONG (-17206)         /* derivation function asked for more than 64 bytes */
#define ERR_DRBG_BAD_KEY_LENGTH (-17207)      /* key length not allowed for the cipher */
#define ERR_DRBG_BAD_BLOCK_LENGTH (-17208)    /* block length neither 8 nor 16 */
#define ERR_DRBG_REQUEST_TOO_LARGE (-17209)   /* too many bits in one request */
#define ERR_DRBG_BAD_ENTROPY_LENGTH (-17210)  /* entropy input length not seedlen */
#define ERR_DRBG_INPUT_TOO_SHORT (-17211)     /* derivation function: entropy below the security strength, or nonce missing or below half of it */
#define ERR_DRBG_PERS_TOO_LONG (-17212)       /* personalisation string longer than seedlen */
#define ERR_DRBG_ADDITIONAL_TOO_LONG (-17213) /* additional input longer than allowed */
#define ERR_DRBG_WIPE_CHECK (-17214)          /* the wiped state did not read back as zeros */

/* Flags of an instance: skip its health test. */
#define CTRDRBG_FLAG_NO_HEALTH_TEST 0x02u

/* One-block encryption with the instance's key schedule. */
typedef int32_t (*CtrDrbgBlockFun)(const void *keySchedule, const uint8_t *input, uint8_t *output);

typedef union CtrDrbgKeySchedule {
  AesContext aes;
  TripleDesContext tdea;
} CtrDrbgKeySchedule;

/* The state inside a kind-2 RandomContext; V (blockLength bytes) and Key
 * (keyLength bytes) follow it in the same heap block. */
typedef struct CtrDrbgState {
  uint64_t reseedCounter;
  uint32_t blockLength; /* outlen in bytes: 16 (AES) or 8 (TDEA) */
  uint32_t keyLength;   /* 16, 24, 32 (AES) or 21 (TDEA); seedlen = keyLength + blockLength */
  CtrDrbgBlockFun blockEncrypt;
  CtrDrbgKeySchedule keySchedule;
  uint8_t usesDf;       /* bit 0: the derivation function is used */
  MutexHandle lock;     /* held by generate, reseed and delete */
  uint8_t *previousBlock;
  uint8_t flags;        /* CTRDRBG_FLAG_NO_HEALTH_TEST */
  uint32_t healthCount;
  uint32_t healthInterval;
  uint32_t maxBitsPerRequest;
  uint32_t entropyLengthLow;
  uint32_t entropyLengthHigh;
  uint32_t maxAdditionalLength;
  uint64_t reseedInterval;
  uint32_t forkGeneration; /* process generation last seeded in: a fork() child reseeds from the OS */
} CtrDrbgState;

/* A DRBG known-answer record: instantiate, reseed, generate, reseed,
 * generate, compare the second output. outputLength is also the block
 * length given to the CTR-DRBG; expectedOutput holds outputLength bytes. */
typedef struct DrbgTestVector {
  uint32_t entropyInputLength;
  uint8_t entropyInput[48];
  uint32_t nonceLength;
  uint8_t nonce[16];
  uint32_t personalizationLength;
  uint8_t personalization[48];
  uint32_t additionalInput1Length;
  uint8_t additionalInput1[48];
  uint32_t reseedEntropy1Length;
  uint8_t reseedEntropy1[48];
  uint32_t additionalInput2Length;
  uint8_t additionalInput2[48];
  uint32_t reseedEntropy2Length;
  uint8_t reseedEntropy2[48];
  uint32_t outputLength;
  uint8_t expectedOutput[64];
} DrbgTestVector;

/* NIST_CTRDRBG_newContext instantiates without derivation function from
 * entropyLength (= seedlen) bytes of entropy and an optional
 * personalisation string; unless flags has bit 1 the health test runs
 * first. -6001 null ctx or entropy; -17212, -17210, -17207, -17208 bad
 * lengths; -6101 memory; health-test statuses. *ctx is NULL on failure. */
KEL_API int32_t NIST_CTRDRBG_newContext(RandomContext **ctx, const uint8_t *entropy, uint32_t entropyLength,
                                        uint32_t keyLength, uint32_t blockLength, const uint8_t *personalization,
                                        uint32_t personalizationLength, uint8_t flags);

/* NIST_CTRDRBG_newDFContext instantiates with the derivation function over
 * entropy || nonce || personalisation. The entropy must hold at least the
 * security strength (16, 24 or 32 bytes for AES-128/192/256, 14 for TDEA)
 * and the nonce at least half of it: -17211 otherwise, also for a null
 * nonce. Unless flags has bit 1 the health test (a known answer through the
 * derivation function and its refusals) runs first. -6001, -17207, -17208,
 * -6101 as above; health-test statuses. */
KEL_API int32_t NIST_CTRDRBG_newDFContext(RandomContext **ctx, uint32_t keyLength, uint32_t blockLength,
                                          const uint8_t *entropy, uint32_t entropyLength, const uint8_t *nonce,
                                          uint32_t nonceLength, const uint8_t *personalization,
                                          uint32_t personalizationLength, uint8_t flags);

/* NIST_CTRDRBG_deleteContext wipes and frees the instance and sets *ctx to
 * NULL. -6001 null pointer, null context or another kind; -17214 the wipe
 * did not read back as zeros. */
KEL_API int32_t NIST_CTRDRBG_deleteContext(RandomContext **ctx);

/* NIST_CTRDRBG_reseed runs the health test, then reseeds with the entropy
 * and optional additional input. -6001; -17210; -17213; -17211 entropy
 * below the security strength (derivation-function instances). */
KEL_API int32_t NIST_CTRDRBG_reseed(RandomContext *ctx, const uint8_t *entropy, uint32_t entropyLength,
                                    const uint8_t *additional, uint32_t additionalLength);

/* NIST_CTRDRBG_generate writes ceil(bits / 8) bytes (surplus low bits of the
 * last byte are not cleared). Bit 1 of flags leaves the scheduled health
 * test out. -6001; -17205 reseed required; -17209 bits >= 2^19 (AES) or
 * > 8191 (TDEA); -17213; -16525 continuous test (also written to the
 * power-up status); -17600 the first request in a fork() child could not
 * reseed from the OS seed source.
 *
 * An instance may be shared by threads: generate, reseed and delete each
 * hold the instance lock for their whole run. */
KEL_API int32_t NIST_CTRDRBG_generate(RandomContext *ctx, const uint8_t *additional, uint32_t additionalLength,
                                      uint8_t *output, uint32_t bits, uint8_t flags);

/* NIST_CTRDRBG_numberGenerator: generate of 8 * length bits, no additional
 * input, flags 0. A length whose bit count reaches 2^19 gives -17209. */
KEL_API int32_t NIST_CTRDRBG_numberGenerator(RandomContext *ctx, uint8_t *buffer, uint32_t length);

/* NIST_CTRDRBG_rngFun: the same in RngFun order. */
KEL_API int32_t NIST_CTRDRBG_rngFun(void *ctx, uint32_t length, uint8_t *buffer);

/* FIPS_NIST_CTRDRGB_DoKAT runs one record through a test instance (with
 * the derivation function when useDf is non-zero) of keyLength bytes: 0,
 * -16524 on a mismatch, or the failing call's status. It writes no
 * power-up status. */
KEL_API int32_t FIPS_NIST_CTRDRGB_DoKAT(uint8_t useDf, const DrbgTestVector *vector, uint32_t keyLength);

KEL_END_DECLS

#endif /* KEL_CTR_DRBG_H */
