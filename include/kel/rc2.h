/* RC2 (RFC 2268) with a selectable effective key length, in CBC mode through
 * the cipher-suite form. Not an approved algorithm: no power-up gate. Status
 * results are signed 32-bit: 0 on success, negative on failure. */
#ifndef KEL_RC2_H
#define KEL_RC2_H

#include <stdint.h>

#include "kel/cipher.h"
#include "kel/export.h"

KEL_BEGIN_DECLS

#define ERR_RC2_BAD_DATA_LENGTH (-10101) /* DoRC2: data length not a multiple of 8 */
#define ERR_RC2_BAD_KEY_LENGTH (-6003)   /* key of 0 or more than 128 bytes, effective bits over 1024 */

#define RC2_BLOCK_SIZE 8
#define RC2_MAX_KEY_SIZE 128

/* The expanded key: 64 16-bit words K[0..63] (RFC 2268 section 2). */
typedef struct Rc2Context {
  uint16_t K[64];
} Rc2Context;

/* rc2_keyschedule expands a key of 1 to 128 bytes with the given effective key
 * length in bits (0 means 1024). Returns 0, -6001 for a null context or key,
 * -6003 for a key length of 0 or over 128, or effective bits over 1024. */
KEL_API int32_t rc2_keyschedule(Rc2Context *ctx, const uint8_t *key, uint32_t keyLength, uint32_t effectiveBits);

/* rc2_encrypt and rc2_decrypt transform one 8-byte block (input and output may
 * be the same buffer). Return 0, or -6001 for a null pointer. */
KEL_API int32_t rc2_encrypt(const Rc2Context *ctx, const uint8_t *input, uint8_t *output);
KEL_API int32_t rc2_decrypt(const Rc2Context *ctx, const uint8_t *input, uint8_t *output);

/* CreateRC2Ctx2 returns a new Rc2Context for the key with the given effective
 * key length in bits (0 means 1024), or null for a null key, a key of 0 or more
 * than 128 bytes, effective bits outside 0..1024, or no memory. Release it with
 * DeleteRC2Ctx. */
KEL_API void *CreateRC2Ctx2(const uint8_t *key, uint32_t keyLength, int32_t effectiveBits);

/* CreateRC2Ctx is CreateRC2Ctx2 with effective bits = key length x 8 (the
 * direction is ignored: one context serves both). */
KEL_API void *CreateRC2Ctx(const uint8_t *key, uint32_t keyLength, int32_t direction);

/* DeleteRC2Ctx zeroes and frees *ctx and sets it to null; nothing when *ctx is
 * null. Returns 0, or -6001 when ctx is null. */
KEL_API int32_t DeleteRC2Ctx(void **ctx);

/* DoRC2 processes data in place in CBC mode (direction nonzero: encrypt); iv
 * (8 bytes) carries the chaining value in and out. Returns 0 (also, doing
 * nothing, for a null context), -6001 for null data or iv, -10101 when length
 * is not a multiple of 8. */
KEL_API int32_t DoRC2(void *ctx, uint8_t *data, uint32_t length, int32_t direction, uint8_t *iv);

/* RC2 in CBC mode through the cipher-suite form (block size 8, DeleteRC2Ctx,
 * DoRC2): CRYPTO_RC2Suite creates with CreateRC2Ctx (effective bits = key
 * length x 8), CRYPTO_RC2EffectiveBitsSuite with CreateRC2Ctx2, whose third
 * argument is the effective key length in bits instead of the direction. */
KEL_API extern const CipherSuite CRYPTO_RC2Suite;
KEL_API extern const CipherSuite CRYPTO_RC2EffectiveBitsSuite;

KEL_END_DECLS

#endif /* KEL_RC2_H */
