/* AES in Galois/Counter Mode (SP 800-38D) with a 16-byte tag: a context keyed
 * once for many messages, a streaming interface (init with nonce and
 * additional data, updates, final) and a one-call form. GHASH uses a per-key
 * table of 16 multiples of H (256 bytes). Every entry is gated. */
#ifndef KEL_GCM_H
#define KEL_GCM_H

#include <stdint.h>

#include "kel/aes_modes.h"
#include "kel/cipher.h"
#include "kel/export.h"

KEL_BEGIN_DECLS

#define ERR_GCM_TAG_MISMATCH (-9008)

/* 128-bit values are four 32-bit words, most significant first (word 0 holds
 * bytes 0..3 of the GCM bit string, big-endian). */
typedef struct GcmContext {
  uint32_t table[16][4];  /* entry i: H times the 4-bit value i, reflected (entry 8 = H) */
  uint8_t tagMask[16];    /* E(K, J0) after init; the tag after final */
  uint32_t ghashState[4]; /* running GHASH value X */
  uint32_t pendingCount;  /* ciphertext bytes in pending, 0..15 */
  uint8_t pending[16];
  uint32_t aadLength;     /* bytes of additional data of this message */
  uint32_t textLength;    /* bytes of text so far */
  AesCtrContext ctr;      /* encryption, MODE_ECB; 32-bit counter increments */
} GcmContext;

/* A new context for a 16-, 24- or 32-byte key (encrypt is ignored), or NULL. */
KEL_API BulkCtx GCM_createCtx_256b(const uint8_t *key, uint32_t keyLength, int32_t encrypt);
KEL_API int32_t GCM_deleteCtx_256b(BulkCtx *ctx);
/* Starts a message. -6001 null ctx or nonce, or null aad with a nonzero
 * length; -6010 nonce length 0. */
KEL_API int32_t GCM_init_256b(BulkCtx ctx, const uint8_t *nonce, uint32_t nonceLength, const uint8_t *aad,
                              uint32_t aadLength);
/* Transform data in place; updates of any lengths equal one update. -6001;
 * -6010 when the message would pass 2^32 - 1 bytes of text (nothing is
 * transformed or absorbed). */
KEL_API int32_t GCM_update_encrypt_256b(BulkCtx ctx, uint8_t *data, uint32_t length);
KEL_API int32_t GCM_update_decrypt_256b(BulkCtx ctx, uint8_t *data, uint32_t length);
/* Writes the 16-byte tag. -6001. */
KEL_API int32_t GCM_final_256b(BulkCtx ctx, uint8_t tag[16]);
/* One message; the tagLength (16, 15, 14, 13, 12, 8 or 4, else -6010 and
 * nothing is touched) tag sits right after the
 * data: written on encryption, checked in constant time on decryption
 * (-9008 on mismatch; the data is then decrypted already: discard it). */
KEL_API int32_t GCM_cipher_256b(BulkCtx ctx, const uint8_t *nonce, uint32_t nonceLength, const uint8_t *aad,
                                uint32_t aadLength, uint8_t *data, uint32_t dataLength, uint32_t tagLength,
                                int32_t encrypt);

KEL_END_DECLS

#endif /* KEL_GCM_H */
