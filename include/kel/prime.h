/* Probable primes: trial division by the odd primes below 256, Miller-Rabin
 * with random bases, the Lucas probable-prime test, the Jacobi symbol, and
 * prime search. Statuses are signed 32-bit: 0 success, negative failure.
 * Result flags are 1 for a probable prime, 0 for composite; a test clears its
 * flag as soon as its arguments are accepted, so a later failure leaves 0.
 * Not behind the power-up gate (the random context's own gate applies). */
#ifndef KEL_PRIME_H
#define KEL_PRIME_H

#include <stdint.h>

#include "kel/export.h"
#include "kel/random.h"
#include "kel/vlong.h"

KEL_BEGIN_DECLS

/* Entries of the small-prime table: 3, 5, 7, ..., 251. */
#define PRIME_SMALL_PRIME_COUNT 53u

/* PRIME_simplePrimeTest: trial division by table entries first .. end - 1
 * (end at most 53). *isPrime = 1 when none divides; first == end reports 1,
 * first > end 0. -6001 null candidate or flag. */
KEL_API int32_t PRIME_simplePrimeTest(const vlong *candidate, uint32_t first, uint32_t end, uint32_t *isPrime,
                                      vlong **queue);

/* PRIME_doPrimeTests: trial division by all 53 table primes (so the table
 * primes themselves are reported composite), 27 to 50 Miller-Rabin rounds
 * with random bases, then the Lucas test. -6001 null candidate or flag;
 * -6005 even candidate; generator and allocation statuses pass through. */
KEL_API int32_t PRIME_doPrimeTests(RandomContext *ctx, const vlong *candidate, uint32_t *isPrime, vlong **queue);

/* PRIME_generateSizedPrime: a new probable prime of exactly bits bits, ≡ ±1
 * (mod 6). Empties the caller's queue before returning, on every path. */
KEL_API int32_t PRIME_generateSizedPrime(RandomContext *ctx, vlong **out, uint32_t bits, vlong **queue);

/* incrementalPrimeFind: the first probable prime upward from start (an even
 * start begins one below it). */
KEL_API int32_t incrementalPrimeFind(RandomContext *ctx, const vlong *start, vlong **out, vlong **queue);

/* LUCAS_primeTest: the Lucas probable-prime test alone (FIPS 186-3 C.3.3).
 * -6001 null argument; -6005 zero or even candidate. */
KEL_API int32_t LUCAS_primeTest(const vlong *candidate, uint32_t *isPrime, vlong **queue);

/* JACOBI_jacobiSymbol: (a/n) in {-1, 0, 1}; an even n gives 0. -6001 null. */
KEL_API int32_t JACOBI_jacobiSymbol(const vlong *a, const vlong *n, int32_t *symbol, vlong **queue);

KEL_END_DECLS

#endif /* KEL_PRIME_H */
