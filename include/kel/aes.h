/* AES (FIPS 197) for 128-, 192- and 256-bit keys: the key schedules and
 * single-block functions, the AES context shared by every AES mode, and the
 * ECB, CBC, CFB-128 and OFB modes over whole 16-byte blocks (SP 800-38A).
 * Statuses are signed 32-bit: 0 success, negative failure. While the
 * power-up status (kel/fips.h) is not 0 the gated entries return it and do
 * nothing; create functions return NULL. */
#ifndef KEL_AES_H
#define KEL_AES_H

#include <stdint.h>

#include "kel/cipher.h"
#include "kel/export.h"

KEL_BEGIN_DECLS

#define AES_BLOCK_SIZE 16

/* Mode numbers of AesContext.mode. */
#define MODE_ECB 1
#define MODE_CBC 2
#define MODE_CFB128 4
#define MODE_OFB 5

#define ERR_AES_BAD_LENGTH (-7902)      /* data length not a multiple of 16 */
#define ERR_AES_BAD_KEY_DIR (-7903)     /* wrong direction, or decryption in an unknown mode */
#define ERR_AES_BAD_KEY_LENGTH (-7904)  /* key not 128, 192 or 256 bits */
#define ERR_AES_BAD_CIPHER_MODE (-7907) /* encryption in an unknown mode */

/* The key schedule with its direction and mode. Round keys hold four key
 * bytes each, big-endian; a 256-bit key uses all 60 words, shorter keys the
 * first 44 or 52. ECB and CBC decryption hold the equivalent inverse cipher
 * schedule; every other case the encryption schedule. The owner zeroes it
 * before release. */
typedef struct AesContext {
  int32_t encrypt; /* nonzero: keyed for encryption */
  int32_t mode;    /* MODE_ECB, MODE_CBC, MODE_CFB128, MODE_OFB */
  int32_t keyBits; /* 128, 192, 256 */
  int32_t rounds;  /* 10, 12, 14 */
  uint32_t roundKeys[60];
} AesContext;

/* Single-block core: no argument checks, no gate. The key setups return the
 * number of rounds (10, 12, 14), or 0 for a key size other than 128, 192 or
 * 256 bits. In and out of the block functions may be the same buffer. */
KEL_API int32_t aesKeySetupEnc(uint32_t *roundKeys, const uint8_t *key, int32_t keyBits);
KEL_API int32_t aesKeySetupDec(uint32_t *roundKeys, const uint8_t *key, int32_t keyBits);
KEL_API void aesEncrypt(const uint32_t *roundKeys, int32_t rounds, const uint8_t in[16], uint8_t out[16]);
KEL_API void aesDecrypt(const uint32_t *roundKeys, int32_t rounds, const uint8_t in[16], uint8_t out[16]);

/* AESALGO_makeAesKey keys ctx for the direction and mode (CFB and OFB always
 * get the encryption schedule). 0; -6001 null ctx or key; -7904 bad keyBits. */
KEL_API int32_t AESALGO_makeAesKey(AesContext *ctx, int32_t keyBits, const uint8_t *key, int32_t encrypt,
                                   int32_t mode);
/* Process floor(inputBits / 128) blocks in the context's mode; iv (16 bytes,
 * unused by ECB) carries the chain. *outputBits receives the bits written.
 * 0; -6001 null pointer; -7903 direction mismatch (or unknown mode on
 * decryption); -7907 unknown mode on encryption. */
KEL_API int32_t AESALGO_blockEncrypt(AesContext *ctx, uint8_t *iv, const uint8_t *input, int32_t inputBits,
                                     uint8_t *output, int32_t *outputBits);
KEL_API int32_t AESALGO_blockDecrypt(AesContext *ctx, uint8_t *iv, const uint8_t *input, int32_t inputBits,
                                     uint8_t *output, int32_t *outputBits);

/* Heap contexts (an AesContext) from a 16-, 24- or 32-byte key; NULL on any
 * failure. Gated. */
KEL_API BulkCtx CreateAESECBCtx(const uint8_t *key, uint32_t keyLength, int32_t encrypt);
KEL_API BulkCtx CreateAESCtx(const uint8_t *key, uint32_t keyLength, int32_t encrypt);
KEL_API BulkCtx CreateAESCFBCtx(const uint8_t *key, uint32_t keyLength, int32_t encrypt);
KEL_API BulkCtx CreateAESOFBCtx(const uint8_t *key, uint32_t keyLength, int32_t encrypt);
/* Zero, free, clear *ctx (nothing when NULL); 0. Gated. */
KEL_API int32_t DeleteAESCtx(BulkCtx *ctx);
KEL_API int32_t DeleteAESECBCtx(BulkCtx *ctx);
/* Transform length bytes in place (a multiple of 16, else -7902); iv carries
 * the chain between calls. Gated; block-function statuses pass through. */
KEL_API int32_t DoAES(BulkCtx ctx, uint8_t *data, uint32_t length, int32_t encrypt, uint8_t *iv);
KEL_API int32_t DoAESECB(BulkCtx ctx, uint8_t *data, uint32_t length, int32_t encrypt, uint8_t *iv);

KEL_END_DECLS

#endif /* KEL_AES_H */
