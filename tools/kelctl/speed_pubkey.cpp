// kelctl speed, public-key rows: DSA-1024 signing and verification and a
// Diffie-Hellman agreement in group 14 with a 384-bit private value, in
// operations per second (the best of several timed passes).
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "kel/dh.h"
#include "kel/dsa.h"
#include "kel/fips.h"
#include "kel/random.h"
#include "kel/vlong.h"
#include "kelctl/commands.h"

namespace kelctl {
namespace {

double Seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Operations per second of op: a pass of about 0.1 s, best of three.
template <class Op>
int32_t OpsPerSecond(Op &&op, double *rate) {
  double t0 = Seconds();
  int32_t st = op();
  const double once = std::max(Seconds() - t0, 1e-6);
  const int reps = std::max(1, static_cast<int>(0.1 / once));
  double best = 1e9;
  for (int pass = 0; pass < 3 && st == 0; ++pass) {
    t0 = Seconds();
    for (int i = 0; i < reps && st == 0; ++i) st = op();
    best = std::min(best, Seconds() - t0);
  }
  *rate = reps / best;
  return st;
}

void Row(const char *name, int32_t st, double rate) {
  if (st == 0)
    std::printf("%-20s %10.1f\n", name, rate);
  else
    std::printf("%-20s %10s  (status %d)\n", name, "-", st);
}

void DsaRows() {
  RandomContext *rng = nullptr;
  DsaKeyObject *key = nullptr;
  vlong *m = nullptr, *r = nullptr, *s = nullptr, *queue = nullptr;
  const uint8_t digest[20] = {0x4b, 0x1e, 0x7a, 0x33, 0x90, 0x0c, 0x5d, 0xe2, 0x11, 0x68,
                              0xa4, 0x2f, 0x76, 0x9b, 0x03, 0xc8, 0x5e, 0x17, 0xf0, 0x29};
  int32_t st = RANDOM_acquireContext(&rng);
  if (st == 0) st = DSA_createKey(&key);
  if (st == 0) st = DSA_generateKey(rng, key, 1024, nullptr, nullptr, nullptr, &queue);
  if (st == 0) st = VLONG_vlongFromByteString(digest, 20, &m, nullptr);
  double rate = 0;
  int32_t signSt = st;
  if (st == 0) signSt = OpsPerSecond([&] {
      VLONG_freeVlong(&r, &queue);
      VLONG_freeVlong(&s, &queue);
      return DSA_computeSignature(rng, key, m, nullptr, &r, &s, &queue);
    }, &rate);
  Row("dsa-1024 sign", signSt, rate);
  int32_t verifySt = signSt;
  if (signSt == 0) verifySt = OpsPerSecond([&] {
      uint32_t valid = 0;
      const int32_t v = DSA_verifySignature(key, m, r, s, &valid, &queue);
      return v != 0 ? v : (valid ? 0 : -6011);
    }, &rate);
  Row("dsa-1024 verify", verifySt, rate);
  VLONG_freeVlong(&r, nullptr);
  VLONG_freeVlong(&s, nullptr);
  VLONG_freeVlong(&m, nullptr);
  VLONG_freeVlongQueue(&queue);
  if (key != nullptr) DSA_freeKey(&key, nullptr);
  if (rng != nullptr) RANDOM_releaseContext(&rng);
}

// Diffie-Hellman needs no open gate: the private value here is a fixed
// 384-bit pattern, the peer value the generator's square.
void DhRow() {
  DhContext *ctx = nullptr;
  vlong *queue = nullptr;
  uint8_t y[DH_PRIVATE_VALUE_BYTES];
  for (uint32_t i = 0; i < sizeof y; ++i) y[i] = static_cast<uint8_t>(0x9d * i + 0x5b);
  int32_t st = DH_allocate(&ctx);
  if (st == 0) st = DH_getP(14, &ctx->prime);
  if (st == 0) st = DH_getG(14, &ctx->generator, nullptr);
  if (st == 0) st = VLONG_vlongFromByteString(y, sizeof y, &ctx->privateValue, nullptr);
  if (st == 0) st = VLONG_makeVlongFromUnsignedValue(4, &ctx->peerPublicValue, nullptr);
  double rate = 0;
  if (st == 0) st = OpsPerSecond([&] { return DH_computeKeyExchange(ctx, &queue); }, &rate);
  Row("dh-2048 agree", st, rate);
  VLONG_freeVlongQueue(&queue);
  if (ctx != nullptr) DH_freeDhContext(&ctx, nullptr);
}

}  // namespace

void PrintPublicKeySpeed() {
  std::printf("\n%-20s %10s\n", "public key", "ops/s");
  DsaRows();
  DhRow();
}

}  // namespace kelctl
