// kelctl prime: generates a probable prime of a chosen size, or tests numbers
// given in decimal or hexadecimal (0x...). Miller-Rabin takes its bases from
// an approved random generator, so both need a passed power-up self-test;
// the command runs it when the library provides one.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kel/fips.h"
#include "kel/prime.h"
#include "kel/random.h"
#include "kel/vlong.h"
#include "kelctl/commands.h"
#include "kelctl/util.h"

namespace kelctl {
namespace {

constexpr long kMinBits = 9, kMaxBits = 16384;
constexpr char kUsage[] =
    "usage: kelctl prime --bits N        generate a probable prime of N bits (9 to 16384)\n"
    "       kelctl prime --test NUM...   test numbers (decimal, or hex with 0x)\n";

struct Vlong {
  vlong *v = nullptr;
  ~Vlong() {
    if (v != nullptr) VLONG_freeVlong(&v, nullptr);
  }
};

// Parses decimal or 0x-hexadecimal digits; false on anything else.
bool Parse(const char *text, Vlong &out) {
  if (VLONG_allocVlong(&out.v, nullptr) != 0) return false;
  const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char *p = hex ? text + 2 : text;
  if (*p == '\0') return false;
  for (; *p; ++p) {
    const int digit = hex ? HexDigit(*p) : *p >= '0' && *p <= '9' ? *p - '0' : -1;
    if (digit < 0) return false;
    if (hex) {
      if (VLONG_shlXvlong(out.v, 4) != 0) return false;
    } else {
      Vlong ten, product;
      if (VLONG_makeVlongFromUnsignedValue(10, &ten.v, nullptr) != 0 ||
          VLONG_allocVlong(&product.v, nullptr) != 0 || VLONG_unsignedMultiply(product.v, out.v, ten.v) != 0 ||
          VLONG_copySignedValue(out.v, product.v) != 0)
        return false;
    }
    if (VLONG_addImmediate(out.v, static_cast<uint32_t>(digit), nullptr) != 0) return false;
  }
  return true;
}

std::string Decimal(const vlong *value) {
  Vlong x, q, r, chunk;
  if (VLONG_makeVlongFromVlong(value, &x.v, nullptr) != 0 || VLONG_allocVlong(&q.v, nullptr) != 0 ||
      VLONG_allocVlong(&r.v, nullptr) != 0 || VLONG_makeVlongFromUnsignedValue(1000000000u, &chunk.v, nullptr) != 0)
    return "?";
  std::string digits;
  do {
    if (VLONG_unsignedDivide(q.v, x.v, chunk.v, r.v, nullptr) != 0) return "?";
    char part[16];
    std::snprintf(part, sizeof part, VLONG_isVlongZero(q.v) ? "%u" : "%09u", VLONG_getVlongUnit(r.v, 0));
    digits.insert(0, part);
    std::swap(x.v, q.v);
  } while (!VLONG_isVlongZero(x.v));
  return digits;
}

std::string Hex(const vlong *value) {
  const std::string s = ToHex(value);
  return "0x" + (s.empty() ? std::string("0") : s);
}

// Below 2^16 the answer is exact by trial division (the toolkit's own test
// reports the primes below 256 as composite, as its table divides them).
const char *SmallVerdict(uint32_t n) {
  if (n < 2) return "not prime";
  for (uint32_t d = 2; d * d <= n; ++d)
    if (n % d == 0) return "composite";
  return "prime";
}

int Test(RandomContext *ctx, const std::vector<const char *> &numbers) {
  int status = kExitOk;
  for (size_t i = 0; i < numbers.size(); ++i) {
    Vlong n;
    if (!Parse(numbers[i], n)) {
      std::fprintf(stderr, "kelctl prime: '%s' is not a decimal or 0x-hex number\n", numbers[i]);
      status = kExitUsage;
      continue;
    }
    if (VLONG_bitLength(n.v) <= 16) {
      std::printf("%s: %s\n", numbers[i], SmallVerdict(VLONG_getVlongUnit(n.v, 0)));
      continue;
    }
    if (!VLONG_isVlongBitSet(n.v, 0)) {
      std::printf("%s: composite (even)\n", numbers[i]);
      continue;
    }
    uint32_t prime = 0;
    vlong *queue = nullptr;
    const int32_t st = PRIME_doPrimeTests(ctx, n.v, &prime, &queue);
    VLONG_freeVlongQueue(&queue);
    if (st != 0) {
      std::fprintf(stderr, "kelctl prime: testing %s failed (status %d)\n", numbers[i], st);
      status = kExitFailed;
      continue;
    }
    std::printf("%s: %s\n", numbers[i], prime ? "probable prime" : "composite");
  }
  return status;
}

}  // namespace

int RunPrime(int argc, char **argv) {
  static constexpr Option kOptions[] = {{"--bits", nullptr, true}, {"--test", nullptr, false}};
  long bits = 0;
  bool test = false;
  std::vector<const char *> numbers;
  Args a("prime", kUsage, argc, argv, kOptions);
  while (a.Next()) {
    if (a.id == Args::kOperand)
      numbers.push_back(a.value);
    else if (a.id == 1)
      test = true;
    else if (!a.Number(kMinBits, kMaxBits, &bits))
      return a.exit;
  }
  if (a.exit >= 0) return a.exit;
  if (test == (bits != 0) || test == numbers.empty()) return a.Fail("either --bits N or --test NUM...");
  if (int32_t gate = FIPS_powerupSelfTestStatus(); gate != 0) return Refuse("prime", "the random generator", gate);
  RandomContext *ctx = nullptr;
  if (int32_t st = RANDOM_acquireContext(&ctx); st != 0) {
    std::fprintf(stderr, "kelctl prime: could not create the generator (status %d)\n", st);
    return kExitFailed;
  }
  int status = kExitOk;
  if (test) {
    status = Test(ctx, numbers);
  } else {
    vlong *p = nullptr, *queue = nullptr;
    if (int32_t st = PRIME_generateSizedPrime(ctx, &p, static_cast<uint32_t>(bits), &queue); st != 0) {
      std::fprintf(stderr, "kelctl prime: generation failed (status %d)\n", st);
      status = kExitFailed;
    } else {
      std::printf("bits:    %u\nhex:     %s\ndecimal: %s\n", VLONG_bitLength(p), Hex(p).c_str(), Decimal(p).c_str());
      VLONG_freeVlong(&p, nullptr);
    }
  }
  RANDOM_releaseContext(&ctx);
  return status;
}

}  // namespace kelctl
