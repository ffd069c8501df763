// Montgomery multiplication for the curve fields and orders with MULX and
// the two carry chains of ADCX/ADOX. Runs only on CPUs that offer BMI2 and
// ADX: mont_adx_available() says so, and the curve kernel table asks it when
// it is filled.
#pragma once

#include <cstdint>

namespace kel::ec {

bool mont_adx_available();

// r <- a b R^-1 mod m for 4 and 6 limbs, a and b below m. `modulus` points
// at the limbs of m followed by -m^-1 mod 2^64 (the layout of Modulus<N>).
void mont_mul4_adx(uint64_t *r, const uint64_t *a, const uint64_t *b, const uint64_t *modulus);
// The same for the P-256 prime only, by its special form.
void mont_mul_p256_adx(uint64_t *r, const uint64_t *a, const uint64_t *b, const uint64_t *modulus);
// a^2 R^-1 mod the P-256 prime (the third argument is not read).
void mont_sqr_p256_adx(uint64_t *r, const uint64_t *a, const uint64_t *, const uint64_t *modulus);
void mont_mul6_adx(uint64_t *r, const uint64_t *a, const uint64_t *b, const uint64_t *modulus);

}  // namespace kel::ec
