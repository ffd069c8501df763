// Diffie-Hellman: the group tables against the RFC texts, agreement checked
// with GMP, peer-value checks, bad input, allocation failures and wiping.
#include <cctype>
#include <fstream>
#include <regex>

#include "pubkey_test_util.h"
#include "kel/dh.h"

namespace kel::test::ffc {
namespace {

constexpr int32_t kGroups[] = {1, 2, 5, 14, 15, 16, 17, 18, 24};

// The first hex run after `anchor` in a vector file, blanks removed.
std::string HexAfter(const std::string &file, const std::string &anchor) {
  std::ifstream in(VectorPath("dh/" + file));
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::smatch m;
  EXPECT_TRUE(std::regex_search(text, m, std::regex(anchor + "((?:[ \\t]*[0-9A-Fa-f]{8,}[ 0-9A-Fa-f]*\\r?\\n)+)")))
      << anchor;
  std::string hex;
  for (char c : m[1].str())
    if (!std::isspace(c)) hex += static_cast<char>(std::tolower(c));
  return hex;
}

std::string A3(const std::string &name) { return HexAfter("rfc5114_dh.txt", "\\[A\\.3[\\s\\S]*?\\n" + name + " = "); }

std::string PublishedPrime(int32_t group) {
  if (group == 1 || group == 2) return HexAfter(group == 1 ? "rfc2409_modp768_prime.txt" : "rfc2409_modp1024_prime.txt", "#[^\\n]*\\n");
  if (group == 24) return A3("P");
  const std::map<int32_t, std::string> bits = {{5, "1536"}, {14, "2048"}, {15, "3072"}, {16, "4096"}, {17, "6144"}, {18, "8192"}};
  return HexAfter("rfc3526_modp_groups.txt", bits.at(group) + "-bit MODP Group[\\s\\S]*?hexadecimal value is:\\s*");
}

struct Ctx {
  DhContext *c = nullptr;
  ~Ctx() { DH_freeDhContext(&c, nullptr); }
};

void SetPeer(DhContext *ctx, const vlong *v) {
  VLONG_freeVlong(&ctx->peerPublicValue, nullptr);
  ASSERT_EQ(VLONG_makeVlongFromVlong(v, &ctx->peerPublicValue, nullptr), 0);
}

using Dh = RandomTest;

TEST(DhGroups, TablesMatchThePublishedTexts) {
  for (int32_t group : kGroups) {
    vlong *p = nullptr, *g = nullptr;
    ASSERT_EQ(DH_getP(group, &p), 0) << group;
    ASSERT_EQ(DH_getG(static_cast<uint32_t>(group), &g, nullptr), 0);
    V pHeld(p), gHeld(g);
    EXPECT_EQ(Str(p), PublishedPrime(group)) << "group " << group;
    EXPECT_EQ(Str(g), group == 24 ? A3("G") : "2") << group;
  }
  for (int32_t bad : {0, 3, 4, 6, 13, 19, 23, 25, -14}) {
    vlong *p = nullptr;
    EXPECT_EQ(DH_getP(bad, &p), -9001) << bad;
    EXPECT_EQ(p, nullptr);
  }
  EXPECT_EQ(DH_getP(14, nullptr), -6001);
  EXPECT_EQ(DH_getG(14, nullptr, nullptr), -6001);
}

TEST_F(Dh, BothSidesAgreeInEveryGroupAndWithGmp) {
  for (int32_t group : kGroups) {
    SCOPED_TRACE(group);
    kel::cpu::restrict_to(group % 2 ? 0u : ~0u);  // portable kernels for the odd group numbers
    Ctx a, b;
    ASSERT_EQ(DH_allocateServer(rng_, &a.c, static_cast<uint32_t>(group)), 0);
    ASSERT_EQ(DH_allocateServer(rng_, &b.c, static_cast<uint32_t>(group)), 0);
    EXPECT_GT(VLONG_bitLength(a.c->privateValue), 360u);
    EXPECT_LE(VLONG_bitLength(a.c->privateValue), 384u);
    SetPeer(a.c, b.c->ownPublicValue);
    SetPeer(b.c, a.c->ownPublicValue);
    vlong *queue = nullptr;
    ASSERT_EQ(DH_computeKeyExchange(a.c, &queue), 0);
    ASSERT_EQ(DH_computeKeyExchange(b.c, nullptr), 0);
    VLONG_freeVlongQueue(&queue);
    Mpz p, g, x, y, pub, z;
    ToMpz(p, a.c->prime), ToMpz(g, a.c->generator), ToMpz(x, a.c->privateValue), ToMpz(y, b.c->privateValue);
    mpz_powm(pub, g, x, p);
    EXPECT_EQ(Str(a.c->ownPublicValue), pub.Hex());
    mpz_powm(pub, g, y, p);
    mpz_powm(z, pub, x, p);
    EXPECT_EQ(Str(a.c->sharedSecret), z.Hex());
    EXPECT_EQ(Str(b.c->sharedSecret), z.Hex());
  }
}

TEST_F(Dh, SetPgAndClientContexts) {
  Ctx server, other, client, bare;
  ASSERT_EQ(DH_allocateServer(rng_, &server.c, 2), 0);
  ASSERT_EQ(DH_allocate(&other.c), 0);
  ASSERT_EQ(DH_setPG(rng_, 20, other.c, server.c->prime, server.c->generator), 0);
  EXPECT_LE(VLONG_bitLength(other.c->privateValue), 160u);
  SetPeer(server.c, other.c->ownPublicValue);
  SetPeer(other.c, server.c->ownPublicValue);
  ASSERT_EQ(DH_computeKeyExchange(server.c, nullptr), 0);
  ASSERT_EQ(DH_computeKeyExchange(other.c, nullptr), 0);
  EXPECT_EQ(Str(server.c->sharedSecret), Str(other.c->sharedSecret));

  ASSERT_EQ(DH_allocateClient(rng_, &client.c, 14), 0);
  EXPECT_TRUE(client.c->prime && client.c->privateValue && !client.c->generator && !client.c->ownPublicValue);
  SetPeer(client.c, server.c->ownPublicValue);
  EXPECT_EQ(DH_computeKeyExchange(client.c, nullptr), -6001);  // no g yet
  ASSERT_EQ(DH_allocateClient(rng_, &bare.c, 0), 0);
  EXPECT_EQ(bare.c->prime, nullptr);
}

TEST_F(Dh, PeerValueChecks) {
  Ctx c;
  ASSERT_EQ(DH_allocateServer(rng_, &c.c, 1), 0);
  const std::string p = Str(c.c->prime), pMinus1 = p.substr(0, p.size() - 2) + "fe";
  SetPeer(c.c, VHex("01").get());
  ASSERT_EQ(DH_computeKeyExchange(c.c, nullptr), 0);
  EXPECT_EQ(Str(c.c->sharedSecret), "1");
  SetPeer(c.c, VHex(pMinus1).get());
  ASSERT_EQ(DH_computeKeyExchange(c.c, nullptr), 0);
  EXPECT_TRUE(Str(c.c->sharedSecret) == "1" || Str(c.c->sharedSecret) == pMinus1);
  VLONG_freeVlong(&c.c->sharedSecret, nullptr);
  V negative = VHex("02");
  negative->isNegative = 1;
  for (const std::string &bad : {std::string(""), p, "01" + std::string(p.size(), '0'), std::string("-2")}) {
    SetPeer(c.c, bad == "-2" ? negative.get() : VHex(bad).get());
    EXPECT_EQ(DH_computeKeyExchange(c.c, nullptr), -7000) << bad;
    EXPECT_EQ(c.c->sharedSecret, nullptr);
  }
  VLONG_freeVlong(&c.c->peerPublicValue, nullptr);
  EXPECT_EQ(DH_computeKeyExchange(c.c, nullptr), -6001);
}

// Not behind the gate (but the generator is); null arguments and unknown groups; every allocation
// of a server's set-up may fail, leaving a context the caller frees.
TEST_F(Dh, BadInputUngatedAndAllocationFailures) {
  gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
  DhContext *c = nullptr;
  ASSERT_EQ(DH_allocate(&c), 0);
  EXPECT_EQ(DH_getP(2, &c->prime), 0);
  EXPECT_EQ(DH_freeDhContext(&c, nullptr), 0);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(DH_freeDhContext(&c, nullptr), -6101);
  EXPECT_EQ(DH_allocateServer(rng_, &c, 2), ERR_FIPS_SELFTEST_NOT_RUN) << "the generator's refusal, passed on";
  EXPECT_EQ(DH_freeDhContext(&c, nullptr), 0);
  gFIPS_powerupStatus = 0;
  Ctx e;
  ASSERT_EQ(DH_allocate(&e.c), 0);
  V p = VHex(PublishedPrime(1)), even = VHex("1000");
  for (auto [got, want] : {std::pair{DH_allocate(nullptr), -6001}, {DH_freeDhContext(nullptr, nullptr), -6101},
                           {DH_allocateServer(nullptr, &c, 2), -6001}, {DH_allocateServer(rng_, &c, 3), -9001},
                           {DH_allocateClient(rng_, &c, 19), -9001}, {DH_computeKeyExchange(nullptr, nullptr), -6001},
                           {DH_computeKeyExchange(e.c, nullptr), -6001},
                           {DH_setPG(rng_, 20, e.c, even.get(), p.get()), -6004},
                           {DH_setPG(rng_, 0, e.c, p.get(), p.get()), -6001}})
    EXPECT_EQ(got, want);
  EXPECT_TRUE(c == nullptr && e.c->prime == nullptr);
  EXPECT_GT(FailAllocationsInTurn([&] {
              const int32_t s = DH_allocateServer(rng_, &c, 1);
              DH_freeDhContext(&c, nullptr);
              return s;
            }), 5);
}

TEST_F(Dh, SecretsAreWipedOnTheWayToTheQueue) {
  Ctx c;
  ASSERT_EQ(DH_allocateServer(rng_, &c.c, 2), 0);
  SetPeer(c.c, c.c->ownPublicValue);
  ASSERT_EQ(DH_computeKeyExchange(c.c, nullptr), 0);
  const uint32_t secrets[] = {c.c->privateValue->units[0], c.c->sharedSecret->units[0]};
  vlong *queue = nullptr;
  ASSERT_EQ(DH_freeDhContext(&c.c, &queue), 0);
  int queued = 0;
  for (vlong *v = queue; v != nullptr; v = v->queueNext, ++queued)
    for (uint32_t i = 0; i < v->capacity; ++i)
      for (uint32_t u : secrets) EXPECT_NE(v->units[i], u);
  EXPECT_EQ(queued, 6);
  VLONG_freeVlongQueue(&queue);
}

}  // namespace
}  // namespace kel::test::ffc
