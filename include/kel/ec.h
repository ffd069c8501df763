/* Elliptic curves P-256 and P-384 (y^2 = x^3 - 3x + b): curve records,
 * scalar multiplication with optional comb tables, points and keys, key-pair
 * generation with its consistency test, ECDSA, ECDH and the SEC 1
 * uncompressed point encoding.
 *
 * Coordinates, scalars and results are field elements of the curve's n
 * units (kel/primefield.h); the point at infinity is written (0, 0).
 * Statuses are signed 32-bit: 0 success, negative failure. Gated entries
 * (EC_precomputeComb, EC_precomputeCombOfCurve, EC_multiplyPointEx,
 * EC_multiplyPoint, key generation and its consistency test, EC_cloneKey,
 * the ECDSA entries) return the power-up status while it is not 0. ECDH,
 * point checks, encodings and the other key-object functions are not gated.
 *
 * Secret scalars (private keys, nonces, ECDH scalars, comb multiplication)
 * are handled in constant time; verification is variable time. */
#ifndef KEL_EC_H
#define KEL_EC_H

#include <stdint.h>

#include "kel/export.h"
#include "kel/primefield.h"
#include "kel/random.h"

KEL_BEGIN_DECLS

#define ERR_EC_NULL_POINTER (-6001)      /* also a nonzero window without a table */
#define ERR_EC_BUFFER_TOO_SMALL (-6007)
#define ERR_EC_BAD_WINDOW (-6010)        /* window below 2 with a table; unknown field */
#define ERR_EC_INVALID (-6011)           /* off the curve, out of range, mismatch, bad signature */
#define ERR_EC_OUT_OF_MEMORY (-6101)
#define ERR_EC_BAD_COORDINATE (-9701)    /* coordinate or scalar bytes above the prime or too long */
#define ERR_EC_BAD_POINT_LENGTH (-9702)
#define ERR_EC_BAD_POINT_FORMAT (-9703)  /* first byte not 04, 06 or 07 */
#define ERR_EC_PAIRWISE_TEST (-16504)    /* also written to the power-up status */
#define ERR_EC_NOT_A_SQUARE (-90000)

typedef struct PrimeCurve {
  const PrimeField *field;
  const uint32_t *baseX;
  const uint32_t *baseY;
  const uint32_t *b;
  const uint32_t *order;   /* n + 1 units, top unit 0 */
  const uint32_t *orderMu; /* floor(2^(64n) / order), n + 1 units */
} PrimeCurve;

KEL_API extern const PrimeCurve *const EC_P256;
KEL_API extern const PrimeCurve *const EC_P384;

typedef struct EcPoint {
  uint32_t *x;
  uint32_t *y;
  const PrimeCurve *curve;
} EcPoint;

typedef struct EcKey {
  uint32_t hasPrivateKey;
  uint32_t *publicX;
  uint32_t *publicY;
  uint32_t *privateScalar;
  const PrimeCurve *curve;
} EcKey;

/* Curve queries. EC_getPrime and EC_getOrder copy n units (-6001 null). */
KEL_API const PrimeField *EC_getUnderlyingField(const PrimeCurve *curve);
KEL_API uint32_t EC_getPrimeBitlen(const PrimeCurve *curve);
KEL_API int32_t EC_getPrime(const PrimeCurve *curve, uint32_t *prime);
KEL_API int32_t EC_getOrder(const PrimeCurve *curve, uint32_t *order);
KEL_API int32_t EC_modOrder(const PrimeCurve *curve, uint32_t *element);

/* Comb tables: for window w >= 2 and d = ceil(bitLength / w), entries 2 to
 * 2^w - 1 of sum(2^(j d) P) over the bits j of the entry number, affine x
 * then y, (2^w - 2) x 2n units (EC_combSize). The table comes from VOR_alloc;
 * the caller releases it with VOR_free. -6010 for w < 2. */
KEL_API int32_t EC_combSize(const PrimeField *field, int32_t w, int32_t *size);
KEL_API int32_t EC_precomputeComb(const PrimeField *field, const uint32_t *px, const uint32_t *py, int32_t w,
                                  uint32_t **table);
KEL_API int32_t EC_precomputeCombOfCurve(const PrimeCurve *curve, int32_t w, uint32_t **table);

/* (x, y) <- k P, with P's comb table when w is nonzero (-6001 no table,
 * -6010 w < 2); the Add forms compute A + k P. */
KEL_API int32_t EC_multiplyPointEx(const PrimeField *field, uint32_t *x, uint32_t *y, const uint32_t *k,
                                   const uint32_t *px, const uint32_t *py, int32_t w, const uint32_t *table);
KEL_API int32_t EC_multiplyPoint(const PrimeField *field, uint32_t *x, uint32_t *y, const uint32_t *k,
                                 const uint32_t *px, const uint32_t *py);
KEL_API int32_t EC_addMultiplyPointEx(const PrimeField *field, uint32_t *x, uint32_t *y, const uint32_t *ax,
                                      const uint32_t *ay, const uint32_t *k, const uint32_t *px, const uint32_t *py,
                                      int32_t w, const uint32_t *table);
KEL_API int32_t EC_addMultiplyPoint(const PrimeField *field, uint32_t *x, uint32_t *y, const uint32_t *ax,
                                    const uint32_t *ay, const uint32_t *k, const uint32_t *px, const uint32_t *py);

/* Points. EC_newPoint allocates x and y (zero) with the record (-6101);
 * release it with VOR_free. EC_pointAdd: result <- P + Q. EC_pointInverse:
 * (x, p - y). EC_decompress: y from x and the parity bit (-90000 no root).
 * EC_verifyPoint: 0 on the curve, else -6011; EC_verifyPublicKey first
 * refuses zero coordinates and coordinates not below p (-6011). */
KEL_API int32_t EC_newPoint(const PrimeCurve *curve, EcPoint **point);
KEL_API int32_t EC_pointAdd(EcPoint *result, const EcPoint *p, const EcPoint *q);
KEL_API int32_t EC_pointInverse(EcPoint *result, const EcPoint *p);
KEL_API int32_t EC_decompress(const PrimeCurve *curve, EcPoint *point, const uint32_t *x, uint32_t yBit);
KEL_API int32_t EC_verifyPoint(const PrimeCurve *curve, const uint32_t *x, const uint32_t *y);
KEL_API int32_t EC_verifyPublicKey(const PrimeCurve *curve, const uint32_t *x, const uint32_t *y);

/* Key pairs: check d G = Q (-6011 otherwise); generate d (1 <= d < order,
 * 4n generator bytes read big-endian, redrawn when out of range) and Q, then
 * run the pairwise-consistency test, which signs "CLEAR_TEXT_LINE" and
 * verifies it: a failed verification gives -16504 and sets the power-up
 * status. */
KEL_API int32_t EC_verifyKeyPairEx(const PrimeCurve *curve, const uint32_t *d, const uint32_t *qx,
                                   const uint32_t *qy, int32_t w, const uint32_t *table);
KEL_API int32_t EC_verifyKeyPair(const PrimeCurve *curve, const uint32_t *d, const uint32_t *qx, const uint32_t *qy);
KEL_API int32_t EC_generateKeyPairEx(const PrimeCurve *curve, RngFun rngFun, void *rngFunArg, int32_t w,
                                     const uint32_t *table, uint32_t *d, uint32_t *qx, uint32_t *qy);
KEL_API int32_t EC_generateKeyPair(const PrimeCurve *curve, RngFun rngFun, void *rngFunArg, uint32_t *d,
                                   uint32_t *qx, uint32_t *qy);
KEL_API int32_t EC_generateKey_FIPS_consistancy_test(const PrimeCurve *curve, RngFun rngFun, void *rngFunArg,
                                                     const uint32_t *d, const uint32_t *qx, const uint32_t *qy);

/* Key objects (one allocation each). EC_deleteKey zeroes, frees and clears;
 * EC_equalKey sets *equal to 1 for the same curve record and public point;
 * EC_setKeyParameters loads an encoded public point and, when given, the
 * private scalar bytes (checked against the field prime). */
KEL_API int32_t EC_newKey(const PrimeCurve *curve, EcKey **key);
KEL_API int32_t EC_cloneKey(EcKey **copy, const EcKey *source);
KEL_API int32_t EC_deleteKey(EcKey **key);
KEL_API int32_t EC_equalKey(const EcKey *a, const EcKey *b, uint8_t *equal);
KEL_API int32_t EC_setKeyParameters(EcKey *key, const uint8_t *point, int32_t pointLength, const uint8_t *scalar,
                                    int32_t scalarLength);

/* ECDSA. Hashes longer than the field use their first 4n bytes. Signing
 * draws nonces through rngFun (same rules as key generation); tables are for
 * G (and Q) with their windows (w = 0: none). Verification gives 0 or -6011. */
KEL_API int32_t ECDSA_signEx(const PrimeCurve *curve, const uint32_t *d, RngFun rngFun, void *rngFunArg,
                             const uint8_t *hash, int32_t hashLength, int32_t w, const uint32_t *table, uint32_t *r,
                             uint32_t *s);
KEL_API int32_t ECDSA_RAC_sign(const PrimeCurve *curve, const uint32_t *d, RngFun rngFun, void *rngFunArg,
                               const uint8_t *hash, int32_t hashLength, uint32_t *r, uint32_t *s);
KEL_API int32_t ECDSA_verifySignatureEx(const PrimeCurve *curve, const uint32_t *qx, const uint32_t *qy,
                                        const uint8_t *hash, int32_t hashLength, int32_t wG, const uint32_t *tableG,
                                        int32_t wQ, const uint32_t *tableQ, const uint32_t *r, const uint32_t *s);
KEL_API int32_t ECDSA_verifySignature(const PrimeCurve *curve, const uint32_t *qx, const uint32_t *qy,
                                      const uint8_t *hash, int32_t hashLength, const uint32_t *r, const uint32_t *s);

/* ECDH: the secret (x, or x then y) of scalar P, in a VOR_alloc buffer the
 * caller frees; P is not validated by the Aux form, and infinity gives zero
 * bytes. ECDH_generateSharedSecret decodes and validates the peer's point. */
KEL_API int32_t ECDH_generateSharedSecretAux(const PrimeCurve *curve, const uint32_t *px, const uint32_t *py,
                                             const uint32_t *scalar, uint8_t **secret, int32_t *secretLength,
                                             int32_t xOnly);
KEL_API int32_t ECDH_generateSharedSecret(const PrimeCurve *curve, const uint8_t *point, int32_t pointLength,
                                          const uint32_t *scalar, uint8_t **secret, int32_t *secretLength);

/* SEC 1 uncompressed encoding: 04 x y (2L + 1 bytes, L the field's byte
 * length), or the single byte 00 for a point with a zero coordinate.
 * Decoding takes 04, 06 or 07 (-9703 otherwise), exactly 2L + 1 bytes
 * (-9702), coordinates up to p (-9701) and a point on the curve (-6011). */
KEL_API int32_t EC_getPointByteStringLen(const PrimeCurve *curve, int32_t *length);
KEL_API int32_t EC_pointToByteString(const PrimeCurve *curve, const uint32_t *x, const uint32_t *y, uint8_t **buffer,
                                     int32_t *length);
KEL_API int32_t EC_writePointToBuffer(const PrimeCurve *curve, const uint32_t *x, const uint32_t *y, uint8_t *buffer,
                                      int32_t bufferLength);
KEL_API int32_t EC_byteStringToPoint(const PrimeCurve *curve, const uint8_t *bytes, int32_t length, uint32_t **x,
                                     uint32_t **y);

KEL_END_DECLS

#endif /* KEL_EC_H */
