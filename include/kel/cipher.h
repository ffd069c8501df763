/* Cipher suites: constant records through which generic code drives any
 * symmetric cipher (create a context from a key, transform a buffer in place,
 * delete the context), and the one-call CRYPTO_Process over a suite. */
#ifndef KEL_CIPHER_H
#define KEL_CIPHER_H

#include <stdint.h>

#include "kel/export.h"

KEL_BEGIN_DECLS

#ifndef ERR_INVALID_ARG
#define ERR_INVALID_ARG (-6010)
#endif

/* An opaque cipher context, created and deleted through its suite. */
typedef void *BulkCtx;

/* Returns a new context for the key (length in bytes) and direction (nonzero:
 * encrypt), or NULL on failure. */
typedef BulkCtx (*CipherCreateFunc)(const uint8_t *key, uint32_t keyLength, int32_t encrypt);
/* Zeroes and frees *ctx, sets it to NULL; returns a status. */
typedef int32_t (*CipherDeleteFunc)(BulkCtx *ctx);
/* Transforms data in place; iv (blockSize bytes) carries the chaining value in
 * and out. Returns a status. */
typedef int32_t (*CipherFunc)(BulkCtx ctx, uint8_t *data, uint32_t length, int32_t encrypt, uint8_t *iv);

typedef struct CipherSuite {
  int32_t blockSize; /* 16 AES, 8 DES and RC2, 0 for a stream mode */
  CipherCreateFunc createFunc;
  CipherDeleteFunc deleteFunc;
  CipherFunc cipherFunc;
} CipherSuite;

/* CRYPTO_Process creates a context with suite->createFunc(key, keyLength,
 * encrypt), runs cipherFunc(ctx, data, dataLength, encrypt, iv) and always
 * deletes the context. Returns the cipher's status; -6001 for a null suite,
 * key or data (nothing created); -6101 when the create function returned
 * NULL (which it does while the power-up status is not 0). */
KEL_API int32_t CRYPTO_Process(const CipherSuite *suite, const uint8_t *key, uint32_t keyLength, uint8_t *iv,
                               uint8_t *data, uint32_t dataLength, int32_t encrypt);

/* AES in CBC mode (CreateAESCtx, DeleteAESCtx, DoAES) and AES in counter mode
 * (CreateAESCTRCtx, DeleteAESCTRCtx, DoAESCTR: the key material is the AES key
 * followed by the 16-byte initial counter block). The DES, triple-DES and RC2
 * suites are declared in kel/des.h. */
KEL_API extern const CipherSuite CRYPTO_AESSuite;
KEL_API extern const CipherSuite CRYPTO_AESCtrSuite;

KEL_END_DECLS

#endif /* KEL_CIPHER_H */
