/* AES counter mode (SP 800-38A, RFC 3686), CCM (SP 800-38C, RFC 3610), CMAC
 * (SP 800-38B) and XTS (IEEE 1619, SP 800-38E) over the AES context. */
#ifndef KEL_AES_MODES_H
#define KEL_AES_MODES_H

#include <stdint.h>

#include "kel/aes.h"
#include "kel/cipher.h"
#include "kel/export.h"

KEL_BEGIN_DECLS

#define ERR_AES_CCM_AUTH_FAIL (-7909) /* CCM decryption: tag mismatch */

/* ---- Counter mode ---- */

/* One keystream position: the next counter block, the last keystream block
 * and the offset of its next unused byte (0: none buffered). */
typedef struct AesCtrContext {
  AesContext aes; /* encryption, MODE_ECB */
  uint8_t counterBlock[16];
  uint8_t keystream[16];
  uint8_t keystreamOffset;
} AesCtrContext;

/* Zeroes ctx, stores the counter block, keys it (keyLength bytes). Gated;
 * -6001 null pointer; -7904 bad key length. */
KEL_API int32_t AESCTRInit(AesCtrContext *ctx, const uint8_t *key, uint32_t keyLength, const uint8_t counter[16]);
/* The key material is the AES key followed by the 16-byte initial counter
 * block (so 32, 40 or 48 bytes); NULL on failure. */
KEL_API BulkCtx CreateAESCTRCtx(const uint8_t *keyMaterial, uint32_t keyLength, int32_t encrypt);
KEL_API int32_t DeleteAESCTRCtx(BulkCtx *ctx);
/* XORs the keystream into data in place, continuing the keystream of the
 * previous call. A non-null iv restarts at that counter block. The last
 * counterWidth bytes of the counter block (0..16, else -6010) count
 * big-endian. Gated; -6001 null context (or null data with a positive
 * length). */
KEL_API int32_t DoAESCTREx(BulkCtx ctx, uint8_t *data, int32_t length, int32_t encrypt, const uint8_t *iv,
                           int32_t counterWidth);
KEL_API int32_t DoAESCTR(BulkCtx ctx, uint8_t *data, uint32_t length, int32_t encrypt, uint8_t *iv);
/* Seeks to byte position of the stream nonce(12) || position/16, then
 * transforms: any split of a file into calls gives one pass's result. */
KEL_API int32_t DoAESCTRFileIo(BulkCtx ctx, uint8_t *data, int32_t length, int32_t encrypt, const uint8_t nonce[12],
                               uint32_t position);
/* RFC 3686: the key material is the AES key followed by the 4-byte nonce
 * (20, 28 or 36 bytes); NULL on failure. Not gated. */
KEL_API BulkCtx CreateAesCtrCtx(const uint8_t *keyMaterial, uint32_t keyLength, int32_t encrypt);
/* Sets the 8-byte iv of the RFC 3686 counter block, then transforms. */
KEL_API int32_t DoAesCtr(BulkCtx ctx, uint8_t *data, int32_t length, int32_t encrypt, const uint8_t iv[8]);

/* ---- CCM: M tag bytes (4..16, even), L length-field bytes (2..8), nonce of
 * 15 - L bytes. -6001 null pointer; -6010 bad M, L or data length; -7909
 * tag mismatch (the data is left decrypted: discard it). Gated. ---- */

KEL_API int32_t AESCCM_encrypt(uint8_t M, uint8_t L, const uint8_t *key, int32_t keyLength, const uint8_t *nonce,
                               uint8_t *data, uint32_t dataLength, const uint8_t *aad, uint32_t aadLength,
                               uint8_t *tag);
KEL_API int32_t AESCCM_decrypt(uint8_t M, uint8_t L, const uint8_t *key, int32_t keyLength, const uint8_t *nonce,
                               uint8_t *data, uint32_t dataLength, const uint8_t *aad, uint32_t aadLength,
                               const uint8_t *tag);
/* An AesContext keyed for encryption; NULL on failure. */
KEL_API BulkCtx AESCCM_createCtx(const uint8_t *key, uint32_t keyLength, int32_t encrypt);
KEL_API int32_t AESCCM_deleteCtx(BulkCtx *ctx);
/* L = 15 - nonceLength, M = tagLength; the tag sits right after the data
 * (written on encryption, read on decryption). */
KEL_API int32_t AESCCM_cipher(BulkCtx ctx, const uint8_t *nonce, uint32_t nonceLength, const uint8_t *aad,
                              uint32_t aadLength, uint8_t *data, uint32_t dataLength, uint32_t tagLength,
                              int32_t encrypt);

/* ---- CMAC ---- */

/* Running CBC-MAC, the held-back last block and its fill (0..16). */
typedef struct AesOmacState {
  uint8_t mac[16];
  uint8_t block[16];
  uint8_t blockFill;
} AesOmacState;

/* Caller-provided storage, the size of an AesCtrContext. */
typedef struct AesCmacContext {
  AesContext aes;
  AesOmacState omac;
} AesCmacContext;

/* Gated; -6001 null pointer; -7904 bad key length. AESCMAC_final writes 16
 * bytes and zeroes the context whatever the status. */
KEL_API int32_t AESCMAC_init(const uint8_t *key, uint32_t keyLength, AesCmacContext *ctx);
KEL_API int32_t AESCMAC_update(const uint8_t *data, uint32_t length, AesCmacContext *ctx);
KEL_API int32_t AESCMAC_final(uint8_t tag[16], AesCmacContext *ctx);
/* Not gated: the state machine over a given encryption-keyed context. */
KEL_API int32_t AES_OMAC_init(AesOmacState *state);
KEL_API int32_t AES_OMAC_update(AesContext *aes, AesOmacState *state, const uint8_t *data, uint32_t length);
KEL_API int32_t AES_OMAC_final(AesContext *aes, AesOmacState *state, uint8_t tag[16]);

/* ---- XTS: one data unit of 16 to 2^24 bytes (else -6010) in place, with
 * ciphertext stealing. A context encrypts or decrypts, as created. ---- */

typedef struct AesXtsContext {
  AesContext dataKey;  /* MODE_ECB, direction as created */
  AesContext tweakKey; /* MODE_ECB, encryption */
} AesXtsContext;

/* keyLength is the length of each half: 16, 24 or 32 (else -7904). */
KEL_API int32_t AESXTSInit(AesXtsContext *ctx, const uint8_t *dataKey, const uint8_t *tweakKey, uint32_t keyLength,
                           int32_t encrypt);
/* Key material of 32, 48 or 64 bytes: data key, then tweak key; NULL on
 * failure (odd or other lengths too). Gated. */
KEL_API BulkCtx CreateAESXTSCtx(const uint8_t *keyMaterial, int32_t keyLength, int32_t encrypt);
KEL_API int32_t DeleteAESXTSCtx(BulkCtx *ctx);
KEL_API int32_t AESXTSEncrypt(AesXtsContext *ctx, const uint8_t tweak[16], uint8_t *data, uint32_t length);
KEL_API int32_t AESXTSDecrypt(AesXtsContext *ctx, const uint8_t tweak[16], uint8_t *data, uint32_t length);
KEL_API int32_t DoAESXTS(BulkCtx ctx, uint8_t *data, uint32_t length, int32_t encrypt, uint8_t *tweak);

KEL_END_DECLS

#endif /* KEL_AES_MODES_H */
