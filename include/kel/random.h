/* Random contexts: one tagged block over the toolkit's generators (the FIPS
 * 186-2 general-purpose generator, the EC-DRBG and the CTR-DRBG), the
 * dispatch over them, the two ready-made seeded contexts, and the FIPS 186
 * generator itself. Statuses are signed 32-bit: 0 success, negative failure.
 * Gated entries return the power-up status (kel/fips.h) while it is not 0
 * and do nothing else. */
#ifndef KEL_RANDOM_H
#define KEL_RANDOM_H

#include <stdint.h>

#include "kel/export.h"
#include "kel/os.h"

KEL_BEGIN_DECLS

/* Generator kinds held in RandomContext.kind. */
#define RANDOM_KIND_FIPS186 0u
#define RANDOM_KIND_ECDRBG 1u
#define RANDOM_KIND_CTRDRBG 2u

/* Kinds accepted by RANDOM_acquireContextEx (0 is taken as 3). */
#define RANDOM_ACQUIRE_FIPS186 1u
#define RANDOM_ACQUIRE_CTRDRBG 3u

#define ERR_RANDOM_UNSUPPORTED (-6010)         /* acquisition kind, or keyLength outside 20..64 */
#define ERR_RANDOM_BAD_LENGTH (-6003)          /* a byte count the generator cannot take */
#define ERR_FIPS186_XKEY_EQUALS_XSEED (-9000)  /* XKEY and XSEED of equal length and content */
#define ERR_FIPS186_CONTINUOUS_TEST (-16507)   /* two equal consecutive 20-byte blocks */
#define ERR_RANDOM_SEED_SOURCE (-17600)        /* the OS seed failed or repeated 4 bytes */

/* The header of every random context; the generator's own state follows it
 * in the same heap block (Fips186State, CtrDrbgState or the EC-DRBG's). */
typedef struct RandomContext {
  uint32_t kind;            /* RANDOM_KIND_* */
  uint32_t entropyBitCount; /* bits accepted since the last reseed (CTR-DRBG) or creation */
} RandomContext;

/* State of the FIPS 186-2 generator (b = 8 * keyLength bits). Integers are
 * big-endian byte strings. */
typedef struct Fips186State {
  const uint8_t *pXSEED;      /* optional seed, not copied; used while xseedLength > 0 */
  int32_t xseedLength;        /* bytes of XSEED still to be used */
  uint8_t outputBuffer[40];   /* the two blocks of the last refill */
  uint8_t previousBlock[20];  /* last block produced, for the continuous test */
  uint8_t bytesLeft;          /* unserved bytes at the end of outputBuffer */
  uint8_t keyLength;          /* b / 8: 20 to 64 */
  uint8_t xval[64];           /* XVAL, zero-padded: the input block of G */
  uint8_t xkey[64];           /* XKEY (first keyLength bytes) */
  uint32_t entropyBitPosition;/* XKEY bit the next entropy bit goes to */
  MutexHandle lock;           /* serialises generation */
} Fips186State;

/* The generator callback of the public-key operations. */
typedef int32_t (*RngFun)(void *rngFunArg, uint32_t length, uint8_t *buffer);

/* RANDOM_acquireContext: RANDOM_acquireContextEx with kind 3 (CTR-DRBG). */
KEL_API int32_t RANDOM_acquireContext(RandomContext **ctx);

/* RANDOM_acquireContextEx creates a context seeded from the OS seed source:
 * kind 1 a FIPS 186 generator (keyLength 64), kind 3 (or 0) an AES-256
 * CTR-DRBG without derivation function. -6001 null ctx; -6010 any other
 * kind; -17600 the seed source failed or repeated itself; statuses of the
 * generators pass through. *ctx is written only on success. */
KEL_API int32_t RANDOM_acquireContextEx(RandomContext **ctx, uint8_t kind);

/* RANDOM_releaseContext deletes a FIPS 186 or CTR-DRBG context through its
 * own deleter (both gated) and sets *ctx to NULL. -6001 null pointer, null
 * context or another kind. */
KEL_API int32_t RANDOM_releaseContext(RandomContext **ctx);

/* RANDOM_numberGenerator fills buffer with length random bytes from a FIPS
 * 186 or CTR-DRBG context. -6001 null context or buffer, or another kind. */
KEL_API int32_t RANDOM_numberGenerator(RandomContext *ctx, uint8_t *buffer, uint32_t length);

/* RANDOM_rngFun: RngFun form of RANDOM_numberGenerator (length first). Gated. */
KEL_API int32_t RANDOM_rngFun(void *ctx, uint32_t length, uint8_t *buffer);

/* RANDOM_addEntropyBit adds the lowest bit of entropyBit: into XKEY (FIPS
 * 186), or into the entropy depot (CTR-DRBG), which reseeds the context
 * with 48 depot bytes once 384 bits have arrived. Gated; -6001 null context
 * or another kind; depot and reseed statuses pass through. */
KEL_API int32_t RANDOM_addEntropyBit(RandomContext *ctx, uint8_t entropyBit);

/* RANDOM_newFIPS186Context creates a FIPS 186 context from keyLength bytes
 * of XKEY and an optional XSEED of seedLength bytes (kept by pointer: the
 * caller keeps it alive while it is consumed). Gated; -9000 XKEY equals
 * XSEED; -6001 null ctx or xkey, or memory exhausted; -6010 keyLength not in
 * 20..64; mutex statuses pass through. *ctx is NULL on failure. */
KEL_API int32_t RANDOM_newFIPS186Context(RandomContext **ctx, uint8_t keyLength, const uint8_t *xkey,
                                         uint32_t seedLength, const uint8_t *xseed);

/* RANDOM_deleteFIPS186Context frees the lock, wipes and frees the context and
 * sets *ctx to NULL. Gated; -6001 null pointer, null context or another kind. */
KEL_API int32_t RANDOM_deleteFIPS186Context(RandomContext **ctx);

/* RANDOM_numberGeneratorFIPS186 writes length bytes of the FIPS 186-2
 * general-purpose stream. Gated; a length of 0 returns 0 at once; -6001 null
 * context or buffer, or another kind; -6003 negative length; -16507 the
 * continuous test failed (also written to the power-up status); -17600 the
 * first request in a fork() child could not reseed XKEY from the OS. */
KEL_API int32_t RANDOM_numberGeneratorFIPS186(RandomContext *ctx, uint8_t *buffer, int32_t length);

/* RANDOM_KSrcGenerator writes 40 bytes of source material for DSA k values
 * (FIPS 186-2 Appendix 3.2). Gated; -6001 null context or buffer, or another
 * kind; -17600 as for RANDOM_numberGeneratorFIPS186 after fork(). */
KEL_API int32_t RANDOM_KSrcGenerator(RandomContext *ctx, uint8_t *buffer);

KEL_END_DECLS

#endif /* KEL_RANDOM_H */
