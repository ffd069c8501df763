// kelctl dh: a Diffie-Hellman key agreement between two parties, A and B, in
// one process over a built-in group: both public values and a digest of the
// agreed secret. Diffie-Hellman works before the power-up self-test; the
// private values come from the toolkit's CTR-DRBG when the gate is open and
// from the kernel otherwise (or from the command line, to reproduce a run),
// and the digest is SHA-256 when the gate is open, MD5 otherwise.
#include <sys/random.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kel/dh.h"
#include "kel/fips.h"
#include "kel/hash.h"
#include "kel/random.h"
#include "kel/vlong.h"
#include "kelctl/commands.h"

namespace kelctl {
namespace {

struct GroupName {
  uint32_t number;
  const char *text;
};

constexpr GroupName kGroupNames[] = {
    {1, "768-bit MODP group (RFC 2409), generator 2"},
    {2, "1024-bit MODP group (RFC 2409), generator 2"},
    {5, "1536-bit MODP group (RFC 3526), generator 2"},
    {14, "2048-bit MODP group (RFC 3526), generator 2"},
    {15, "3072-bit MODP group (RFC 3526), generator 2"},
    {16, "4096-bit MODP group (RFC 3526), generator 2"},
    {17, "6144-bit MODP group (RFC 3526), generator 2"},
    {18, "8192-bit MODP group (RFC 3526), generator 2"},
    {24, "2048-bit MODP group with 256-bit prime-order subgroup (RFC 5114)"},
};

void Usage() {
  std::fprintf(stderr,
               "usage: kelctl dh [--group N] [--private-a HEX --private-b HEX]\n"
               "  N: 1, 2, 5, 14 (default), 15, 16, 17, 18 or 24\n"
               "  --private-a/-b: the two private values in hex (both or neither)\n");
}

bool ParseHex(const char *text, std::string *bytes) {
  std::string hex = text;
  if (hex.empty() || hex.size() > 2048) return false;
  if (hex.size() % 2) hex = "0" + hex;
  bytes->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    char pair[3] = {hex[i], hex[i + 1], 0}, *end = nullptr;
    const unsigned long v = std::strtoul(pair, &end, 16);
    if (*end != '\0' || pair[0] == '+' || pair[0] == '-' || pair[0] == ' ') return false;
    bytes->push_back(static_cast<char>(v));
  }
  return true;
}

std::string HexOf(const vlong *v) {
  int32_t n = 0;
  VLONG_byteStringFromVlong(v, nullptr, &n);
  std::string bytes(static_cast<size_t>(n), '\0'), hex;
  if (n > 0) VLONG_byteStringFromVlong(v, reinterpret_cast<uint8_t *>(bytes.data()), &n);
  char two[3];
  for (unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02x", c);
    hex += two;
  }
  return hex;
}

// One party: group parameters and a private value from the given bytes.
int32_t MakeParty(uint32_t group, const std::string &privateBytes, DhContext **ctx) {
  int32_t st = DH_allocate(ctx);
  if (st == 0) st = DH_getP(static_cast<int32_t>(group), &(*ctx)->prime);
  if (st == 0) st = DH_getG(group, &(*ctx)->generator, nullptr);
  if (st == 0)
    st = VLONG_vlongFromByteString(reinterpret_cast<const uint8_t *>(privateBytes.data()),
                                   static_cast<int32_t>(privateBytes.size()), &(*ctx)->privateValue, nullptr);
  return st;
}

// 48 private bytes for each party: the toolkit's generator behind an open
// gate, the kernel otherwise.
int32_t DrawPrivate(std::string *a, std::string *b, const char **source) {
  a->assign(DH_PRIVATE_VALUE_BYTES, '\0');
  b->assign(DH_PRIVATE_VALUE_BYTES, '\0');
  RandomContext *rng = nullptr;
  if (FIPS_powerupSelfTestStatus() == 0 && RANDOM_acquireContext(&rng) == 0) {
    *source = "the toolkit's CTR-DRBG";
    int32_t st = RANDOM_numberGenerator(rng, reinterpret_cast<uint8_t *>(a->data()), DH_PRIVATE_VALUE_BYTES);
    if (st == 0) st = RANDOM_numberGenerator(rng, reinterpret_cast<uint8_t *>(b->data()), DH_PRIVATE_VALUE_BYTES);
    RANDOM_releaseContext(&rng);
    return st;
  }
  *source = "the kernel (the toolkit's generators wait for the power-up self-test)";
  for (std::string *s : {a, b})
    if (getrandom(s->data(), s->size(), 0) != static_cast<ssize_t>(s->size())) return -17600;
  return 0;
}

}  // namespace

int RunDh(int argc, char **argv) {
  uint32_t group = 14;
  std::string privA, privB;
  bool givenA = false, givenB = false;
  for (int i = 1; i < argc; ++i) {
    if (i + 1 >= argc) return Usage(), kExitUsage;
    const char *opt = argv[i], *value = argv[++i];
    if (!std::strcmp(opt, "--group")) {
      char *end = nullptr;
      const unsigned long n = std::strtoul(value, &end, 10);
      if (*end != '\0' || value[0] < '0' || value[0] > '9' || n > 1000) return Usage(), kExitUsage;
      group = static_cast<uint32_t>(n);
    } else if (!std::strcmp(opt, "--private-a") && ParseHex(value, &privA)) {
      givenA = true;
    } else if (!std::strcmp(opt, "--private-b") && ParseHex(value, &privB)) {
      givenB = true;
    } else {
      return Usage(), kExitUsage;
    }
  }
  if (givenA != givenB) return Usage(), kExitUsage;
  const char *name = nullptr;
  for (const auto &g : kGroupNames)
    if (g.number == group) name = g.text;
  if (name == nullptr) {
    std::fprintf(stderr, "kelctl dh: unknown group %u (status %d)\n", group, ERR_DH_UNKNOWN_GROUP);
    return Usage(), kExitUsage;
  }
  const char *source = "the command line";
  if (!givenA) {
    if (int32_t st = DrawPrivate(&privA, &privB, &source); st != 0) {
      std::fprintf(stderr, "kelctl dh: no random private values (status %d)\n", st);
      return kExitFailed;
    }
  }

  DhContext *a = nullptr, *b = nullptr;
  int32_t st = MakeParty(group, privA, &a);
  if (st == 0) st = MakeParty(group, privB, &b);
  std::memset(privA.data(), 0, privA.size());
  std::memset(privB.data(), 0, privB.size());
  // Without a peer value yet, an exchange computes the party's own public
  // value and stops at the missing peer (-6001); then the two swap.
  if (st == 0 && DH_computeKeyExchange(a, nullptr) != ERR_DH_NULL) st = -1;
  if (st == 0 && DH_computeKeyExchange(b, nullptr) != ERR_DH_NULL) st = -1;
  if (st == 0) st = VLONG_makeVlongFromVlong(b->ownPublicValue, &a->peerPublicValue, nullptr);
  if (st == 0) st = VLONG_makeVlongFromVlong(a->ownPublicValue, &b->peerPublicValue, nullptr);
  if (st == 0) st = DH_computeKeyExchange(a, nullptr);
  if (st == 0) st = DH_computeKeyExchange(b, nullptr);
  int result = kExitFailed;
  if (st != 0) {
    std::fprintf(stderr, "kelctl dh: the key agreement failed (status %d)\n", st);
  } else {
    const bool agreed = VLONG_compareSignedVlongs(a->sharedSecret, b->sharedSecret) == 0;
    int32_t n = 0;
    VLONG_byteStringFromVlong(a->prime, nullptr, &n);
    std::string secret(static_cast<size_t>(n), '\0');
    VLONG_fixedByteStringFromVlong(a->sharedSecret, reinterpret_cast<uint8_t *>(secret.data()), n);
    uint8_t digest[32];
    const bool sha256 = FIPS_powerupSelfTestStatus() == 0 &&
                        SHA256_completeDigest(reinterpret_cast<const uint8_t *>(secret.data()),
                                              static_cast<uint32_t>(secret.size()), digest) == 0;
    if (!sha256) MD5_completeDigest(reinterpret_cast<const uint8_t *>(secret.data()), secret.size(), digest);
    std::memset(secret.data(), 0, secret.size());
    std::printf("group:          %u, %s\n", group, name);
    std::printf("private values: %u and %u bits, from %s\n", VLONG_bitLength(a->privateValue),
                VLONG_bitLength(b->privateValue), source);
    std::printf("A public:       %s\n", HexOf(a->ownPublicValue).c_str());
    std::printf("B public:       %s\n", HexOf(b->ownPublicValue).c_str());
    std::printf("agreement:      %s\n", agreed ? "both parties hold the same secret" : "FAILED: the secrets differ");
    std::printf("%-16s", sha256 ? "secret SHA-256:" : "secret MD5:");
    for (uint32_t i = 0; i < (sha256 ? 32u : 16u); ++i) std::printf("%02x", digest[i]);
    std::printf("\n");
    result = agreed ? kExitOk : kExitFailed;
  }
  DH_freeDhContext(&a, nullptr);
  DH_freeDhContext(&b, nullptr);
  return result;
}

}  // namespace kelctl
