/* DSA: keys, FIPS 186-2 domain parameters by the SHA-1 method (160-bit q, p
 * of 512 to 1024 bits), key pairs with a pairwise-consistency test, signing
 * and verification of a message representative given as a vlong, and the
 * mpint key blob. Statuses are signed 32-bit: 0 success, negative failure.
 *
 * Every operation except DSA_getCipherTextLength first returns the power-up
 * status (kel/fips.h) while it is not 0 (DSA_setAllKeyParameters checks its
 * pointer arguments before that). Callers hash the message and reduce the
 * digest to q's size (160 bits) themselves. */
#ifndef KEL_DSA_H
#define KEL_DSA_H

#include <stdint.h>

#include "kel/export.h"
#include "kel/random.h"
#include "kel/vlong.h"

KEL_BEGIN_DECLS

#define ERR_DSA_NULL (-6001)
#define ERR_DSA_ALLOC (-6101)
#define ERR_DSA_BAD_BLOB (-7402)           /* key blob empty, truncated, or with trailing bytes */
#define ERR_DSA_SIGNATURE_RANGE (-9007)    /* r or s zero, negative, or not below q */
#define ERR_DSA_CONSISTENCY (-16502)       /* key-generation consistency test failed */

/* Domain-parameter seed bytes. */
#define DSA_SEED_BYTES 20u

/* A DSA key. Every value is null until set; x is null for a public key. */
typedef struct DsaKeyObject {
  vlong *p; /* prime modulus */
  vlong *q; /* 160-bit prime divisor of p - 1 */
  vlong *g; /* generator of the order-q subgroup */
  vlong *y; /* public value g^x mod p */
  vlong *x; /* private value */
} DsaKeyObject;

/* DSA_createKey: a new key with every value null. -6001 null out; -6101. */
KEL_API int32_t DSA_createKey(DsaKeyObject **out);

/* DSA_freeKey releases the five values (through the queue when given; x is
 * wiped first) and the record; *key becomes null. -6001 null key. */
KEL_API int32_t DSA_freeKey(DsaKeyObject **key, vlong **queue);

/* DSA_cloneKey: a new key with copies of every value src holds. A partial
 * clone is freed on failure. -6001 null argument; -6101. */
KEL_API int32_t DSA_cloneKey(DsaKeyObject **out, const DsaKeyObject *src);

/* DSA_equalKey: *equal = 1 when p, q, g and y are equal (x is not compared),
 * else 0. -6001 null argument. */
KEL_API int32_t DSA_equalKey(const DsaKeyObject *a, const DsaKeyObject *b, uint8_t *equal);

/* DSA_setPublicKeyParameters releases all five values, then loads p, q, g
 * and y from unsigned big-endian bytes. -6001 null pointer. */
KEL_API int32_t DSA_setPublicKeyParameters(DsaKeyObject *key, const uint8_t *p, uint32_t pLength, const uint8_t *q,
                                           uint32_t qLength, const uint8_t *g, uint32_t gLength, const uint8_t *y,
                                           uint32_t yLength, vlong **queue);

/* DSA_setAllKeyParameters releases all five values, loads p, q, g and x and
 * computes y = g^x mod p. -6001 null pointer (before the gate); -6004 even
 * or zero p. */
KEL_API int32_t DSA_setAllKeyParameters(DsaKeyObject *key, const uint8_t *p, uint32_t pLength, const uint8_t *q,
                                        uint32_t qLength, const uint8_t *g, uint32_t gLength, const uint8_t *x,
                                        uint32_t xLength, vlong **queue);

/* DSA_getCipherTextLength: the byte length of p. Not gated. -6001 null
 * argument or no p. */
KEL_API int32_t DSA_getCipherTextLength(const DsaKeyObject *key, int32_t *length);

/* DSA_generateKey: domain parameters for L bits of p (below 512 taken as
 * 512, above 1024 as 1024, otherwise rounded up to a multiple of 64), a key
 * pair and the consistency test. The counter, the 20-byte seed and h (a new
 * vlong; null first) go to the caller when asked for. On failure the key's
 * values are released. -6001 null context or key; -16502. */
KEL_API int32_t DSA_generateKey(RandomContext *rng, DsaKeyObject *key, uint32_t L, uint32_t *counter, uint8_t *seed,
                                vlong **h, vlong **queue);

/* DSA_computeKeyPair: a new x (40 random bytes reduced mod q) and y for the
 * key's p, q and g. -6001 null argument or missing p, q or g. */
KEL_API int32_t DSA_computeKeyPair(RandomContext *rng, DsaKeyObject *key, vlong **queue);

/* DSA_computeSignature signs the representative m (below 2^160) with the
 * private key, k drawn as 40 random bytes reduced mod q. With verified
 * given, the signature is checked and *verified receives the verdict. *r and
 * *s are new vlongs. -6001 null argument or a key without p, q, g or x. */
KEL_API int32_t DSA_computeSignature(RandomContext *rng, const DsaKeyObject *key, const vlong *m, uint32_t *verified,
                                     vlong **r, vlong **s, vlong **queue);

/* DSA_computeSignatureEx: the same, drawing k's 40 bytes through an RngFun. */
KEL_API int32_t DSA_computeSignatureEx(RngFun rngFun, void *rngFunArg, const DsaKeyObject *key, const vlong *m,
                                       uint32_t *verified, vlong **r, vlong **s, vlong **queue);

/* DSA_verifySignature: *valid = 1 when (r, s) is a signature of m under the
 * key's y, else 0. -9007 r or s zero, negative or not below q (valid 0);
 * -6001 null argument or a key without p, q, g or y. */
KEL_API int32_t DSA_verifySignature(const DsaKeyObject *key, const vlong *m, const vlong *r, const vlong *s,
                                    uint32_t *valid, vlong **queue);

/* DSA_verifyKeys: *valid = 1 when the key's p, q and g are what the FIPS
 * 186-2 method makes from the 20-byte seed, the counter and h, else 0.
 * -6001 null argument or a key without p or q. */
KEL_API int32_t DSA_verifyKeys(RandomContext *rng, const uint8_t *seed, const DsaKeyObject *key, uint32_t counter,
                               const vlong *h, uint32_t *valid, vlong **queue);

/* DSA_generateKey_FIPS_consistancy_test signs and verifies a fixed message
 * with the key. -16502 when the signature does not verify; the power-up
 * status is then set to -16502 as well. */
KEL_API int32_t DSA_generateKey_FIPS_consistancy_test(RandomContext *rng, DsaKeyObject *key);

/* DSA_makeKeyBlob: the mpint encodings of p, q, g, y (and x for a private
 * key), back to back. A null dest only stores the total in *length; with a
 * dest the total is written (dest must hold it; *length is not consulted
 * first). -6001 null key or length, or a key without p, q, g or y. */
KEL_API int32_t DSA_makeKeyBlob(const DsaKeyObject *key, uint8_t *dest, uint32_t *length);

/* DSA_extractKeyBlob: a new key from a blob of DSA_makeKeyBlob. -7402 empty,
 * truncated or with trailing bytes; -6001 null argument. On failure after
 * the key was created it stays in *out for the caller to free. */
KEL_API int32_t DSA_extractKeyBlob(DsaKeyObject **out, const uint8_t *blob, uint32_t length);

KEL_END_DECLS

#endif /* KEL_DSA_H */
