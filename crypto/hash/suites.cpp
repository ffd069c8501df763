// The constant hash suites and their lookup by PKCS #1 signature algorithm.
#include "crypto/hash/internal.h"
#include "kel/vor.h"

namespace kel::hash {

// The fields of every suite are fixed: sizes, then alloc, free, init,
// update and final; the two trailing slots stay null.
constinit const HashSuite kMd5Suite = {16, 64, MD5Alloc_m, MD5Free_m, MD5Init_m, MD5Update_m, MD5Final_m,
                                       nullptr, nullptr};
constinit const HashSuite kSha1Suite = {20, 64, SHA1_allocDigest, SHA1_freeDigest, SHA1_initDigest,
                                        SHA1_updateDigest, SHA1_finalDigest, nullptr, nullptr};
constinit const HashSuite kSha224Suite = {28, 64, SHA256_allocDigest, SHA256_freeDigest, SHA224_initDigest,
                                          SHA256_updateDigest, SHA224_finalDigest, nullptr, nullptr};
constinit const HashSuite kSha256Suite = {32, 64, SHA256_allocDigest, SHA256_freeDigest, SHA256_initDigest,
                                          SHA256_updateDigest, SHA256_finalDigest, nullptr, nullptr};
constinit const HashSuite kSha384Suite = {48, 128, SHA512_allocDigest, SHA512_freeDigest, SHA384_initDigest,
                                          SHA512_updateDigest, SHA384_finalDigest, nullptr, nullptr};
constinit const HashSuite kSha512Suite = {64, 128, SHA512_allocDigest, SHA512_freeDigest, SHA512_initDigest,
                                          SHA512_updateDigest, SHA512_finalDigest, nullptr, nullptr};

static_assert(offsetof(Md5Context, bufferIndex) == 24 && sizeof(Md5Context) == 96);
static_assert(offsetof(Sha1Context, byteCount) == 24 && offsetof(Sha1Context, buffer) == 36);
static_assert(offsetof(Sha256Context, bufferIndex) == 40 && sizeof(Sha256Context) == 112);
static_assert(offsetof(Sha512Context, bufferIndex) == 80 && sizeof(Sha512Context) == 216);

const HashSuite *suite_for_id(int32_t id) {
  switch (id & 0xff) {
    case 4: return &kMd5Suite;
    case 5: return &kSha1Suite;
    case 11: return &kSha256Suite;
    case 12: return &kSha384Suite;
    case 13: return &kSha512Suite;
    case 14: return &kSha224Suite;
    default: return nullptr;
  }
}

}  // namespace kel::hash

int32_t CRYPTO_getRSAHashAlgo(int32_t id, const HashSuite **suite) {
  if (suite == nullptr) return ERR_NULL_POINTER;
  const HashSuite *found = kel::hash::suite_for_id(id);
  if (found == nullptr) return ERR_HASH_UNSUPPORTED;
  *suite = found;
  return 0;
}
