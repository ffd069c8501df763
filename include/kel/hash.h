/* Message digests: MD5 (RFC 1321), SHA-1, SHA-224, SHA-256, SHA-384 and
 * SHA-512 (FIPS 180-4), as streaming contexts, one-call digests and constant
 * hash suites for generic code.
 *
 * Every operation returns a signed 32-bit status: 0 on success, -6001 for a
 * null context, data or output pointer, or the allocator's status. The SHA-1,
 * SHA-256 and SHA-512 entries return the power-up status (kel/fips.h) while
 * it is not 0, before looking at their arguments; SHA-224 and SHA-384 share
 * the gated update, MD5 is never gated.
 *
 * Context arguments are typed `void *` so that the same functions fill the
 * suites; pass the matching context (Sha256Context for SHA-224/256, and so
 * on). A context may live anywhere; the alloc functions give a heap one. */
#ifndef KEL_HASH_H
#define KEL_HASH_H

#include <stdint.h>

#include "kel/export.h"

KEL_BEGIN_DECLS

#define MD5_DIGEST_SIZE 16
#define SHA1_DIGEST_SIZE 20
#define SHA224_DIGEST_SIZE 28
#define SHA256_DIGEST_SIZE 32
#define SHA384_DIGEST_SIZE 48
#define SHA512_DIGEST_SIZE 64
#define MD5_BLOCK_SIZE 64
#define SHA1_BLOCK_SIZE 64
#define SHA256_BLOCK_SIZE 64
#define SHA512_BLOCK_SIZE 128

#define ERR_HASH_UNSUPPORTED (-6010)

/* A 128-bit unsigned counter, high word first. */
typedef struct Uint128 {
  uint64_t high;
  uint64_t low;
} Uint128;

typedef struct Md5Context {
  uint32_t state[4];
  uint64_t bitCount;
  uint32_t bufferIndex;
  uint8_t buffer[64];
} Md5Context;

typedef struct Sha1Context {
  uint32_t state[5];
  uint64_t byteCount; /* bits once finalised */
  int32_t bufferIndex;
  uint8_t buffer[64];
} Sha1Context;

/* SHA-256 and SHA-224. */
typedef struct Sha256Context {
  uint32_t state[8];
  uint64_t byteCount;
  int32_t bufferIndex;
  uint8_t buffer[64];
} Sha256Context;

/* SHA-512 and SHA-384. */
typedef struct Sha512Context {
  uint64_t state[8];
  Uint128 byteCount;
  int32_t bufferIndex;
  uint8_t buffer[128];
} Sha512Context;

typedef int32_t (*HashAllocFunc)(void **ctx);
typedef int32_t (*HashFreeFunc)(void **ctx);
typedef int32_t (*HashInitFunc)(void *ctx);
typedef int32_t (*HashUpdateFunc)(void *ctx, const uint8_t *data, uint32_t length);
typedef int32_t (*HashFinalFunc)(void *ctx, uint8_t *output);

/* A constant record that drives one digest for generic code. The two last
 * slots are null in every suite and read by nothing. */
typedef struct HashSuite {
  uint32_t digestSize;
  uint32_t blockSize;
  HashAllocFunc allocFunc;
  HashFreeFunc freeFunc;
  HashInitFunc initFunc;
  HashUpdateFunc updateFunc;
  HashFinalFunc finalFunc;
  void *reserved1;
  void *reserved2;
} HashSuite;

/* 0x80 then 63 zero bytes. */
KEL_API extern const uint8_t MD45_PADDING[64];

/* MD5 (not gated). Alloc gives an uninitialised Md5Context from VOR_alloc;
 * Free zeroes it, releases it and clears the pointer (-6001 when there
 * is none). Final leaves the context as it is. */
KEL_API int32_t MD5Alloc_m(void **ctx);
KEL_API int32_t MD5Free_m(void **ctx);
KEL_API int32_t MD5Init_m(void *ctx);
KEL_API int32_t MD5Update_m(void *ctx, const uint8_t *data, uint32_t length);
KEL_API int32_t MD5Final_m(void *ctx, uint8_t *output);
KEL_API int32_t MD5_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output);

/* SHA-1 (gated). Free zeroes the context before releasing it; Final does
 * not zero. */
KEL_API int32_t SHA1_allocDigest(void **ctx);
KEL_API int32_t SHA1_freeDigest(void **ctx);
KEL_API int32_t SHA1_initDigest(void *ctx);
KEL_API int32_t SHA1_updateDigest(void *ctx, const uint8_t *data, uint32_t length);
KEL_API int32_t SHA1_finalDigest(void *ctx, uint8_t *output);
KEL_API int32_t SHA1_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output);

/* SHA1_G: one SHA-1 compression of a 64-byte block from the standard initial
 * value, no padding; 20 bytes out. SHA1_GK: the same from the initial value
 * rotated by one word (FIPS 186-2). Not gated; always 0. */
KEL_API int32_t SHA1_G(const uint8_t *block, uint8_t *output);
KEL_API int32_t SHA1_GK(const uint8_t *block, uint8_t *output);

/* SHA-256 and SHA-224 on a Sha256Context. The final functions leave the
 * context all zeros, on success and failure alike. */
KEL_API int32_t SHA256_allocDigest(void **ctx);
KEL_API int32_t SHA256_freeDigest(void **ctx);
KEL_API int32_t SHA256_initDigest(void *ctx);
KEL_API int32_t SHA224_initDigest(void *ctx);
KEL_API int32_t SHA256_updateDigest(void *ctx, const uint8_t *data, uint32_t length);
KEL_API int32_t SHA256_finalDigest(void *ctx, uint8_t *output);
KEL_API int32_t SHA224_finalDigest(void *ctx, uint8_t *output);
KEL_API int32_t SHA256_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output);
KEL_API int32_t SHA224_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output);

/* SHA-512 and SHA-384 on a Sha512Context; final zeroes as above. */
KEL_API int32_t SHA512_allocDigest(void **ctx);
KEL_API int32_t SHA512_freeDigest(void **ctx);
KEL_API int32_t SHA512_initDigest(void *ctx);
KEL_API int32_t SHA384_initDigest(void *ctx);
KEL_API int32_t SHA512_updateDigest(void *ctx, const uint8_t *data, uint32_t length);
KEL_API int32_t SHA512_finalDigest(void *ctx, uint8_t *output);
KEL_API int32_t SHA384_finalDigest(void *ctx, uint8_t *output);
KEL_API int32_t SHA512_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output);
KEL_API int32_t SHA384_completeDigest(const uint8_t *data, uint32_t length, uint8_t *output);

/* MD45_encode writes length / 4 words as little-endian bytes; MD45_decode
 * reads them back. length is a byte count, a multiple of 4. */
KEL_API void MD45_encode(uint8_t *output, const uint32_t *input, uint32_t length);
KEL_API void MD45_decode(uint32_t *output, const uint8_t *input, uint32_t length);

/* u16_Incr32 adds n to the counter with carry into the high word; u16_Shl
 * returns (high:low) << n, zero for n of 128 or more. */
KEL_API void u16_Incr32(Uint128 *counter, uint32_t n);
KEL_API Uint128 u16_Shl(uint64_t high, uint64_t low, uint32_t n);

/* CRYPTO_getRSAHashAlgo stores the suite of a PKCS #1 signature algorithm
 * (low byte of id: 4 MD5, 5 SHA-1, 11 SHA-256, 12 SHA-384, 13 SHA-512,
 * 14 SHA-224) through suite; -6010 for any other, leaving *suite alone;
 * -6001 for a null suite pointer. */
KEL_API int32_t CRYPTO_getRSAHashAlgo(int32_t id, const HashSuite **suite);

KEL_END_DECLS

#endif /* KEL_HASH_H */
