// Big-number operations beside OpenSSL's BN and GMP in the same process:
// 2048-bit exponentiation (secret exponent on the constant-time path, e =
// 65537, a public 2048-bit exponent), 2048x2048-bit multiplication,
// 4096/2048-bit division and prime generation. Prints operations per second
// and our rate over theirs (above 1: we are faster), each the median of
// several runs, for the hardware kernels and the portable ones.
// usage: bench_bignum [runs] [--no-primes]
#include <gmp.h>
#include <openssl/bn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <vector>

#include "crypto/bignum/internal.h"
#include "crypto/common/cpu.h"
#include "kel/fips.h"
#include "kel/prime.h"
#include "kel/random.h"
#include "kel/vlong.h"

namespace {

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Operations per second of op over about `seconds`.
double Rate(const std::function<void()> &op, double seconds) {
  op();
  int reps = 0;
  const double t0 = Now();
  double t = t0;
  do {
    op();
    ++reps;
    t = Now();
  } while (t - t0 < seconds);
  return reps / (t - t0);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Numbers {
  vlong *x = nullptr, *m = nullptr, *d = nullptr, *e65537 = nullptr, *big = nullptr, *prod = nullptr,
        *q = nullptr, *r = nullptr, *y = nullptr;
  ModExpHelper *helper = nullptr;
  vlong *queue = nullptr;
  BIGNUM *bx, *bm, *bd, *be, *bbig, *bprod, *bq, *br, *by;
  BN_CTX *ctx = BN_CTX_new();
  BN_MONT_CTX *mont = BN_MONT_CTX_new();
  mpz_t gx, gm, gd, ge, gbig, gprod, gq, gr, gy;
};

vlong *FromBytes(const std::vector<uint8_t> &b) {
  vlong *v = nullptr;
  VLONG_vlongFromByteString(b.data(), static_cast<int32_t>(b.size()), &v, nullptr);
  return v;
}

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed, bool topBit, bool odd) {
  std::vector<uint8_t> b(n);
  srand(seed);
  for (auto &c : b) c = static_cast<uint8_t>(rand());
  if (topBit) b[0] |= 0x80;
  if (odd) b[n - 1] |= 1;
  return b;
}

void Setup(Numbers &n) {
  auto bx = RandomBytes(255, 1, true, false), bm = RandomBytes(256, 2, true, true),
       bd = RandomBytes(256, 3, true, false), bbig = RandomBytes(512, 4, true, false),
       by = RandomBytes(256, 5, true, false);
  const std::vector<uint8_t> be = {0x01, 0x00, 0x01};
  n.x = FromBytes(bx), n.m = FromBytes(bm), n.d = FromBytes(bd), n.e65537 = FromBytes(be);
  n.big = FromBytes(bbig), n.y = FromBytes(by);
  VLONG_allocVlong(&n.prod, nullptr);
  VLONG_allocVlong(&n.q, nullptr);
  VLONG_allocVlong(&n.r, nullptr);
  VLONG_newModExpHelper(&n.helper, n.m, nullptr);
  auto bn = [](const std::vector<uint8_t> &b) { return BN_bin2bn(b.data(), static_cast<int>(b.size()), nullptr); };
  n.bx = bn(bx), n.bm = bn(bm), n.bd = bn(bd), n.be = bn(be), n.bbig = bn(bbig), n.by = bn(by);
  n.bprod = BN_new(), n.bq = BN_new(), n.br = BN_new();
  BN_MONT_CTX_set(n.mont, n.bm, n.ctx);
  auto gmp = [](mpz_t z, const std::vector<uint8_t> &b) {
    mpz_init(z);
    mpz_import(z, b.size(), 1, 1, 1, 0, b.data());
  };
  gmp(n.gx, bx), gmp(n.gm, bm), gmp(n.gd, bd), gmp(n.ge, be), gmp(n.gbig, bbig), gmp(n.gy, by);
  mpz_init(n.gprod), mpz_init(n.gq), mpz_init(n.gr);
}

struct Row {
  const char *name;
  std::function<void(Numbers &)> ours, openssl, gmp;  // gmp may be empty
};

void Run(Numbers &n, const std::vector<Row> &rows, int runs, double seconds) {
  std::printf("%-34s %12s %12s %12s %9s %9s\n", "operation", "ours/s", "OpenSSL/s", "GMP/s", "vs OSSL", "vs GMP");
  for (const Row &row : rows) {
    std::vector<double> o, s, g, rs, rg;
    for (int i = 0; i < runs; ++i) {
      const double ro = Rate([&] { row.ours(n); }, seconds);
      const double rso = Rate([&] { row.openssl(n); }, seconds);
      const double rgm = row.gmp ? Rate([&] { row.gmp(n); }, seconds) : 0;
      o.push_back(ro), s.push_back(rso), g.push_back(rgm);
      rs.push_back(ro / rso);
      rg.push_back(rgm > 0 ? ro / rgm : 0);
    }
    std::printf("%-34s %12.1f %12.1f %12.1f %8.2fx", row.name, Median(o), Median(s), Median(g), Median(rs));
    if (row.gmp)
      std::printf(" %8.2fx\n", Median(rg));
    else
      std::printf(" %9s\n", "-");
    std::fflush(stdout);
  }
}

void Release(vlong *v, Numbers &n) { VLONG_freeVlong(&v, &n.queue); }

}  // namespace

int main(int argc, char **argv) {
  const int runs = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 3;
  bool primes = true;
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "--no-primes")) primes = false;
  Numbers n;
  Setup(n);
  using kel::bignum::Exponent;
  const std::vector<Row> rows = {
      {"modexp 2048, secret 2048-bit e",
       [](Numbers &n) {
         vlong *r = nullptr;
         kel::bignum::mod_exp(n.helper, n.x, n.d, Exponent::kSecret, &r, &n.queue);
         Release(r, n);
       },
       [](Numbers &n) { BN_mod_exp_mont_consttime(n.br, n.bx, n.bd, n.bm, n.ctx, n.mont); },
       [](Numbers &n) { mpz_powm_sec(n.gr, n.gx, n.gd, n.gm); }},
      {"modexp 2048, public 2048-bit e",
       [](Numbers &n) {
         vlong *r = nullptr;
         VLONG_modExp(n.helper, n.x, n.d, &r, &n.queue);
         Release(r, n);
       },
       [](Numbers &n) { BN_mod_exp_mont(n.br, n.bx, n.bd, n.bm, n.ctx, n.mont); },
       [](Numbers &n) { mpz_powm(n.gr, n.gx, n.gd, n.gm); }},
      {"modexp 2048, e = 65537",
       [](Numbers &n) {
         vlong *r = nullptr;
         VLONG_modexp(n.x, n.e65537, n.m, &r, &n.queue);
         Release(r, n);
       },
       [](Numbers &n) { BN_mod_exp_mont(n.br, n.bx, n.be, n.bm, n.ctx, n.mont); },
       [](Numbers &n) { mpz_powm(n.gr, n.gx, n.ge, n.gm); }},
      {"multiply 2048 x 2048",
       [](Numbers &n) { VLONG_unsignedMultiply(n.prod, n.d, n.y); },
       [](Numbers &n) { BN_mul(n.bprod, n.bd, n.by, n.ctx); },
       [](Numbers &n) { mpz_mul(n.gprod, n.gd, n.gy); }},
      {"divide 4096 / 2048",
       [](Numbers &n) { VLONG_unsignedDivide(n.q, n.big, n.m, n.r, &n.queue); },
       [](Numbers &n) { BN_div(n.bq, n.br, n.bbig, n.bm, n.ctx); },
       [](Numbers &n) { mpz_tdiv_qr(n.gq, n.gr, n.gbig, n.gm); }},
  };
  std::printf("hardware kernels (MULX/ADX: %s)\n", kel::cpu::has(kel::cpu::kBmi2 | kel::cpu::kAdx) ? "yes" : "no");
  Run(n, rows, runs, 0.3);
  kel::cpu::restrict_to(0);
  std::printf("\nportable kernels\n");
  Run(n, rows, runs, 0.3);
  kel::cpu::restrict_to(~0u);
  if (primes) {
    gFIPS_powerupStatus = 0;
    RandomContext *rc = nullptr;
    if (RANDOM_acquireContext(&rc) != 0) return 1;
    std::printf("\n");
    const std::vector<Row> primeRows = {
        {"prime generation 1024 bits",
         [rc](Numbers &n) {
           vlong *p = nullptr;
           PRIME_generateSizedPrime(rc, &p, 1024, &n.queue);
           VLONG_freeVlong(&p, nullptr);
         },
         [](Numbers &n) { BN_generate_prime_ex(n.br, 1024, 0, nullptr, nullptr, nullptr); },
         {}},
        {"prime generation 2048 bits",
         [rc](Numbers &n) {
           vlong *p = nullptr;
           PRIME_generateSizedPrime(rc, &p, 2048, &n.queue);
           VLONG_freeVlong(&p, nullptr);
         },
         [](Numbers &n) { BN_generate_prime_ex(n.br, 2048, 0, nullptr, nullptr, nullptr); },
         {}},
    };
    // Prime searches vary run to run: more runs, longer each.
    Run(n, primeRows, std::max(runs, 5), 2.0);
    RANDOM_releaseContext(&rc);
  }
  return 0;
}
