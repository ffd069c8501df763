// Placeholder bodies so callers link while the real code lands.
#include "kel/vlong.h"
#include "kel/prime.h"
#include "crypto/bignum/internal.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

int32_t VLONG_allocVlong(vlong **out, vlong **queue) { return -6010; }
int32_t VLONG_freeVlong(vlong **v, vlong **queue) { return -6010; }
int32_t VLONG_freeVlongQueue(vlong **queue) { return -6010; }
int32_t VLONG_reallocVlong(vlong *v, uint32_t n) { return -6010; }
int32_t VLONG_clearVlong(vlong *v) { return -6010; }
uint32_t VLONG_getVlongUnit(const vlong *v, uint32_t index) { return 0; }
int32_t VLONG_setVlongUnit(vlong *v, uint32_t index, uint32_t unit) { return -6010; }
int32_t VLONG_isVlongZero(const vlong *v) { return -6010; }
int32_t VLONG_isVlongBitSet(const vlong *v, uint32_t bitIndex) { return -6010; }
int32_t VLONG_setVlongBit(vlong *v, uint32_t bitIndex) { return -6010; }
uint32_t VLONG_bitLength(const vlong *v) { return 0; }
int32_t VLONG_compareUnsigned(const vlong *a, uint32_t b) { return -6010; }
int32_t VLONG_compareSignedVlongs(const vlong *a, const vlong *b) { return -6010; }
int32_t VLONG_shlVlong(vlong *v) { return -6010; }
int32_t shlVlong(vlong *v) { return -6010; }
int32_t VLONG_shrVlong(vlong *v) { return -6010; }
int32_t VLONG_shlXvlong(vlong *v, uint32_t count) { return -6010; }
int32_t VLONG_shrXvlong(vlong *v, uint32_t count) { return -6010; }
int32_t VLONG_copySignedValue(vlong *dest, const vlong *src) { return -6010; }
int32_t VLONG_makeVlongFromUnsignedValue(uint32_t value, vlong **out, vlong **queue) { return -6010; }
int32_t VLONG_makeVlongFromVlong(const vlong *src, vlong **out, vlong **queue) { return -6010; }
int32_t VLONG_addSignedVlongs(vlong *x, const vlong *y, vlong **queue) { return -6010; }
int32_t VLONG_subtractSignedVlongs(vlong *x, const vlong *y, vlong **queue) { return -6010; }
int32_t VLONG_increment(vlong *x, vlong **queue) { return -6010; }
int32_t VLONG_decrement(vlong *x, vlong **queue) { return -6010; }
int32_t VLONG_addImmediate(vlong *x, uint32_t value, vlong **queue) { return -6010; }
int32_t VLONG_unsignedMultiply(vlong *product, const vlong *x, const vlong *y) { return -6010; }
int32_t VLONG_vlongSignedMultiply(vlong *product, const vlong *x, const vlong *y) { return -6010; }
int32_t VLONG_vlongSignedSquare(vlong *product, const vlong *x) { return -6010; }
int32_t VLONG_unsignedDivide(vlong *quotient, const vlong *dividend, const vlong *divisor, vlong *remainder, vlong **queue) { return -6010; }
int32_t VLONG_operatorDivideSignedVlongs(const vlong *dividend, const vlong *divisor, vlong **out, vlong **queue) { return -6010; }
int32_t VLONG_operatorModSignedVlongs(const vlong *dividend, const vlong *divisor, vlong **out, vlong **queue) { return -6010; }
int32_t VLONG_greatestCommonDenominator(const vlong *a, const vlong *b, vlong **out, vlong **queue) { return -6010; }
int32_t VLONG_modularInverse(const vlong *a, const vlong *modulus, vlong **out, vlong **queue) { return -6010; }
int32_t VLONG_vlongFromByteString(const uint8_t *bytes, int32_t length, vlong **out, vlong **queue) { return -6010; }
int32_t VLONG_byteStringFromVlong(const vlong *v, uint8_t *dest, int32_t *length) { return -6010; }
int32_t VLONG_fixedByteStringFromVlong(const vlong *v, uint8_t *dest, int32_t length) { return -6010; }
int32_t VLONG_mpintByteStringFromVlong(const vlong *v, uint8_t **out, int32_t *outLength) { return -6010; }
int32_t VLONG_newFromMpintBytes(const uint8_t *bytes, uint32_t available, vlong **out, int32_t *used) { return -6010; }
int32_t VLONG_vlongFromUByte4String(const uint32_t *words, uint32_t count, vlong **out) { return -6010; }
int32_t VLONG_makeRandomVlong(RandomContext *ctx, vlong **out, uint32_t bits, vlong **queue) { return -6010; }
int32_t VLONG_modexp(const vlong *x, const vlong *e, const vlong *n, vlong **out, vlong **queue) { return -6010; }
int32_t VLONG_newModExpHelper(ModExpHelper **out, const vlong *m, vlong **queue) { return -6010; }
int32_t VLONG_deleteModExpHelper(ModExpHelper **helper, vlong **queue) { return -6010; }
int32_t VLONG_modExp(const ModExpHelper *helper, const vlong *x, const vlong *e, vlong **out, vlong **queue) { return -6010; }
int32_t VLONG_makeModExpHelperFromModExpHelper(const ModExpHelper *src, ModExpHelper **out, vlong **queue) { return -6010; }
int32_t VLONG_newBarrettMu(vlong **out, const vlong *m, vlong **queue) { return -6010; }
int32_t VLONG_barrettMultiply(vlong *result, const vlong *a, const vlong *b, const vlong *m, const vlong *mu, vlong **queue) { return -6010; }
int32_t PRIME_simplePrimeTest(const vlong *candidate, uint32_t first, uint32_t end, uint32_t *isPrime, vlong **queue) { return -6010; }
int32_t PRIME_doPrimeTests(RandomContext *ctx, const vlong *candidate, uint32_t *isPrime, vlong **queue) { return -6010; }
int32_t PRIME_generateSizedPrime(RandomContext *ctx, vlong **out, uint32_t bits, vlong **queue) { return -6010; }
int32_t incrementalPrimeFind(RandomContext *ctx, const vlong *start, vlong **out, vlong **queue) { return -6010; }
int32_t LUCAS_primeTest(const vlong *candidate, uint32_t *isPrime, vlong **queue) { return -6010; }
int32_t JACOBI_jacobiSymbol(const vlong *a, const vlong *n, int32_t *symbol, vlong **queue) { return -6010; }

namespace kel::bignum {
int32_t mod_exp(const vlong *x, const vlong *e, const vlong *m, Exponent kind, vlong **out, vlong **queue) { return -6010; }
int32_t mod_exp(const ModExpHelper *helper, const vlong *x, const vlong *e, Exponent kind, vlong **out, vlong **queue) { return -6010; }
int32_t modexp_consttime(const vlong *x, const vlong *e, const vlong *m, vlong **out, vlong **queue) { return -6010; }
int32_t modexp_consttime(const ModExpHelper *helper, const vlong *x, const vlong *e, vlong **out, vlong **queue) { return -6010; }
int32_t VLONG_operatorMultiplySignedVlongs(const vlong *x, const vlong *y, vlong **out, vlong **queue) { return -6010; }
int32_t multiplyVlongsToLength(vlong *product, const vlong *x, const vlong *y, uint32_t n) { return -6010; }
int32_t squareVlongToLength(vlong *product, const vlong *x, uint32_t n) { return -6010; }
int32_t expandVlongNoCopy(vlong *v, uint32_t n) { return -6010; }
int32_t compareMagnitudes(const vlong *a, const vlong *b) { return 0; }
int32_t barrettReduce(vlong *result, const vlong *x, const vlong *m, const vlong *mu, vlong **queue) { return -6010; }
uint32_t millerRabinRoundCount(uint32_t bitLength) { return 0; }
int32_t millerRabinRound(const ModExpHelper *helper, const vlong *n, const vlong *a, uint32_t *passed, vlong **queue) { return -6010; }
}  // namespace kel::bignum
