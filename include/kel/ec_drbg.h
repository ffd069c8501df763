/* The NIST EC-DRBG (Dual_EC_DRBG) over P-256 and P-384 with Hash_df over a
 * toolkit digest. An instance lives in a RandomContext of kind 1 and is used
 * only through these entries (RANDOM_numberGenerator, RANDOM_addEntropyBit
 * and RANDOM_releaseContext refuse it). Every entry is gated. */
#ifndef KEL_EC_DRBG_H
#define KEL_EC_DRBG_H

#include <stdint.h>

#include "kel/ec.h"
#include "kel/export.h"
#include "kel/hash.h"
#include "kel/os.h"
#include "kel/random.h"

KEL_BEGIN_DECLS

#define ERR_ECDRBG_HASH_DF_TOO_LONG (-17201) /* more than 255 digests */
#define ERR_ECDRBG_BAD_CURVE (-17202)
#define ERR_ECDRBG_INPUT_TOO_LONG (-17203)   /* entropy or personalisation above 1024 bytes */
#define ERR_ECDRBG_BAD_HASH (-17204)         /* hash not allowed for the curve */
#define ERR_ECDRBG_COUNT_WRAP (-17205)
#define ERR_ECDRBG_INPUT_TOO_SHORT (-17211)  /* entropy or nonce below the curve's minimum */
#define ERR_ECDRBG_CONTINUOUS_TEST (-16526)  /* two equal blocks; also the power-up status */

/* The state behind the RandomContext header of a kind-1 context. */
typedef struct EcDrbgState {
  const PrimeCurve *curve;
  const HashSuite *hashSuite;
  uint32_t blockCount;  /* blocks since instantiation or reseed */
  uint32_t outlenBits;  /* 240 (P-256) or 368 (P-384) */
  uint32_t seedlenBits; /* 256 or 384 */
  uint32_t *s;
  const uint32_t *Qx;
  const uint32_t *Qy;
  uint32_t *r;
  uint32_t *scratchY;
  MutexHandle lock;     /* guards the continuous test */
  uint8_t *blockBuffer; /* current block, then the previous one (2 x field bytes) */
} EcDrbgState;

/* NIST_ECDRBG_newContext: hashId 5 (P-256 only), 14, 11, 12 or 13. -6001
 * null out, entropy or nonce, or zero lengths; -17203, -17211, -17204,
 * -17202, -6101. *ctx is written only on success. */
KEL_API int32_t NIST_ECDRBG_newContext(RandomContext **ctx, const PrimeCurve *curve, uint8_t hashId,
                                       const uint8_t *entropy, uint32_t entropyLength, const uint8_t *nonce,
                                       uint32_t nonceLength, const uint8_t *personalization,
                                       uint32_t personalizationLength);
/* Wipes and frees the instance, sets *ctx to NULL; -6001 null or another kind. */
KEL_API int32_t NIST_ECDRBG_deleteContext(RandomContext **ctx);
KEL_API int32_t NIST_ECDRBG_reseed(RandomContext *ctx, const uint8_t *entropy, uint32_t entropyLength,
                                   const uint8_t *additional, uint32_t additionalLength);
/* Writes ceil(bits / 8) bytes (surplus low bits of the last byte cleared);
 * -17205 when the block count would wrap; -16526 continuous test. */
KEL_API int32_t NIST_ECDRBG_generate(RandomContext *ctx, const uint8_t *additional, uint32_t additionalLength,
                                     uint8_t *output, uint32_t bits);
KEL_API int32_t NIST_ECDRBG_numberGenerator(RandomContext *ctx, uint8_t *output, uint32_t length);
KEL_API int32_t NIST_ECDRBG_rngFun(void *ctx, uint32_t length, uint8_t *output);

KEL_END_DECLS

#endif /* KEL_EC_DRBG_H */
