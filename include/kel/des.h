/* DES (FIPS 46-3) and triple DES in EDE form with three or two keys
 * (SP 800-67). Status results are signed 32-bit: 0 on success, negative on
 * failure. Triple-DES contexts and CBC processing are approved algorithms and
 * carry the power-up gate (while gFIPS_powerupStatus is not 0 they return it,
 * or null, and do nothing); single DES and the THREE_DES_ block functions do
 * not. */
#ifndef KEL_DES_H
#define KEL_DES_H

#include <stdint.h>

#include "kel/cipher.h"
#include "kel/export.h"
#include "kel/rc2.h"

KEL_BEGIN_DECLS

#define ERR_DES_BAD_DATA_LENGTH (-6701)   /* data length not a multiple of 8 */
#define ERR_DES_BAD_KEY_LENGTH (-6702)    /* key length not 8 */
#define ERR_3DES_BAD_DATA_LENGTH (-6801)  /* Do3DES: data length not a multiple of 8 */
#define ERR_3DES_BAD_KEY_LENGTH (-6802)   /* key length not 24 */
#define ERR_3DES_WRONG_DIRECTION (-6011)  /* Do3DES in the direction the context was not made for */

#define DES_BLOCK_SIZE 8
#define DES_KEY_SIZE 8
#define THREE_DES_KEY_SIZE 24
#define TWO_KEY_3DES_KEY_SIZE 16

/* One DES key schedule: the 16 round subkeys, two words each, in encryption
 * order and in decryption order. Each 48-bit subkey's eight 6-bit groups sit
 * one per byte in bits 0-5: the first word holds groups 1, 3, 5, 7 (from the
 * top byte down), the second groups 2, 4, 6, 8. */
typedef struct DesContext {
  uint32_t encryptKeys[32];
  uint32_t decryptKeys[32];
} DesContext;

/* Triple DES: the schedules of k1, k2 and k3. */
typedef struct TripleDesContext {
  DesContext k1;
  DesContext k2;
  DesContext k3;
} TripleDesContext;

/* The CBC context of Create3DESCtx: an encryption half and a decryption half,
 * of which only the one for the direction given at creation is keyed. */
typedef struct TripleDesCbcContext {
  TripleDesContext encryptHalf;
  TripleDesContext decryptHalf;
  int32_t encrypt; /* nonzero: made for encryption */
} TripleDesCbcContext;

/* DES_initKey builds both subkey schedules of the 8-byte key (parity bits are
 * ignored). Returns 0, -6001 for a null context or key, -6702 when keyLength
 * is not 8. */
KEL_API int32_t DES_initKey(DesContext *ctx, const uint8_t *key, uint32_t keyLength);

/* DES_encipher and DES_decipher process length / 8 blocks in ECB from input
 * to output (which may be the same buffer). Return 0, -6001 for a null
 * pointer, -6701 when length is not a multiple of 8 (nothing written). */
KEL_API int32_t DES_encipher(const DesContext *ctx, const uint8_t *input, uint8_t *output, uint32_t length);
KEL_API int32_t DES_decipher(const DesContext *ctx, const uint8_t *input, uint8_t *output, uint32_t length);

/* THREE_DES_initKey builds the schedules of k1, k2, k3 from key bytes 0-7,
 * 8-15 and 16-23. Returns 0, -6001 for a null pointer, -6802 when keyLength is
 * not 24. */
KEL_API int32_t THREE_DES_initKey(TripleDesContext *ctx, const uint8_t *key, uint32_t keyLength);

/* THREE_DES_encipher computes E(k3, D(k2, E(k1, block))) and THREE_DES_decipher
 * D(k1, E(k2, D(k3, block))) for each of length / 8 blocks in ECB; input and
 * output may coincide. Return 0, -6001 for a null pointer, -6701 when length
 * is not a multiple of 8 (nothing written). */
KEL_API int32_t THREE_DES_encipher(const TripleDesContext *ctx, const uint8_t *input, uint8_t *output,
                                   uint32_t length);
KEL_API int32_t THREE_DES_decipher(const TripleDesContext *ctx, const uint8_t *input, uint8_t *output,
                                   uint32_t length);

/* Create3DESCtx returns a new TripleDesCbcContext keyed with the 24-byte key
 * for the given direction (nonzero: encryption), or null when the gate is
 * closed, the key is null, keyLength is not 24 or memory runs out. Release it
 * with Delete3DESCtx. */
KEL_API void *Create3DESCtx(const uint8_t *key, uint32_t keyLength, int32_t direction);

/* Create2Key3DESCtx takes a 16-byte key k1 || k2 and returns the context of the
 * three-key form k1, k2, k1; null as Create3DESCtx, or when keyLength is not 16. */
KEL_API void *Create2Key3DESCtx(const uint8_t *key, uint32_t keyLength, int32_t direction);

/* Delete3DESCtx zeroes and frees *ctx and sets it to null; nothing when *ctx is
 * null. Returns 0, the gate's status, or -6001 when ctx is null. */
KEL_API int32_t Delete3DESCtx(void **ctx);

/* Do3DES processes data in place in CBC mode; iv (8 bytes) carries the chaining
 * value in and out, so a message may be split into calls of whole blocks.
 * Returns 0 (also, doing nothing, for a null context), the gate's status,
 * -6001 for null data or iv, -6801 when length is not a multiple of 8, -6011
 * when direction differs from the one the context was created for. */
KEL_API int32_t Do3DES(void *ctx, uint8_t *data, uint32_t length, int32_t direction, uint8_t *iv);

/* Triple DES in CBC mode through the cipher-suite form (block size 8):
 * CRYPTO_TripleDESSuite takes a 24-byte key (Create3DESCtx),
 * CRYPTO_TwoKeyTripleDESSuite a 16-byte key (Create2Key3DESCtx); both delete
 * with Delete3DESCtx and process with Do3DES. The RC2 suites are in kel/rc2.h. */
KEL_API extern const CipherSuite CRYPTO_TripleDESSuite;
KEL_API extern const CipherSuite CRYPTO_TwoKeyTripleDESSuite;

KEL_END_DECLS

#endif /* KEL_DES_H */
