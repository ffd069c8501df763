// AES modes beside OpenSSL's EVP in the same process: 16 KiB messages (and
// 64-byte GCM messages). Prints MB/s for both and the ratio (ours / OpenSSL,
// above 1 is faster), each the median of several runs.
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "crypto/common/cpu.h"
#include "kel/aes_modes.h"
#include "kel/fips.h"
#include "kel/gcm.h"

namespace {

using Clock = std::chrono::steady_clock;

size_t Calibrate(const std::function<void()> &fn) {
  size_t iters = 1;
  for (;;) {  // about 10 ms a run
    auto t0 = Clock::now();
    for (size_t i = 0; i < iters; ++i) fn();
    if (std::chrono::duration<double>(Clock::now() - t0).count() > 0.01) return iters;
    iters *= 2;
  }
}

double Run(const std::function<void()> &fn, size_t iters, size_t bytes) {
  auto t0 = Clock::now();
  for (size_t i = 0; i < iters; ++i) fn();
  return static_cast<double>(bytes * iters) / std::chrono::duration<double>(Clock::now() - t0).count() / 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Runs ours and OpenSSL alternately (the machine is shared, so neighbours'
// load hits both alike) and reports the medians and the median ratio.
struct Result {
  double ours, theirs, ratio;
};
Result Compare(const std::function<void()> &ours, const std::function<void()> &theirs, size_t bytes) {
  const size_t a = Calibrate(ours), b = Calibrate(theirs);
  std::vector<double> x, y, r;
  for (int i = 0; i < 11; ++i) {
    x.push_back(Run(ours, a, bytes));
    y.push_back(Run(theirs, b, bytes));
    r.push_back(x.back() / y.back());
  }
  return {Median(x), Median(y), Median(r)};
}

struct Evp {
  EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
  ~Evp() { EVP_CIPHER_CTX_free(c); }
};

void Row(const char *name, const Result &r, double target) {
  std::printf("%-24s %10.0f %10.0f %7.2fx  (target %.1fx)%s\n", name, r.ours, r.theirs, r.ratio, target,
              r.ratio >= target ? "" : "  BELOW");
}

}  // namespace

int main(int argc, char **argv) {
  gFIPS_powerupStatus = 0;  // the benchmark measures the ciphers, not the self-test
  if (argc > 1 && std::strcmp(argv[1], "--portable") == 0) kel::cpu::restrict_to(0);
  if (argc > 1 && std::strcmp(argv[1], "--aesni") == 0)
    kel::cpu::restrict_to(kel::cpu::kAesni | kel::cpu::kSsse3 | kel::cpu::kSse41 | kel::cpu::kPclmul);
  const size_t kLen = 16384;
  std::vector<uint8_t> buf(kLen + 64, 0x5a), key(64), iv(16, 0x22);
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i * 29 + 1);  // XTS wants distinct halves
  int n = 0;
  std::printf("%-24s %10s %10s %8s\n", "16 KiB unless noted", "kel MB/s", "OpenSSL", "ratio");

  {  // CTR
    uint8_t material[32];
    std::memcpy(material, key.data(), 16);
    std::memcpy(material + 16, iv.data(), 16);
    BulkCtx ctx = CreateAESCTRCtx(material, 32, 1);
    Evp e;
    EVP_EncryptInit_ex(e.c, EVP_aes_128_ctr(), nullptr, key.data(), iv.data());
    Row("AES-128-CTR", Compare([&] { DoAESCTR(ctx, buf.data(), kLen, 1, nullptr); }, [&] { EVP_EncryptUpdate(e.c, buf.data(), &n, buf.data(), kLen); }, kLen), 2.0);
    DeleteAESCTRCtx(&ctx);
  }
  struct Block {
    const char *name;
    BulkCtx (*create)(const uint8_t *, uint32_t, int32_t);
    const EVP_CIPHER *(*evp)();
    int encrypt;
    double target;
  };
  const Block blocks[] = {{"AES-128-ECB encrypt", CreateAESECBCtx, EVP_aes_128_ecb, 1, 2.0},
                          {"AES-128-ECB decrypt", CreateAESECBCtx, EVP_aes_128_ecb, 0, 2.0},
                          {"AES-128-CBC encrypt", CreateAESCtx, EVP_aes_128_cbc, 1, 1.0},
                          {"AES-128-CBC decrypt", CreateAESCtx, EVP_aes_128_cbc, 0, 2.0}};
  for (const Block &b : blocks) {
    BulkCtx ctx = b.create(key.data(), 16, b.encrypt);
    Evp e;
    EVP_CipherInit_ex(e.c, b.evp(), nullptr, key.data(), iv.data(), b.encrypt);
    EVP_CIPHER_CTX_set_padding(e.c, 0);
    Row(b.name, Compare([&] { DoAES(ctx, buf.data(), kLen, b.encrypt, iv.data()); }, [&] { EVP_CipherUpdate(e.c, buf.data(), &n, buf.data(), kLen); }, kLen), b.target);
    DeleteAESCtx(&ctx);
  }
  for (int encrypt : {1, 0}) {  // XTS: one 16 KiB data unit per call
    BulkCtx ctx = CreateAESXTSCtx(key.data(), 32, encrypt);
    Evp e;
    EVP_CipherInit_ex(e.c, EVP_aes_128_xts(), nullptr, key.data(), iv.data(), encrypt);
    Row(encrypt ? "XTS-AES-128 encrypt" : "XTS-AES-128 decrypt", Compare([&] { DoAESXTS(ctx, buf.data(), kLen, encrypt, iv.data()); }, 
        [&] {
          EVP_CipherInit_ex(e.c, nullptr, nullptr, nullptr, iv.data(), -1);
          EVP_CipherUpdate(e.c, buf.data(), &n, buf.data(), kLen);
        }, kLen), 2.0);
    DeleteAESXTSCtx(&ctx);
  }
  for (size_t len : {kLen, size_t{64}}) {  // GCM: a whole message per call
    BulkCtx ctx = GCM_createCtx_256b(key.data(), 16, 1);
    uint8_t tag[16];
    Evp e;
    EVP_EncryptInit_ex(e.c, EVP_aes_128_gcm(), nullptr, key.data(), iv.data());
    Row(len == 64 ? "AES-128-GCM 64 B" : "AES-128-GCM", Compare(
        [&] {
          GCM_init_256b(ctx, iv.data(), 12, nullptr, 0);
          GCM_update_encrypt_256b(ctx, buf.data(), static_cast<uint32_t>(len));
          GCM_final_256b(ctx, tag);
        }, 
        [&] {
          EVP_EncryptInit_ex(e.c, nullptr, nullptr, nullptr, iv.data());
          EVP_EncryptUpdate(e.c, buf.data(), &n, buf.data(), static_cast<int>(len));
          EVP_EncryptFinal_ex(e.c, buf.data() + len, &n);
          EVP_CIPHER_CTX_ctrl(e.c, EVP_CTRL_AEAD_GET_TAG, 16, tag);
        }, len), len == 64 ? 2.0 : 1.0);
    GCM_deleteCtx_256b(&ctx);
  }
  {  // CCM: one-call encryption, 16-byte tag, 13-byte nonce
    uint8_t tag[16];
    Evp e;
    EVP_EncryptInit_ex(e.c, EVP_aes_128_ccm(), nullptr, nullptr, nullptr);
    EVP_CIPHER_CTX_ctrl(e.c, EVP_CTRL_AEAD_SET_IVLEN, 13, nullptr);
    EVP_CIPHER_CTX_ctrl(e.c, EVP_CTRL_AEAD_SET_TAG, 16, nullptr);
    Row("AES-128-CCM encrypt", Compare(
        [&] { AESCCM_encrypt(16, 2, key.data(), 16, iv.data(), buf.data(), kLen, nullptr, 0, tag); }, 
        [&] {
          EVP_EncryptInit_ex(e.c, nullptr, nullptr, key.data(), iv.data());
          EVP_EncryptUpdate(e.c, buf.data(), &n, buf.data(), kLen);
          EVP_EncryptFinal_ex(e.c, buf.data() + kLen, &n);
          EVP_CIPHER_CTX_ctrl(e.c, EVP_CTRL_AEAD_GET_TAG, 16, tag);
        }, kLen), 1.0);
  }
  return 0;
}
