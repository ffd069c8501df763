// DES and triple DES beside OpenSSL's EVP in the same process, on 16 KiB
// messages: MB/s of each and the ratio (ours / OpenSSL), median of several
// alternating runs. DES-CBC needs OpenSSL's legacy provider and is skipped
// without it.
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "crypto/cipher/des_internal.h"
#include "kel/des.h"
#include "kel/fips.h"

namespace {

constexpr size_t kMessage = 16 * 1024;
constexpr int kRuns = 7;
constexpr double kRunSeconds = 0.15;

using Clock = std::chrono::steady_clock;

// Bytes per second of fn over kMessage-byte calls for about kRunSeconds.
double Rate(const std::function<void()> &fn) {
  size_t calls = 0;
  auto start = Clock::now();
  double elapsed = 0;
  do {
    for (int i = 0; i < 8; ++i) fn();
    calls += 8;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < kRunSeconds);
  return static_cast<double>(calls * kMessage) / elapsed;
}

struct Evp {
  EVP_CIPHER_CTX *ctx = nullptr;
  Evp(const char *name, const uint8_t *key, const uint8_t *iv, int encrypt) {
    EVP_CIPHER *c = EVP_CIPHER_fetch(nullptr, name, nullptr);
    if (c == nullptr) return;
    ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(ctx, c, nullptr, key, iv, encrypt);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_CIPHER_free(c);
  }
  ~Evp() { EVP_CIPHER_CTX_free(ctx); }
  void Run(uint8_t *buf) {
    int n = 0;
    EVP_CipherUpdate(ctx, buf, &n, buf, static_cast<int>(kMessage));
  }
};

void Row(const char *name, const std::function<void()> &ours, const std::function<void()> &theirs) {
  std::vector<double> us, them, ratio;
  for (int r = 0; r < kRuns; ++r) {
    double a = Rate(ours), b = Rate(theirs);
    us.push_back(a / 1e6);
    them.push_back(b / 1e6);
    ratio.push_back(a / b);
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  std::printf("| %-20s | %9.1f | %9.1f | %6.2fx |\n", name, median(us), median(them), median(ratio));
}

}  // namespace

int main() {
  gFIPS_powerupStatus = 0;
  std::vector<uint8_t> buf(kMessage, 0x5a), ref(kMessage, 0x5a);
  uint8_t key[24], iv[8] = {1, 2, 3, 4, 5, 6, 7, 8}, ivo[8];
  for (int i = 0; i < 24; ++i) key[i] = static_cast<uint8_t>(0x11 * i + 3);

  std::printf("16 KiB messages, median of %d runs (MB/s)\n\n", kRuns);
  std::printf("| %-20s | %9s | %9s | %7s |\n", "cipher", "kel", "OpenSSL", "ratio");
  std::printf("|----------------------|-----------|-----------|---------|\n");

  OSSL_PROVIDER *legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  OSSL_PROVIDER_load(nullptr, "default");
  if (legacy != nullptr) {
    DesContext des;
    DES_initKey(&des, key, 8);
    Evp evp("DES-CBC", key, iv, 1);
    memcpy(ivo, iv, 8);
    Row("DES-CBC encrypt",
        [&] { kel::des::cbc_encrypt(buf.data(), buf.data(), kMessage / 8, ivo, kel::des::Single{des.encryptKeys}); },
        [&] { evp.Run(ref.data()); });
  } else {
    std::printf("| %-20s | skipped: OpenSSL's legacy provider is not available |\n", "DES-CBC encrypt");
  }

  void *enc = Create3DESCtx(key, 24, 1), *dec = Create3DESCtx(key, 24, 0);
  {
    Evp evp("DES-EDE3-CBC", key, iv, 1);
    memcpy(ivo, iv, 8);
    Row("3DES-CBC encrypt", [&] { Do3DES(enc, buf.data(), kMessage, 1, ivo); }, [&] { evp.Run(ref.data()); });
  }
  {
    Evp evp("DES-EDE3-CBC", key, iv, 0);
    memcpy(ivo, iv, 8);
    Row("3DES-CBC decrypt", [&] { Do3DES(dec, buf.data(), kMessage, 0, ivo); }, [&] { evp.Run(ref.data()); });
  }
  {
    TripleDesContext tdes;
    THREE_DES_initKey(&tdes, key, 24);
    Evp evp("DES-EDE3-ECB", key, nullptr, 1);
    Row("3DES-ECB encrypt", [&] { THREE_DES_encipher(&tdes, buf.data(), buf.data(), kMessage); },
        [&] { evp.Run(ref.data()); });
  }
  Delete3DESCtx(&enc);
  Delete3DESCtx(&dec);
  return 0;
}
