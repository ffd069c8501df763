// x86 compression kernels for the digests, named by the instructions they
// need. Each processes whole blocks into the chaining state (the words of
// FIPS 180 / RFC 1321 in host order) and runs only on CPUs that offer what
// it needs: *_available() says so, and the hash kernel table (kernels.cpp)
// asks it when it is filled.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kel::hash {

// SHA extensions, SSE4.1, SSSE3.
bool sha1_shani_available();
void sha1_blocks_shani(uint32_t state[5], const uint8_t *data, size_t blocks);  // 64-byte blocks

// SHA extensions, SSE4.1, SSSE3.
bool sha256_shani_available();
void sha256_blocks_shani(uint32_t state[8], const uint8_t *data, size_t blocks);  // 64-byte blocks
// The end of an HMAC with precomputed padded-key states: the inner hash's
// last blocks (already padded, 1 or 2) into inner, which keeps the finished
// inner hash; then the outer block from outer; the 32-byte (SHA-224: 28) MAC
// into mac. One call, the state held in registers throughout.
void sha256_hmac_tail_shani(uint32_t inner[8], const uint8_t *tail, size_t blocks, const uint32_t outer[8],
                            uint8_t *mac, bool sha224);

// AVX2 and BMI2; with AVX-512F/VL as well, a faster build of the same code.
bool sha512_avx2_available();
void sha512_blocks_avx2(uint64_t state[8], const uint8_t *data, size_t blocks);  // 128-byte blocks
bool sha512_avx512vl_available();
void sha512_blocks_avx512vl(uint64_t state[8], const uint8_t *data, size_t blocks);

// BMI2 (RORX).
bool md5_bmi2_available();
void md5_blocks_bmi2(uint32_t state[4], const uint8_t *data, size_t blocks);  // 64-byte blocks

}  // namespace kel::hash
