// kelctl speed: the throughput of the toolkit's digests, HMAC and ciphers on
// this machine, one line per algorithm (MB/s = 10^6 bytes per second, the
// best of several timed passes). Approved algorithms need a passed power-up
// self-test: the command runs it when the library provides it, and lists the
// gate's status for those it may not use.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "kel/aes.h"
#include "kel/aes_modes.h"
#include "kel/cipher.h"
#include "kel/des.h"
#include "kel/fips.h"
#include "kel/gcm.h"
#include "kel/hash.h"
#include "kel/hmac.h"
#include "kel/rc2.h"
#include "kelctl/commands.h"
#include "kelctl/util.h"


namespace kelctl {
namespace {

constexpr uint32_t kBulk = 16384;
constexpr uint32_t kTagRoom = 16;  // authenticated modes write their tag behind the data
constexpr int kPasses = 7;
constexpr double kPassSeconds = 0.02;

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Bytes per second of `op` over messages of `bytes`: one call sizes a pass to
// about kPassSeconds, then the fastest of kPasses passes counts. Stops at the
// first failing status.
template <class Op>
int32_t Rate(uint32_t bytes, Op &&op, double *rate) {
  double t0 = Now();
  int32_t st = op(0);
  const double once = Now() - t0;
  const int reps = once > 0 ? static_cast<int>(std::min(1e5, std::max(1.0, kPassSeconds / once))) : 1000;
  double best = 1e9;
  for (int pass = 0; pass < kPasses && st == 0; ++pass) {
    t0 = Now();
    for (int i = 0; i < reps && st == 0; ++i) st = op(i);
    const double t = Now() - t0;
    if (t < best) best = t;
  }
  *rate = static_cast<double>(bytes) * reps / best;
  return st;
}

struct DigestRow {
  const char *name;
  int32_t id;  // CRYPTO_getRSAHashAlgo number
  uint32_t messageBytes;
  bool hmac;
};

constexpr DigestRow kDigests[] = {
    {"md5", 4, kBulk, false},         {"sha1", 5, kBulk, false},   {"sha224", 14, kBulk, false},
    {"sha256", 11, kBulk, false},     {"sha384", 12, kBulk, false}, {"sha512", 13, kBulk, false},
    {"hmac-sha256 (64 B)", 11, 64, true},
};

int32_t MeasureDigest(const DigestRow &row, const uint8_t *data, double *rate) {
  const HashSuite *suite = nullptr;
  CRYPTO_getRSAHashAlgo(row.id, &suite);
  uint8_t out[64];
  HmacContext *mac = nullptr;
  void *ctx = nullptr;
  int32_t st = row.hmac ? HmacCreate(&mac, suite) : suite->allocFunc(&ctx);
  if (st == 0 && row.hmac) st = HmacKey(mac, data, 32);
  if (st == 0 && row.hmac) {
    st = Rate(row.messageBytes, [&](int i) {
      int32_t s = HmacReset(mac);
      if (s == 0) s = HmacUpdate(mac, data + (i % 64) * 64, row.messageBytes);
      return s == 0 ? HmacFinal(mac, out) : s;
    }, rate);
  } else if (st == 0) {
    st = Rate(row.messageBytes, [&](int) {
      int32_t s = suite->initFunc(ctx);
      if (s == 0) s = suite->updateFunc(ctx, data, row.messageBytes);
      return s == 0 ? suite->finalFunc(ctx, out) : s;
    }, rate);
  }
  if (mac != nullptr) HmacDelete(&mac);
  if (ctx != nullptr) suite->freeFunc(&ctx);
  return st;
}

// A cipher measured in place over one message; the operation encrypts.
struct CipherRow {
  const char *name;
  uint32_t keyLength;
  uint32_t messageBytes;
  BulkCtx (*create)(const uint8_t *key, uint32_t keyLength, int32_t encrypt);
  int32_t (*destroy)(BulkCtx *ctx);
  int32_t (*encrypt)(BulkCtx ctx, uint8_t *data, uint32_t length);
};

uint8_t g_iv[16];
constexpr uint8_t kNonce[12] = {};

BulkCtx CreateXts(const uint8_t *key, uint32_t keyLength, int32_t encrypt) {
  return CreateAESXTSCtx(key, static_cast<int32_t>(keyLength), encrypt);
}

const CipherRow kCiphers[] = {
    {"aes-128-ecb", 16, kBulk, CreateAESECBCtx, DeleteAESECBCtx,
     [](BulkCtx c, uint8_t *d, uint32_t n) { return DoAESECB(c, d, n, 1, g_iv); }},
    {"aes-128-cbc", 16, kBulk, CRYPTO_AESSuite.createFunc, CRYPTO_AESSuite.deleteFunc,
     [](BulkCtx c, uint8_t *d, uint32_t n) { return CRYPTO_AESSuite.cipherFunc(c, d, n, 1, g_iv); }},
    {"aes-128-ctr", 32, kBulk, CRYPTO_AESCtrSuite.createFunc, CRYPTO_AESCtrSuite.deleteFunc,
     [](BulkCtx c, uint8_t *d, uint32_t n) { return CRYPTO_AESCtrSuite.cipherFunc(c, d, n, 1, g_iv); }},
    {"aes-128-gcm", 16, kBulk, GCM_createCtx_256b, GCM_deleteCtx_256b,
     [](BulkCtx c, uint8_t *d, uint32_t n) { return GCM_cipher_256b(c, kNonce, 12, nullptr, 0, d, n, 16, 1); }},
    {"aes-128-gcm (64 B)", 16, 64, GCM_createCtx_256b, GCM_deleteCtx_256b,
     [](BulkCtx c, uint8_t *d, uint32_t n) { return GCM_cipher_256b(c, kNonce, 12, nullptr, 0, d, n, 16, 1); }},
    {"aes-128-ccm", 16, kBulk, AESCCM_createCtx, AESCCM_deleteCtx,
     [](BulkCtx c, uint8_t *d, uint32_t n) { return AESCCM_cipher(c, kNonce, 12, nullptr, 0, d, n, 16, 1); }},
    {"aes-128-xts", 32, kBulk, CreateXts, DeleteAESXTSCtx,
     [](BulkCtx c, uint8_t *d, uint32_t n) { return DoAESXTS(c, d, n, 1, g_iv); }},
    {"3des-cbc", 24, kBulk, CRYPTO_TripleDESSuite.createFunc, CRYPTO_TripleDESSuite.deleteFunc,
     [](BulkCtx c, uint8_t *d, uint32_t n) { return CRYPTO_TripleDESSuite.cipherFunc(c, d, n, 1, g_iv); }},
    {"rc2-cbc", 16, kBulk, CRYPTO_RC2Suite.createFunc, CRYPTO_RC2Suite.deleteFunc,
     [](BulkCtx c, uint8_t *d, uint32_t n) { return CRYPTO_RC2Suite.cipherFunc(c, d, n, 1, g_iv); }},
};

int32_t MeasureCipher(const CipherRow &row, uint8_t *data, double *rate) {
  const int32_t gate = FIPS_powerupSelfTestStatus();
  BulkCtx ctx = row.create(data, row.keyLength, 1);
  if (ctx == nullptr) return gate != 0 ? gate : -1;  // creation refuses behind a closed gate
  int32_t st = Rate(row.messageBytes, [&](int) { return row.encrypt(ctx, data, row.messageBytes); }, rate);
  row.destroy(&ctx);
  return st;
}

void PrintRow(const char *name, int32_t st, double rate) {
  if (st == 0)
    std::printf("%-20s %10.1f\n", name, rate / 1e6);
  else if (st <= -16500 && st > -16600)
    std::printf("%-20s %10s  (status %d: the power-up self-test has not passed)\n", name, "-", st);
  else
    std::printf("%-20s %10s  (status %d)\n", name, "-", st);
}

}  // namespace

int RunSpeed(int argc, char **argv) {
  Args a("speed", "usage: kelctl speed\nprints the throughput of the digests, HMAC, ciphers and public-key algorithms\n",
         argc, argv);
  while (a.Next()) return a.Fail("unexpected argument '%s'", a.value);
  if (a.exit >= 0) return a.exit;
  auto *data = static_cast<uint8_t *>(std::malloc(kBulk + kTagRoom));
  if (data == nullptr) return kExitFailed;
  for (uint32_t i = 0; i < kBulk + kTagRoom; ++i) data[i] = static_cast<uint8_t>(i * 131 + 7);
  std::printf("%-20s %10s\n", "algorithm", "MB/s");
  bool any = false;
  for (const DigestRow &row : kDigests) {
    double rate = 0;
    const int32_t st = MeasureDigest(row, data, &rate);
    PrintRow(row.name, st, rate);
    any = any || st == 0;
  }
  for (const CipherRow &row : kCiphers) {
    double rate = 0;
    const int32_t st = MeasureCipher(row, data, &rate);
    PrintRow(row.name, st, rate);
    any = any || st == 0;
  }
  std::free(data);
  PrintBignumSpeed();
  PrintEcSpeedRows();
  PrintPublicKeySpeed();
  any = SpeedRsa() || any;
  return any ? kExitOk : kExitFailed;
}

}  // namespace kelctl
