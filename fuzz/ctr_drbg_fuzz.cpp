// CTR-DRBG requests of every size and order: instantiation (with and without
// the derivation function), generate with and without additional input,
// reseed. Two instances fed the same requests must give the same bytes, and
// no request may touch memory outside its buffers.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "kel/ctr_drbg.h"
#include "kel/fips.h"

using kel::fuzz::check;
using kel::fuzz::Input;

namespace {

struct Drbg {
  RandomContext *ctx = nullptr;
  ~Drbg() {
    if (ctx != nullptr) NIST_CTRDRBG_deleteContext(&ctx);
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  gFIPS_powerupStatus = 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Input in(data, size);
  const uint8_t kind = in.byte();
  const uint32_t keyLength = (kind & 3) == 3 ? 21 : 16 + 8 * (kind & 3);  // AES-128/192/256 or TDEA
  const uint32_t blockLength = keyLength == 21 ? 8 : 16;
  const bool df = kind & 4;
  size_t entropyLength = 0, nonceLength = 0, persLength = 0;
  const uint8_t *entropy = in.take(df ? in.byte() : keyLength + blockLength, &entropyLength);
  const uint8_t *nonce = in.take(df ? in.byte() % 32 : 0, &nonceLength);
  const uint8_t *pers = in.take(in.byte() % 64, &persLength);
  Drbg a, b;
  for (Drbg *d : {&a, &b}) {
    const int32_t s =
        df ? NIST_CTRDRBG_newDFContext(&d->ctx, keyLength, blockLength, entropy, static_cast<uint32_t>(entropyLength),
                                       nonce, static_cast<uint32_t>(nonceLength), pers,
                                       static_cast<uint32_t>(persLength), CTRDRBG_FLAG_NO_HEALTH_TEST)
           : NIST_CTRDRBG_newContext(&d->ctx, entropy, static_cast<uint32_t>(entropyLength), keyLength, blockLength,
                                     pers, static_cast<uint32_t>(persLength), CTRDRBG_FLAG_NO_HEALTH_TEST);
    check((s == 0) == (d->ctx != nullptr), "a context exactly on success");
    if (s != 0) return 0;
  }
  std::vector<uint8_t> outA, outB;
  while (in.left() > 0) {
    const uint8_t op = in.byte();
    size_t extraLength = 0;
    const uint8_t *extra = in.take(op & 0x80 ? in.byte() : 0, &extraLength);
    if ((op & 3) == 3) {
      size_t n = 0;
      const uint8_t *seed = in.take(keyLength + blockLength, &n);
      const int32_t sa = NIST_CTRDRBG_reseed(a.ctx, seed, static_cast<uint32_t>(n), extra,
                                             static_cast<uint32_t>(extraLength));
      const int32_t sb = NIST_CTRDRBG_reseed(b.ctx, seed, static_cast<uint32_t>(n), extra,
                                             static_cast<uint32_t>(extraLength));
      check(sa == sb, "same reseed status");
      continue;
    }
    const uint32_t bits = in.u16() % 9000;  // crosses the TDEA limit of 8191 bits
    outA.assign((bits + 7) / 8 + 1, 0xA5);
    outB.assign(outA.size(), 0x5A);
    const int32_t sa = NIST_CTRDRBG_generate(a.ctx, extra, static_cast<uint32_t>(extraLength), outA.data(), bits,
                                             CTRDRBG_FLAG_NO_HEALTH_TEST);
    const int32_t sb = NIST_CTRDRBG_generate(b.ctx, extra, static_cast<uint32_t>(extraLength), outB.data(), bits,
                                             CTRDRBG_FLAG_NO_HEALTH_TEST);
    check(sa == sb, "same generate status");
    if (sa != 0) continue;
    // Whole bytes agree (spare low bits of a partial last byte are not
    // defined), and the byte past the request is untouched.
    check(std::memcmp(outA.data(), outB.data(), bits / 8) == 0, "same output");
    check(outA.back() == 0xA5 && outB.back() == 0x5A, "nothing written past the request");
  }
  gFIPS_powerupStatus = 0;  // a continuous-test failure would close the gate for the next input
  return 0;
}
