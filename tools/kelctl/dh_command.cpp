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
#include "kelctl/util.h"

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

constexpr char kUsage[] =
    "usage: kelctl dh [--group N] [--private-a HEX --private-b HEX]\n"
    "  N: 1, 2, 5, 14 (default), 15, 16, 17, 18 or 24\n"
    "  --private-a/-b: the two private values in hex (both or neither)\n";

// One party: group parameters and a private value from the given bytes.
int32_t MakeParty(uint32_t group, const Bytes &privateBytes, DhContext **ctx) {
  int32_t st = DH_allocate(ctx);
  if (st == 0) st = DH_getP(static_cast<int32_t>(group), &(*ctx)->prime);
  if (st == 0) st = DH_getG(group, &(*ctx)->generator, nullptr);
  if (st == 0)
    st = VLONG_vlongFromByteString(privateBytes.data(), static_cast<int32_t>(privateBytes.size()),
                                   &(*ctx)->privateValue, nullptr);
  return st;
}

// 48 private bytes for each party: the toolkit's generator behind an open
// gate, the kernel otherwise.
int32_t DrawPrivate(Bytes *a, Bytes *b, const char **source) {
  a->assign(DH_PRIVATE_VALUE_BYTES, 0);
  b->assign(DH_PRIVATE_VALUE_BYTES, 0);
  RandomContext *rng = nullptr;
  if (FIPS_powerupSelfTestStatus() == 0 && RANDOM_acquireContext(&rng) == 0) {
    *source = "the toolkit's CTR-DRBG";
    int32_t st = RANDOM_numberGenerator(rng, a->data(), DH_PRIVATE_VALUE_BYTES);
    if (st == 0) st = RANDOM_numberGenerator(rng, b->data(), DH_PRIVATE_VALUE_BYTES);
    RANDOM_releaseContext(&rng);
    return st;
  }
  *source = "the kernel (the toolkit's generators wait for the power-up self-test)";
  for (Bytes *s : {a, b})
    if (getrandom(s->data(), s->size(), 0) != static_cast<ssize_t>(s->size())) return -17600;
  return 0;
}

}  // namespace

int RunDh(int argc, char **argv) {
  enum { kGroup, kPrivateA, kPrivateB };
  static constexpr Option kOptions[] = {
      {"--group", nullptr, true}, {"--private-a", nullptr, true}, {"--private-b", nullptr, true}};
  long group = 14;
  Bytes privA, privB;
  WipeOnExit wipeA(privA);
  WipeOnExit wipeB(privB);
  bool givenA = false, givenB = false;
  Args args("dh", kUsage, argc, argv, kOptions);
  while (args.Next()) {
    if (args.id == kGroup) {
      if (!args.Number(0, 1000, &group)) return args.exit;
    } else if (args.id == Args::kOperand) {
      return args.Fail("unexpected argument '%s'", args.value);
    } else if (std::strlen(args.value) == 0 || std::strlen(args.value) > 2048 ||
               !ParseHex(args.value, args.id == kPrivateA ? &privA : &privB, true)) {
      return args.Fail("%s wants 1 to 2048 hex digits", kOptions[args.id].name);
    } else {
      (args.id == kPrivateA ? givenA : givenB) = true;
    }
  }
  if (args.exit >= 0) return args.exit;
  if (givenA != givenB) return args.Fail("--private-a and --private-b go together");
  const char *name = nullptr;
  for (const auto &g : kGroupNames)
    if (static_cast<long>(g.number) == group) name = g.text;
  if (name == nullptr) {
    return args.Fail("unknown group %ld (status %d)", group, ERR_DH_UNKNOWN_GROUP);
  }
  const char *source = "the command line";
  if (!givenA) {
    if (int32_t st = DrawPrivate(&privA, &privB, &source); st != 0) {
      std::fprintf(stderr, "kelctl dh: no random private values (status %d)\n", st);
      return kExitFailed;
    }
  }

  DhContext *a = nullptr, *b = nullptr;
  int32_t st = MakeParty(static_cast<uint32_t>(group), privA, &a);
  if (st == 0) st = MakeParty(static_cast<uint32_t>(group), privB, &b);
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
    Bytes secret(static_cast<size_t>(n));
    WipeOnExit wipeSecret(secret);
    VLONG_fixedByteStringFromVlong(a->sharedSecret, secret.data(), n);
    uint8_t digest[32];
    const bool sha256 = FIPS_powerupSelfTestStatus() == 0 &&
                        SHA256_completeDigest(secret.data(), static_cast<uint32_t>(secret.size()), digest) == 0;
    if (!sha256) MD5_completeDigest(secret.data(), secret.size(), digest);
    std::printf("group:          %ld, %s\n", group, name);
    std::printf("private values: %u and %u bits, from %s\n", VLONG_bitLength(a->privateValue),
                VLONG_bitLength(b->privateValue), source);
    std::printf("A public:       %s\n", ToHex(a->ownPublicValue).c_str());
    std::printf("B public:       %s\n", ToHex(b->ownPublicValue).c_str());
    std::printf("agreement:      %s\n", agreed ? "both parties hold the same secret" : "FAILED: the secrets differ");
    std::printf("%-16s%s\n", sha256 ? "secret SHA-256:" : "secret MD5:", ToHex(digest, sha256 ? 32 : 16).c_str());
    result = agreed ? kExitOk : kExitFailed;
  }
  DH_freeDhContext(&a, nullptr);
  DH_freeDhContext(&b, nullptr);
  return result;
}

}  // namespace kelctl
