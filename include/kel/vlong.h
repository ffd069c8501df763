/* Variable-length integers (vlong), modular reduction and exponentiation.
 *
 * A vlong is a signed integer of up to 8192 32-bit units (262,144 bits),
 * least significant unit first. Byte strings are big-endian; unit arrays are
 * little-endian by unit. Statuses are signed 32-bit: 0 success, negative
 * failure. Big-number arithmetic is not behind the power-up gate.
 *
 * Queues: every operation that creates vlongs takes an optional queue (the
 * address of a head pointer). When the queue is given and not empty new vlongs
 * come from it, and temporaries go back to it when the operation ends; a null
 * queue means plain heap allocation and release. The caller owns the queue and
 * empties it with VLONG_freeVlongQueue. A vlong released to the heap has all
 * its capacity units zeroed first; a vlong in a queue keeps its value until
 * the queue is emptied. A vlong and a queue belong to one thread at a time. */
#ifndef KEL_VLONG_H
#define KEL_VLONG_H

#include <stdint.h>

#include "kel/export.h"
#include "kel/random.h"

KEL_BEGIN_DECLS

#define ERR_VLONG_NULL (-6001)          /* a required pointer (or the vlong it points to) is null */
#define ERR_VLONG_DIVIDE_BY_ZERO (-6002)
#define ERR_VLONG_SIZE (-6003)          /* beyond 8192 units, negative length, bad mpint length */
#define ERR_VLONG_MODULUS (-6004)       /* zero modulus, or an even one where Montgomery is needed */
#define ERR_VLONG_EVEN_CANDIDATE (-6005)
#define ERR_VLONG_BUFFER_TOO_SMALL (-6007)
#define ERR_VLONG_ALLOC (-6101)

/* No vlong grows beyond this many units. */
#define VLONG_MAX_UNITS 8192u

/* The integer. Invariants: length <= capacity; when length > 0 the unit at
 * length - 1 is not zero; units at length and above carry no meaning. The
 * buffer is 16-byte aligned and capacity a multiple of 4. A zero may carry
 * isNegative = 1 (negative zero). */
typedef struct vlong {
  uint32_t *units;          /* magnitude, least significant unit first; null until grown */
  uint32_t capacity;        /* units the buffer holds */
  uint32_t length;          /* significant units; 0 is the value zero */
  uint32_t isNegative;      /* 1 negative, 0 otherwise */
  struct vlong *queueNext;  /* next vlong while in a queue, else null */
} vlong;

/* ---- memory and units ---- */

/* VLONG_allocVlong pops the queue head (keeping its buffer) or allocates a
 * record with no buffer; length, isNegative and queueNext become 0. -6001
 * null out; -6101 no memory. */
KEL_API int32_t VLONG_allocVlong(vlong **out, vlong **queue);

/* VLONG_freeVlong pushes *v on the queue, or (no queue) zeroes all capacity
 * units and frees buffer and record; sets *v to null. -6001 null v or *v. */
KEL_API int32_t VLONG_freeVlong(vlong **v, vlong **queue);

/* VLONG_freeVlongQueue zeroes and frees every vlong of the queue and leaves
 * the head null. A null queue is a no-op. Always 0. */
KEL_API int32_t VLONG_freeVlongQueue(vlong **queue);

/* VLONG_reallocVlong makes room for n units keeping the value: a smaller
 * buffer is replaced by one of (n + 6) rounded down to a multiple of 4 units.
 * -6001 null; -6003 n above 8192; -6101 no memory. */
KEL_API int32_t VLONG_reallocVlong(vlong *v, uint32_t n);

/* VLONG_clearVlong sets the value to (positive) zero, keeping the buffer. */
KEL_API int32_t VLONG_clearVlong(vlong *v);

/* VLONG_getVlongUnit returns unit index, 0 at or above length. */
KEL_API uint32_t VLONG_getVlongUnit(const vlong *v, uint32_t index);

/* VLONG_setVlongUnit stores a unit: below length it trims when the stored
 * unit is 0; at or above length a 0 changes nothing and any other value grows
 * the vlong, zero-filling the units between. -6001 null; -6003; -6101. */
KEL_API int32_t VLONG_setVlongUnit(vlong *v, uint32_t index, uint32_t unit);

/* VLONG_isVlongZero: 1 when length is 0 (the sign is ignored), else 0. */
KEL_API int32_t VLONG_isVlongZero(const vlong *v);

/* VLONG_isVlongBitSet: 1 when bit index of the magnitude is set, else 0. */
KEL_API int32_t VLONG_isVlongBitSet(const vlong *v, uint32_t bitIndex);

/* VLONG_setVlongBit ORs bit index into the magnitude (may grow). */
KEL_API int32_t VLONG_setVlongBit(vlong *v, uint32_t bitIndex);

/* VLONG_bitLength: 0 for zero, else the magnitude's bit length. */
KEL_API uint32_t VLONG_bitLength(const vlong *v);

/* ---- comparison ---- */

/* VLONG_compareUnsigned compares a with the unsigned b: -1 whenever a's sign
 * flag is set (negative zero too), else -1, 0 or 1. */
KEL_API int32_t VLONG_compareUnsigned(const vlong *a, uint32_t b);

/* VLONG_compareSignedVlongs: -1, 0 or 1; negative zero equals zero. */
KEL_API int32_t VLONG_compareSignedVlongs(const vlong *a, const vlong *b);

/* ---- shifts (in place, magnitude only) ---- */

/* VLONG_shlVlong doubles v (-6001 null); shlVlong is the same without the
 * null check. VLONG_shrVlong halves v, dropping the low bit (-6001 null). */
KEL_API int32_t VLONG_shlVlong(vlong *v);
KEL_API int32_t shlVlong(vlong *v);
KEL_API int32_t VLONG_shrVlong(vlong *v);

/* VLONG_shlXvlong shifts left by count bits (grows to length + count/32 + 1
 * units first). VLONG_shrXvlong drops count bits; always 0. */
KEL_API int32_t VLONG_shlXvlong(vlong *v, uint32_t count);
KEL_API int32_t VLONG_shrXvlong(vlong *v, uint32_t count);

/* ---- construction and copying ---- */

/* VLONG_copySignedValue copies magnitude and sign; -6001 null argument. */
KEL_API int32_t VLONG_copySignedValue(vlong *dest, const vlong *src);

/* New vlongs holding value, or a signed copy of src. *out is null on failure. */
KEL_API int32_t VLONG_makeVlongFromUnsignedValue(uint32_t value, vlong **out, vlong **queue);
KEL_API int32_t VLONG_makeVlongFromVlong(const vlong *src, vlong **out, vlong **queue);

/* ---- addition and subtraction (in place: x changes, y is read) ---- */

KEL_API int32_t VLONG_addSignedVlongs(vlong *x, const vlong *y, vlong **queue);
KEL_API int32_t VLONG_subtractSignedVlongs(vlong *x, const vlong *y, vlong **queue);
KEL_API int32_t VLONG_increment(vlong *x, vlong **queue);
KEL_API int32_t VLONG_decrement(vlong *x, vlong **queue);
KEL_API int32_t VLONG_addImmediate(vlong *x, uint32_t value, vlong **queue);

/* ---- multiplication (product distinct from both factors) ---- */

/* VLONG_unsignedMultiply: product = |x|·|y|, the product's sign untouched;
 * x == y squares. VLONG_vlongSignedMultiply: sign = XOR of the flags (0 when
 * x == y). VLONG_vlongSignedSquare: product = x², sign 0. -6001 null; -6003;
 * -6101. */
KEL_API int32_t VLONG_unsignedMultiply(vlong *product, const vlong *x, const vlong *y);
KEL_API int32_t VLONG_vlongSignedMultiply(vlong *product, const vlong *x, const vlong *y);
KEL_API int32_t VLONG_vlongSignedSquare(vlong *product, const vlong *x);

/* ---- division (all four vlongs distinct) ---- */

/* VLONG_unsignedDivide: quotient = |dividend| div |divisor|, remainder =
 * |dividend| mod |divisor| (sign cleared; the quotient's sign is not set).
 * -6001 null; -6002 zero divisor. */
KEL_API int32_t VLONG_unsignedDivide(vlong *quotient, const vlong *dividend, const vlong *divisor,
                                     vlong *remainder, vlong **queue);

/* VLONG_operatorDivideSignedVlongs: new quotient truncated toward zero (sign
 * = XOR of the flags). VLONG_operatorModSignedVlongs: new remainder of the
 * magnitudes with the dividend's sign. *out is null on failure. */
KEL_API int32_t VLONG_operatorDivideSignedVlongs(const vlong *dividend, const vlong *divisor, vlong **out,
                                                 vlong **queue);
KEL_API int32_t VLONG_operatorModSignedVlongs(const vlong *dividend, const vlong *divisor, vlong **out,
                                              vlong **queue);

/* ---- number theory ---- */

/* VLONG_greatestCommonDenominator: new gcd(a, b) by Euclid. */
KEL_API int32_t VLONG_greatestCommonDenominator(const vlong *a, const vlong *b, vlong **out, vlong **queue);

/* VLONG_modularInverse: new t with a·t ≡ gcd(a, modulus) (mod modulus), in
 * [0, modulus); the inverse when the two are coprime (not checked). 0 for a
 * zero a. -6001 null argument. */
KEL_API int32_t VLONG_modularInverse(const vlong *a, const vlong *modulus, vlong **out, vlong **queue);

/* ---- byte strings ---- */

/* VLONG_vlongFromByteString reads length big-endian bytes. -6003 negative
 * length or more than 8192 units. On a late failure *out holds the partly
 * built vlong, which the caller releases. */
KEL_API int32_t VLONG_vlongFromByteString(const uint8_t *bytes, int32_t length, vlong **out, vlong **queue);

/* VLONG_byteStringFromVlong: dest null stores the minimal length in *length;
 * otherwise writes exactly *length bytes (zero-padded on the left). -6001 null
 * vlong or length; -6007 *length below the minimal length. */
KEL_API int32_t VLONG_byteStringFromVlong(const vlong *v, uint8_t *dest, int32_t *length);

/* VLONG_fixedByteStringFromVlong writes the low length bytes of the
 * magnitude, zero-padded on the left (longer values are truncated). */
KEL_API int32_t VLONG_fixedByteStringFromVlong(const vlong *v, uint8_t *dest, int32_t length);

/* VLONG_mpintByteStringFromVlong writes the SSH mpint (4-byte length, two's
 * complement value) into a new VOR_alloc buffer the caller frees with
 * VOR_free. -6001 null argument; -6101 no memory. */
KEL_API int32_t VLONG_mpintByteStringFromVlong(const vlong *v, uint8_t **out, int32_t *outLength);

/* VLONG_newFromMpintBytes parses one mpint from available bytes; *used =
 * 4 + its stated length. -6001 null; -6003 short input or bad length. */
KEL_API int32_t VLONG_newFromMpintBytes(const uint8_t *bytes, uint32_t available, vlong **out, int32_t *used);

/* VLONG_vlongFromUByte4String: count words, most significant first. */
KEL_API int32_t VLONG_vlongFromUByte4String(const uint32_t *words, uint32_t count, vlong **out);

/* ---- random ---- */

/* VLONG_makeRandomVlong: a random odd integer of exactly bits bits, drawn
 * with RANDOM_numberGenerator. Generator statuses pass through. */
KEL_API int32_t VLONG_makeRandomVlong(RandomContext *ctx, vlong **out, uint32_t bits, vlong **queue);

/* ---- modular exponentiation ---- */

/* Montgomery constants of one odd modulus, for repeated exponentiations. */
typedef struct ModExpHelper {
  uint32_t montRho;     /* -m^-1 mod 2^32 */
  vlong *montR;         /* R = 2^(32k), k = the modulus' length */
  vlong *montRInverse;  /* R^-1 mod m */
  vlong *modulus;       /* private copy of m */
} ModExpHelper;

/* VLONG_modexp: new x^e mod n. 0^e = 0 (also for e = 0); x^0 = 1. An odd n
 * with e of 2^32 or more takes Montgomery with a sliding window, everything
 * else Barrett with the binary method; an even n with a long e gives -6004.
 * Variable time: for public exponents only. -6001 null; -6004 zero n. */
KEL_API int32_t VLONG_modexp(const vlong *x, const vlong *e, const vlong *n, vlong **out, vlong **queue);

/* VLONG_newModExpHelper builds the helper for the odd modulus m. -6001 null;
 * -6004 zero or even m; -6101 no memory. *out is null on failure. */
KEL_API int32_t VLONG_newModExpHelper(ModExpHelper **out, const vlong *m, vlong **queue);

/* VLONG_deleteModExpHelper releases the helper's vlongs through the queue and
 * the record; sets *helper to null. Null pointers return 0. */
KEL_API int32_t VLONG_deleteModExpHelper(ModExpHelper **helper, vlong **queue);

/* VLONG_modExp: new x^e mod (the helper's modulus), sliding window. */
KEL_API int32_t VLONG_modExp(const ModExpHelper *helper, const vlong *x, const vlong *e, vlong **out,
                             vlong **queue);

/* VLONG_makeModExpHelperFromModExpHelper: deep copy. -6001 null; -6101. */
KEL_API int32_t VLONG_makeModExpHelperFromModExpHelper(const ModExpHelper *src, ModExpHelper **out,
                                                       vlong **queue);

/* VLONG_newBarrettMu: new mu = floor(2^(64k) / m), k = m's length. */
KEL_API int32_t VLONG_newBarrettMu(vlong **out, const vlong *m, vlong **queue);

/* VLONG_barrettMultiply: result = a·b mod m (a, b < m; result distinct from
 * a and b). */
KEL_API int32_t VLONG_barrettMultiply(vlong *result, const vlong *a, const vlong *b, const vlong *m,
                                      const vlong *mu, vlong **queue);

KEL_END_DECLS

#endif /* KEL_VLONG_H */
