/* Finite-field Diffie-Hellman over the built-in MODP groups (selected by
 * their IKE group numbers) or caller-supplied p and g. Statuses are signed
 * 32-bit: 0 success, negative failure. None of these operations is behind
 * the power-up gate.
 *
 * Built-in groups: 1 (768-bit) and 2 (1024-bit) of RFC 2409; 5 (1536), 14
 * (2048), 15 (3072), 16 (4096), 17 (6144) and 18 (8192) of RFC 3526, all
 * with generator 2; 24, the 2048-bit group with a 256-bit prime-order
 * subgroup of RFC 5114 section 2.3, with its own generator. */
#ifndef KEL_DH_H
#define KEL_DH_H

#include <stdint.h>

#include "kel/export.h"
#include "kel/random.h"
#include "kel/vlong.h"

KEL_BEGIN_DECLS

#define ERR_DH_NULL (-6001)
#define ERR_DH_ALLOC (-6101)          /* no memory; also a null pointer given to DH_freeDhContext */
#define ERR_DH_PEER_VALUE (-7000)     /* peer value zero, negative, or not below p */
#define ERR_DH_UNKNOWN_GROUP (-9001)

/* Bytes of the private values DH_allocateServer and DH_allocateClient draw. */
#define DH_PRIVATE_VALUE_BYTES 48u

/* A key agreement. Every field is null until set; the caller stores the
 * peer's value in peerPublicValue (the context takes it over and releases it
 * with the rest). */
typedef struct DhContext {
  vlong *generator;       /* g */
  vlong *prime;           /* p */
  vlong *privateValue;    /* own secret exponent y */
  vlong *ownPublicValue;  /* g^y mod p */
  vlong *peerPublicValue; /* the peer's g^y' mod p */
  vlong *sharedSecret;    /* peerPublicValue^y mod p */
} DhContext;

/* DH_getP: a new vlong (no queue) holding the group's prime. -6001 null out;
 * -9001 unknown group; vlong statuses pass through. */
KEL_API int32_t DH_getP(int32_t group, vlong **out);

/* DH_getG: a new vlong holding the group's generator: group 24's own, 2 for
 * every other number. -6001 null out. */
KEL_API int32_t DH_getG(uint32_t group, vlong **out, vlong **queue);

/* DH_allocate: a zeroed context. -6001 null out; -6101 no memory. */
KEL_API int32_t DH_allocate(DhContext **out);

/* DH_allocateServer: a context with the group's g and p, a 48-byte private
 * value and the own public value. -9001 unknown group; generator, vlong and
 * allocation statuses pass through. When a failure comes after the context
 * was allocated, the partial context stays in *out for DH_freeDhContext. */
KEL_API int32_t DH_allocateServer(RandomContext *rng, DhContext **out, uint32_t group);

/* DH_allocateClient: a context with a 48-byte private value and, for a
 * non-zero group, p; g and the public value stay unset (DH_setPG or the
 * caller provides them). Failures as DH_allocateServer. */
KEL_API int32_t DH_allocateClient(RandomContext *rng, DhContext **out, uint32_t group);

/* DH_setPG: stores copies of p and g (replacing any), draws a private value
 * of privateBytes bytes and computes the own public value. -6001 null
 * context, p or g, or a zero privateBytes; -6004 zero or even p. */
KEL_API int32_t DH_setPG(RandomContext *rng, uint32_t privateBytes, DhContext *ctx, const vlong *p,
                         const vlong *g);

/* DH_computeKeyExchange: computes the own public value when it is missing
 * (-6001 without g, p or the private value), checks the peer's value (-7000
 * when it is zero, negative or not below p; 1 is accepted) and computes the
 * shared secret. */
KEL_API int32_t DH_computeKeyExchange(DhContext *ctx, vlong **queue);

/* DH_freeDhContext wipes and releases the six values (through the queue when
 * given) and the record, and sets *ctx to null. -6101 for a null pointer or
 * a null context. */
KEL_API int32_t DH_freeDhContext(DhContext **ctx, vlong **queue);

KEL_END_DECLS

#endif /* KEL_DH_H */
