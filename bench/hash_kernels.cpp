// The digest block kernels beside OpenSSL's EVP one-shot digests on 16 KiB,
// interleaved in the same process run: prints MB/s (10^6 bytes per second)
// and our/OpenSSL ratio, each the median of several runs.
// usage: bench_hash_kernels [runs]
#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>
#include <vector>

#include "crypto/common/cpu.h"
#include "crypto/hash/x86/kernels.h"

namespace {

constexpr size_t kBytes = 16384;

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// MB/s of a and of b from the fastest of 64 passes each, the passes of the
// two taken in turn. The machine is shared, so a pass that was preempted or
// slowed by a neighbour says nothing about the code; the fastest passes of
// both sides, measured side by side, do.
template <class A, class B>
std::pair<double, double> Rates(A a, B b) {
  double best_a = 1e9, best_b = 1e9;
  for (int i = 0; i < 64; ++i) {
    double t0 = Now();
    a();
    double t1 = Now();
    best_a = std::min(best_a, t1 - t0);
    b();
    best_b = std::min(best_b, Now() - t1);
  }
  return {kBytes / best_a / 1e6, kBytes / best_b / 1e6};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Row {
  const char *name;
  bool (*available)();
  void (*run)(const uint8_t *);  // one 16 KiB pass through the kernel
  const EVP_MD *(*md)();
  uint32_t features = ~0u;  // the CPU features the kernel may use
};

const uint8_t *g_sink;  // keeps the state stores alive

template <class W, size_t N, class F>
void Run(F blocks, const uint8_t *data, size_t block) {
  static W state[N];
  blocks(state, data, kBytes / block);
  g_sink = reinterpret_cast<const uint8_t *>(state);
}

const Row kRows[] = {
    {"SHA-1", kel::hash::sha1_shani_available,
     [](const uint8_t *d) { Run<uint32_t, 5>(kel::hash::sha1_blocks_shani, d, 64); }, EVP_sha1},
    {"SHA-256", kel::hash::sha256_shani_available,
     [](const uint8_t *d) { Run<uint32_t, 8>(kel::hash::sha256_blocks_shani, d, 64); }, EVP_sha256},
    {"SHA-512", kel::hash::sha512_avx512vl_available,
     [](const uint8_t *d) { Run<uint64_t, 8>(kel::hash::sha512_blocks_avx512vl, d, 128); }, EVP_sha512},
    {"SHA-512 (AVX2, no AVX-512)", kel::hash::sha512_avx2_available,
     [](const uint8_t *d) { Run<uint64_t, 8>(kel::hash::sha512_blocks_avx2, d, 128); }, EVP_sha512,
     ~(kel::cpu::kAvx512f | kel::cpu::kAvx512vl)},
    {"MD5", kel::hash::md5_bmi2_available,
     [](const uint8_t *d) { Run<uint32_t, 4>(kel::hash::md5_blocks_bmi2, d, 64); }, EVP_md5},
};

}  // namespace

int main(int argc, char **argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
  std::vector<uint8_t> data(kBytes);
  for (size_t i = 0; i < kBytes; ++i) data[i] = static_cast<uint8_t>(i * 131 + 7);

  std::printf("%-27s %12s %12s %7s   (16 KiB, median of %d runs)\n", "digest", "kernel MB/s", "OpenSSL MB/s",
              "ratio", runs);
  for (const Row &row : kRows) {
    kel::cpu::restrict_to(row.features);
    if (!row.available()) {
      std::printf("%-27s %12s\n", row.name, "n/a");
      continue;
    }
    std::vector<double> ours, theirs, ratios;
    for (int r = 0; r < runs; ++r) {
      uint8_t md[EVP_MAX_MD_SIZE];
      unsigned len = 0;
      const EVP_MD *evp = row.md();
      const auto [o, t] = Rates([&] { row.run(data.data()); },
                                [&] { EVP_Digest(data.data(), kBytes, md, &len, evp, nullptr); });
      ours.push_back(o);
      theirs.push_back(t);
      ratios.push_back(o / t);
    }
    std::printf("%-27s %12.0f %12.0f %6.2fx\n", row.name, Median(ours), Median(theirs), Median(ratios));
  }
  return 0;
}
