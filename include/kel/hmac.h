/* HMAC (RFC 2104, FIPS 198): a generic streaming HMAC over any hash suite
 * (kel/hash.h), and fixed one-call HMAC-MD5 and HMAC-SHA1 on the stack.
 *
 * Every function returns a signed 32-bit status: 0 on success, negative on
 * failure. The generic functions and HMAC_SHA1 return the power-up status
 * (kel/fips.h) while it is not 0, before anything else; HMAC_SHA1Ex returns it
 * through the SHA-1 operations; HMAC-MD5 is never gated. Null keys, texts or
 * results give -6001. The result buffer must hold the whole digest: it also
 * carries the inner digest. */
#ifndef KEL_HMAC_H
#define KEL_HMAC_H

#include <stdint.h>

#include "kel/export.h"
#include "kel/hash.h"

KEL_BEGIN_DECLS

/* The largest block of any suite (SHA-384/512). */
#define HMAC_MAX_BLOCK_SIZE 128

/* A digest context of any of the toolkit's suites. */
typedef union HmacHashState {
  Md5Context md5;
  Sha1Context sha1;
  Sha256Context sha256;
  Sha512Context sha512;
} HmacHashState;

/* Made by HmacCreate, released by HmacDelete. For the toolkit's own suites
 * the context also keeps the digest states after the inner and the outer
 * padded key, so that a new message costs no key processing. */
typedef struct HmacContext {
  const HashSuite *suite;
  void *hashCtx; /* from suite->allocFunc on first need; reused */
  uint32_t keyLength;
  uint8_t key[HMAC_MAX_BLOCK_SIZE];
  uint8_t pad[HMAC_MAX_BLOCK_SIZE];
  uint32_t padsReady; /* innerState and outerState belong to key */
  HmacHashState innerState;
  HmacHashState outerState;
} HmacContext;

/* HmacCreate: a new unkeyed context for suite in *ctx; the allocator's status
 * on failure (then *ctx is untouched). */
KEL_API int32_t HmacCreate(HmacContext **ctx, const HashSuite *suite);

/* HmacKey: sets the key (hashed first when longer than the suite's block)
 * and starts a message, as HmacReset. */
KEL_API int32_t HmacKey(HmacContext *ctx, const uint8_t *key, uint32_t keyLength);

/* HmacReset: starts a new message with the current key. */
KEL_API int32_t HmacReset(HmacContext *ctx);

KEL_API int32_t HmacUpdate(HmacContext *ctx, const uint8_t *data, uint32_t length);

/* HmacFinal: writes suite->digestSize bytes; the next message needs
 * HmacReset or HmacKey. */
KEL_API int32_t HmacFinal(HmacContext *ctx, uint8_t *result);

/* HmacDelete: frees the digest context, zeroes and frees the HMAC context and
 * sets *ctx to null; 0 when *ctx is already null. If freeing the digest
 * context fails, that status is returned and the HMAC context stays. */
KEL_API int32_t HmacDelete(HmacContext **ctx);

/* One-call HMAC of text followed by text2 (skipped when null or empty). */
KEL_API int32_t HmacQuickEx(const uint8_t *key, uint32_t keyLength, const uint8_t *text, uint32_t textLength,
                            const uint8_t *text2, uint32_t text2Length, uint8_t *result, const HashSuite *suite);
KEL_API int32_t HmacQuick(const uint8_t *key, uint32_t keyLength, const uint8_t *text, uint32_t textLength,
                          uint8_t *result, const HashSuite *suite);

/* Fixed HMAC-MD5 (16-byte result) and HMAC-SHA1 (20-byte result); nothing
 * is allocated. */
KEL_API int32_t HMAC_MD5(const uint8_t *key, uint32_t keyLength, const uint8_t *text, uint32_t textLength,
                         const uint8_t *text2, uint32_t text2Length, uint8_t *result);
KEL_API int32_t HMAC_MD5_quick(const uint8_t *key, uint32_t keyLength, const uint8_t *text, uint32_t textLength,
                               uint8_t *result);
KEL_API int32_t HMAC_SHA1(const uint8_t *key, uint32_t keyLength, const uint8_t *text, uint32_t textLength,
                          const uint8_t *text2, uint32_t text2Length, uint8_t *result);
KEL_API int32_t HMAC_SHA1_quick(const uint8_t *key, uint32_t keyLength, const uint8_t *text, uint32_t textLength,
                                uint8_t *result);
/* HMAC-SHA1 over the concatenation of count texts, in array order. */
KEL_API int32_t HMAC_SHA1Ex(const uint8_t *key, uint32_t keyLength, const uint8_t *const *texts,
                            const uint32_t *textLengths, uint32_t count, uint8_t *result);

KEL_END_DECLS

#endif /* KEL_HMAC_H */
