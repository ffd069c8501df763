/* Fixed-width unit arrays and the NIST prime fields P-256 and P-384.
 *
 * A unit array is n unsigned 32-bit units, least significant unit first. A
 * field element is a heap unit array of the field's unitCount units holding a
 * value below the prime (PRIMEFIELD_setToByteString also accepts the prime
 * itself). Statuses are signed 32-bit: 0 success, negative failure. Only
 * PRIMEFIELD_getElementByteStringLen is gated by the power-up status. */
#ifndef KEL_PRIMEFIELD_H
#define KEL_PRIMEFIELD_H

#include <stdint.h>

#include "kel/export.h"

KEL_BEGIN_DECLS

#define ERR_PF_NULL_POINTER (-6001)
#define ERR_PF_DIVIDE_BY_ZERO (-6002)   /* inverse or division of zero (or of the modulus) */
#define ERR_PF_BUFFER_TOO_SMALL (-6007) /* output shorter than the element's byte length */
#define ERR_PF_OUT_OF_MEMORY (-6101)
#define ERR_PF_BAD_ELEMENT (-9701)      /* byte string too long for the field, or above the prime */

struct PrimeField;

/* Reduces a 2n-unit product (which it may overwrite) modulo the prime. */
typedef void (*PrimeFieldReduceFunc)(uint32_t *product, uint32_t *result, const struct PrimeField *field,
                                     uint32_t *scratch);
/* result <- value^((p + 1) / 4) mod p; the caller checks that it squares back. */
typedef void (*PrimeFieldSqrtFunc)(const uint32_t *value, uint32_t *result, const struct PrimeField *field);

typedef struct PrimeField {
  const uint32_t *prime;
  uint32_t unitCount;
  uint32_t bitLength;
  PrimeFieldReduceFunc reduceFunc;
  PrimeFieldSqrtFunc sqrtFunc;
} PrimeField;

/* The two fields: p = 2^256 - 2^224 + 2^192 + 2^96 - 1 (8 units) and
 * p = 2^384 - 2^128 - 2^96 + 2^32 - 1 (12 units). */
KEL_API extern const PrimeField *const PF_p256;
KEL_API extern const PrimeField *const PF_p384;
/* The value 1 in 12 units, long enough for either field. */
KEL_API extern const uint32_t g_pOneUnits[12];

/* Unit-array primitives: no argument checks. BI_add and BI_sub return the
 * carry or borrow (a and b may be the same array); BI_cmp returns 1, 0 or -1;
 * BI_mul and BI_sqr write the low m units of the product (m = 2n for all of
 * it; the result must not overlap the operands); BI_shiftREx shifts right by
 * 1 to 31 bits (other shifts leave a unchanged); BI_setUnitsToByteString
 * reads big-endian bytes (at most 4n) and zeroes the remaining units;
 * BI_barrettReduction sets result (n units) to x (2n units) mod modulus
 * (n + 1 units, top unit 0) with mu = floor(2^(64n) / modulus) (n + 1 units)
 * and 2n + 2 units of scratch. */
KEL_API uint32_t BI_add(int32_t n, uint32_t *a, const uint32_t *b);
KEL_API uint32_t BI_sub(int32_t n, uint32_t *a, const uint32_t *b);
KEL_API int32_t BI_cmp(int32_t n, const uint32_t *a, const uint32_t *b);
KEL_API void BI_mul(int32_t n, uint32_t *result, const uint32_t *a, const uint32_t *b, int32_t m);
KEL_API void BI_sqr(int32_t n, uint32_t *result, const uint32_t *a, int32_t m);
KEL_API void BI_shiftREx(int32_t n, uint32_t *a, int32_t shift);
KEL_API void BI_setUnitsToByteString(int32_t n, uint32_t *units, const uint8_t *bytes, int32_t length);
KEL_API void BI_barrettReduction(int32_t n, uint32_t *x, uint32_t *result, uint32_t *scratch, const uint32_t *mu,
                                 const uint32_t *modulus);

/* PRIMEFIELD_newElement allocates a zero element (-6101 out of memory; no
 * pointer checks). PRIMEFIELD_deleteElement zeroes, frees and clears it
 * (-6001 null field, pointer or element). */
KEL_API int32_t PRIMEFIELD_newElement(const PrimeField *field, uint32_t **element);
KEL_API int32_t PRIMEFIELD_deleteElement(const PrimeField *field, uint32_t **element);
KEL_API int32_t PRIMEFIELD_copyElement(const PrimeField *field, uint32_t *destination, const uint32_t *source);
KEL_API int32_t PRIMEFIELD_setToUnsigned(const PrimeField *field, uint32_t *element, uint32_t value);

/* Byte-string import skips leading zero bytes; more than 4n bytes left:
 * -9701. PRIMEFIELD_setToByteString refuses a value above the prime (-9701;
 * the prime itself is accepted); ..Mod subtracts the modulus while the value
 * exceeds it. */
KEL_API int32_t PRIMEFIELD_setToByteString(const PrimeField *field, uint32_t *element, const uint8_t *bytes,
                                           int32_t length);
KEL_API int32_t PRIMEFIELD_setToByteStringMod(const PrimeField *field, uint32_t *element, const uint8_t *bytes,
                                              int32_t length, const uint32_t *modulus);

/* Export: big-endian, right-aligned in output, zero-filled on the left; an
 * output shorter than ceil(bitLength / 8) gives -6007. The getAs forms
 * allocate the buffer (VOR_alloc; release with VOR_free): one element, or a
 * then b. PRIMEFIELD_getElementByteStringLen is gated. */
KEL_API int32_t PRIMEFIELD_writeByteString(const PrimeField *field, const uint32_t *element, uint8_t *output,
                                           int32_t outputLength);
KEL_API int32_t PRIMEFIELD_getAsByteString(const PrimeField *field, const uint32_t *element, uint8_t **buffer,
                                           int32_t *length);
KEL_API int32_t PRIMEFIELD_getAsByteString2(const PrimeField *field, const uint32_t *a, const uint32_t *b,
                                            uint8_t **buffer, int32_t *length);
KEL_API int32_t PRIMEFIELD_getElementByteStringLen(const PrimeField *field, int32_t *length);

/* Arithmetic. Add subtracts the modulus once when the sum carries out or
 * exceeds it; subtract adds it once on a borrow. The Aux forms take a
 * scratch of 2n units; PRIMEFIELD_multiply and PRIMEFIELD_barrettMultiply
 * allocate theirs (-6101). modulus and mu of barrettMultiply have n + 1
 * units. Inverse and divide (result <- a / b) give -6002 for zero or a
 * multiple of the modulus; PRIMEFIELD_inverseAux needs an odd modulus.
 * Every pointer is checked (-6001) except by newElement, cmp, cmpToUnsigned
 * and sqrt; sqrt always returns 0. */
KEL_API int32_t PRIMEFIELD_add(const PrimeField *field, uint32_t *a, const uint32_t *b);
KEL_API int32_t PRIMEFIELD_subtract(const PrimeField *field, uint32_t *a, const uint32_t *b);
KEL_API int32_t PRIMEFIELD_addAux(const PrimeField *field, uint32_t *a, const uint32_t *b, const uint32_t *modulus);
KEL_API int32_t PRIMEFIELD_add_mod(const PrimeField *field, uint32_t *a, const uint32_t *b, const uint32_t *modulus);
KEL_API int32_t PRIMEFIELD_xor(const PrimeField *field, uint32_t *a, const uint32_t *b);
KEL_API int32_t PRIMEFIELD_multiply(const PrimeField *field, uint32_t *result, const uint32_t *a, const uint32_t *b);
KEL_API int32_t PRIMEFIELD_multiplyAux(const PrimeField *field, uint32_t *result, const uint32_t *a, const uint32_t *b,
                                       uint32_t *scratch);
KEL_API int32_t PRIMEFIELD_squareAux(const PrimeField *field, uint32_t *result, const uint32_t *a, uint32_t *scratch);
KEL_API int32_t PRIMEFIELD_barrettMultiply(const PrimeField *field, uint32_t *result, const uint32_t *a,
                                           const uint32_t *b, const uint32_t *modulus, const uint32_t *mu);
KEL_API int32_t PRIMEFIELD_inverse(const PrimeField *field, uint32_t *result, const uint32_t *a);
KEL_API int32_t PRIMEFIELD_inverseAux(int32_t n, uint32_t *result, const uint32_t *a, const uint32_t *modulus);
KEL_API int32_t PRIMEFIELD_divide(const PrimeField *field, uint32_t *result, const uint32_t *a, const uint32_t *b);
KEL_API int32_t PRIMEFIELD_sqrt(const PrimeField *field, uint32_t *result, const uint32_t *a);
KEL_API int32_t PRIMEFIELD_shiftR(const PrimeField *field, uint32_t *a);
/* *bit <- bit `index` of a (0 beyond bitLength). */
KEL_API int32_t PRIMEFIELD_getBit(const PrimeField *field, const uint32_t *a, uint32_t index, uint8_t *bit);
/* Comparisons return 1, 0 or -1 (not a status). */
KEL_API int32_t PRIMEFIELD_cmp(const PrimeField *field, const uint32_t *a, const uint32_t *b);
KEL_API int32_t PRIMEFIELD_cmpToUnsigned(const PrimeField *field, const uint32_t *a, uint32_t value);

KEL_END_DECLS

#endif /* KEL_PRIMEFIELD_H */
