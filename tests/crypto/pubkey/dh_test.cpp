// Diffie-Hellman: the group tables against the RFC texts, agreement in every
// group, the RFC 5114 key pairs, OpenSSL as a second opinion, the peer-value
// checks, bad input, allocation failures and wiping.
#include <openssl/bn.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "crypto/common/alloc.h"
#include "dh_test_util.h"
#include "kel/dh.h"

namespace kel::test {
namespace {

constexpr int32_t kGroups[] = {1, 2, 5, 14, 15, 16, 17, 18, 24};

std::string ReadText(const std::string &relative) {
  std::ifstream in(VectorPath(relative));
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Strip(std::string s) {
  s.erase(std::remove_if(s.begin(), s.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)); }),
          s.end());
  for (auto &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// "Name = hex" of the RFC 5114 section A.3 record.
std::string Rfc5114A3(const std::string &name) {
  const std::string text = ReadText("dh/rfc5114_dh.txt");
  const std::string a3 = text.substr(text.find("[A.3"));
  std::smatch m;
  EXPECT_TRUE(std::regex_search(a3, m, std::regex("\n" + name + " = ([0-9A-Fa-f]+)"))) << name;
  return m[1];
}

// The prime of a group as the RFC prints it.
std::string PublishedPrime(int32_t group) {
  if (group == 1 || group == 2) {
    std::istringstream in(ReadText(group == 1 ? "dh/rfc2409_modp768_prime.txt" : "dh/rfc2409_modp1024_prime.txt"));
    std::string comment, hex;
    std::getline(in, comment);
    std::getline(in, hex);
    return Strip(hex);
  }
  if (group == 24) return Strip(Rfc5114A3("P"));
  const std::map<int32_t, std::string> bits = {{5, "1536"}, {14, "2048"}, {15, "3072"},
                                               {16, "4096"}, {17, "6144"}, {18, "8192"}};
  const std::string text = ReadText("dh/rfc3526_modp_groups.txt");
  std::smatch m;
  EXPECT_TRUE(std::regex_search(text, m,
                                std::regex(bits.at(group) + "-bit MODP Group[\\s\\S]*?hexadecimal value is:\\s*\\n"
                                                            "((?:\\s+[0-9A-F ]+\\n)+)")));
  return Strip(m[1]);
}

struct Ctx {
  DhContext *c = nullptr;
  ~Ctx() {
    if (c) DH_freeDhContext(&c, nullptr);
  }
};

// A copy of v handed to ctx as its peer value.
void SetPeer(DhContext *ctx, const vlong *v) {
  if (ctx->peerPublicValue) VLONG_freeVlong(&ctx->peerPublicValue, nullptr);
  ASSERT_EQ(VLONG_makeVlongFromVlong(v, &ctx->peerPublicValue, nullptr), 0);
}

using Dh = FfcTest;

TEST(DhGroups, TablesMatchThePublishedTexts) {
  for (int32_t group : kGroups) {
    vlong *p = nullptr;
    ASSERT_EQ(DH_getP(group, &p), 0) << group;
    V held(p);
    const std::string want = PublishedPrime(group);
    EXPECT_EQ(Hex(p), want) << "group " << group;
    EXPECT_EQ(VLONG_bitLength(p), want.size() * 4) << group;
    vlong *g = nullptr;
    ASSERT_EQ(DH_getG(static_cast<uint32_t>(group), &g, nullptr), 0);
    V gHeld(g);
    EXPECT_EQ(Hex(g), group == 24 ? Strip(Rfc5114A3("G")) : "02") << group;
  }
  vlong *g = nullptr;
  ASSERT_EQ(DH_getG(24, &g, nullptr), 0);
  EXPECT_EQ(VLONG_bitLength(V(g).get()), 2046u);
  for (int32_t bad : {0, 3, 4, 6, 13, 19, 23, 25, -14}) {
    vlong *p = nullptr;
    EXPECT_EQ(DH_getP(bad, &p), -9001) << bad;
    EXPECT_EQ(p, nullptr);
  }
  for (uint32_t other : {0u, 3u, 19u, 1000u}) {
    ASSERT_EQ(DH_getG(other, &g, nullptr), 0);
    EXPECT_EQ(Hex(V(g).get()), "02");
  }
  EXPECT_EQ(DH_getP(14, nullptr), -6001);
  EXPECT_EQ(DH_getG(14, nullptr, nullptr), -6001);
}

// Two servers in each group reach the same secret, which OpenSSL computes
// too from the same private values.
TEST_F(Dh, BothSidesAgreeInEveryGroupAndWithOpenSsl) {
  BN_CTX *bn = BN_CTX_new();
  for (int32_t group : kGroups) {
    SCOPED_TRACE(group);
    Ctx a, b;
    ASSERT_EQ(DH_allocateServer(rng_, &a.c, static_cast<uint32_t>(group)), 0);
    ASSERT_EQ(DH_allocateServer(rng_, &b.c, static_cast<uint32_t>(group)), 0);
    EXPECT_LE(VLONG_bitLength(a.c->privateValue), 384u);
    EXPECT_GT(VLONG_bitLength(a.c->privateValue), 360u);
    SetPeer(a.c, b.c->ownPublicValue);
    SetPeer(b.c, a.c->ownPublicValue);
    vlong *queue = nullptr;
    ASSERT_EQ(DH_computeKeyExchange(a.c, &queue), 0);
    ASSERT_EQ(DH_computeKeyExchange(b.c, nullptr), 0);
    EXPECT_EQ(Hex(a.c->sharedSecret), Hex(b.c->sharedSecret));
    VLONG_freeVlongQueue(&queue);

    Bn p = ToBn(a.c->prime), g = ToBn(a.c->generator), x = ToBn(a.c->privateValue), y = ToBn(b.c->privateValue);
    Bn pub(BN_new()), z(BN_new());
    ASSERT_TRUE(BN_mod_exp(pub.get(), g.get(), x.get(), p.get(), bn));
    EXPECT_EQ(Hex(a.c->ownPublicValue), Hex(FromBn(pub.get()).get()));
    ASSERT_TRUE(BN_mod_exp(pub.get(), g.get(), y.get(), p.get(), bn));
    ASSERT_TRUE(BN_mod_exp(z.get(), pub.get(), x.get(), p.get(), bn));
    EXPECT_EQ(Hex(a.c->sharedSecret), Hex(FromBn(z.get()).get()));
  }
  BN_CTX_free(bn);
}

TEST_F(Dh, Rfc5114KeyPairsInGroup24) {
  Ctx c;
  ASSERT_EQ(DH_allocate(&c.c), 0);
  ASSERT_EQ(DH_getP(24, &c.c->prime), 0);
  ASSERT_EQ(DH_getG(24, &c.c->generator, nullptr), 0);
  c.c->privateValue = VHex(Rfc5114A3("XstatIUT")).release();
  SetPeer(c.c, VHex(Rfc5114A3("YstatCAVS")).get());
  ASSERT_EQ(DH_computeKeyExchange(c.c, nullptr), 0);
  EXPECT_EQ(Hex(c.c->ownPublicValue), Strip(Rfc5114A3("YstatIUT")));
  EXPECT_EQ(Hex(c.c->sharedSecret), Strip(Rfc5114A3("Z")));
}

// A server in group 2 and a context given the server's p and g with a
// 20-byte private value; then a client that has p but no g.
TEST_F(Dh, SetPgAndClientContexts) {
  Ctx server, other, client;
  ASSERT_EQ(DH_allocateServer(rng_, &server.c, 2), 0);
  ASSERT_EQ(DH_allocate(&other.c), 0);
  ASSERT_EQ(DH_setPG(rng_, 20, other.c, server.c->prime, server.c->generator), 0);
  EXPECT_LE(VLONG_bitLength(other.c->privateValue), 160u);
  EXPECT_NE(other.c->prime, server.c->prime);  // copies
  SetPeer(server.c, other.c->ownPublicValue);
  SetPeer(other.c, server.c->ownPublicValue);
  ASSERT_EQ(DH_computeKeyExchange(server.c, nullptr), 0);
  ASSERT_EQ(DH_computeKeyExchange(other.c, nullptr), 0);
  EXPECT_EQ(Hex(server.c->sharedSecret), Hex(other.c->sharedSecret));

  ASSERT_EQ(DH_allocateClient(rng_, &client.c, 14), 0);
  EXPECT_NE(client.c->prime, nullptr);
  EXPECT_NE(client.c->privateValue, nullptr);
  EXPECT_EQ(client.c->generator, nullptr);
  EXPECT_EQ(client.c->ownPublicValue, nullptr);
  SetPeer(client.c, server.c->ownPublicValue);
  EXPECT_EQ(DH_computeKeyExchange(client.c, nullptr), -6001);  // no g yet
  Ctx bare;
  ASSERT_EQ(DH_allocateClient(rng_, &bare.c, 0), 0);
  EXPECT_EQ(bare.c->prime, nullptr);
  EXPECT_EQ(DH_allocateClient(rng_, &bare.c, 19), -9001);
}

// Peer values: 1 and p - 1 pass (1 gives the secret 1); 0, p, p + 1 and
// negative values are refused with -7000 and leave no secret.
TEST_F(Dh, PeerValueChecks) {
  Ctx c;
  ASSERT_EQ(DH_allocateServer(rng_, &c.c, 1), 0);
  V pMinus1(nullptr), p(nullptr), pPlus1(nullptr), one(nullptr), zero(nullptr), minusTwo(nullptr);
  vlong *t = nullptr;
  ASSERT_EQ(VLONG_makeVlongFromVlong(c.c->prime, &t, nullptr), 0);
  p.reset(t);
  ASSERT_EQ(VLONG_makeVlongFromVlong(c.c->prime, &t, nullptr), 0);
  ASSERT_EQ(VLONG_decrement(t, nullptr), 0);
  pMinus1.reset(t);
  ASSERT_EQ(VLONG_makeVlongFromVlong(c.c->prime, &t, nullptr), 0);
  ASSERT_EQ(VLONG_increment(t, nullptr), 0);
  pPlus1.reset(t);
  ASSERT_EQ(VLONG_makeVlongFromUnsignedValue(1, &t, nullptr), 0);
  one.reset(t);
  ASSERT_EQ(VLONG_makeVlongFromUnsignedValue(0, &t, nullptr), 0);
  zero.reset(t);
  ASSERT_EQ(VLONG_makeVlongFromUnsignedValue(2, &t, nullptr), 0);
  t->isNegative = 1;
  minusTwo.reset(t);

  SetPeer(c.c, one.get());
  ASSERT_EQ(DH_computeKeyExchange(c.c, nullptr), 0);
  EXPECT_EQ(Hex(c.c->sharedSecret), "01");
  SetPeer(c.c, pMinus1.get());
  ASSERT_EQ(DH_computeKeyExchange(c.c, nullptr), 0);
  const std::string s = Hex(c.c->sharedSecret);  // (p-1)^y is 1 or p - 1
  EXPECT_TRUE(s == "01" || s == Hex(pMinus1.get())) << s;
  VLONG_freeVlong(&c.c->sharedSecret, nullptr);
  for (const vlong *bad : {zero.get(), p.get(), pPlus1.get(), minusTwo.get()}) {
    SetPeer(c.c, bad);
    EXPECT_EQ(DH_computeKeyExchange(c.c, nullptr), -7000) << Hex(bad);
    EXPECT_EQ(c.c->sharedSecret, nullptr);
  }
  VLONG_freeVlong(&c.c->peerPublicValue, nullptr);
  EXPECT_EQ(DH_computeKeyExchange(c.c, nullptr), -6001);
}

// Not behind the gate; null arguments; allocation failures anywhere in a
// server's set-up leave a context the caller can free (ASan checks leaks).
TEST_F(Dh, BadInputUngatedAndAllocationFailures) {
  gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
  DhContext *c = nullptr;
  EXPECT_EQ(DH_allocate(&c), 0);
  EXPECT_EQ(DH_getP(2, &c->prime), 0);
  EXPECT_EQ(DH_getG(2, &c->generator, nullptr), 0);
  EXPECT_EQ(DH_freeDhContext(&c, nullptr), 0);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(DH_freeDhContext(&c, nullptr), -6101);
  EXPECT_EQ(DH_freeDhContext(nullptr, nullptr), -6101);
  gFIPS_powerupStatus = 0;

  EXPECT_EQ(DH_allocate(nullptr), -6001);
  EXPECT_EQ(DH_allocateServer(nullptr, &c, 2), -6001);
  EXPECT_EQ(DH_allocateServer(rng_, nullptr, 2), -6001);
  EXPECT_EQ(DH_allocateServer(rng_, &c, 3), -9001);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(DH_computeKeyExchange(nullptr, nullptr), -6001);
  ASSERT_EQ(DH_allocate(&c), 0);
  EXPECT_EQ(DH_computeKeyExchange(c, nullptr), -6001);  // nothing set
  vlong *p = nullptr, *even = nullptr;
  ASSERT_EQ(DH_getP(1, &p), 0);
  ASSERT_EQ(VLONG_makeVlongFromUnsignedValue(1000, &even, nullptr), 0);
  EXPECT_EQ(DH_setPG(rng_, 20, c, even, p), -6004);
  EXPECT_EQ(DH_setPG(rng_, 0, c, p, p), -6001);
  EXPECT_EQ(DH_setPG(rng_, 20, nullptr, p, p), -6001);
  EXPECT_EQ(DH_setPG(rng_, 20, c, p, nullptr), -6001);
  EXPECT_EQ(c->prime, nullptr);
  VLONG_freeVlong(&p, nullptr);
  VLONG_freeVlong(&even, nullptr);
  DH_freeDhContext(&c, nullptr);

  int failures = 0;
  for (int64_t n = 0; n < 400; ++n) {
    kel::mem::fail_after(n);
    const int32_t s = DH_allocateServer(rng_, &c, 1);
    kel::mem::fail_after(-1);
    if (c != nullptr) DH_freeDhContext(&c, nullptr);
    if (s == 0) break;
    EXPECT_EQ(s, -6101) << "allocation " << n;
    ++failures;
  }
  EXPECT_GT(failures, 5);
  EXPECT_LT(failures, 400);
}

// The private value and the shared secret do not survive in the vlongs a
// freed context hands back to a queue.
TEST_F(Dh, SecretsAreWipedOnTheWayToTheQueue) {
  Ctx c;
  ASSERT_EQ(DH_allocateServer(rng_, &c.c, 2), 0);
  SetPeer(c.c, c.c->ownPublicValue);
  ASSERT_EQ(DH_computeKeyExchange(c.c, nullptr), 0);
  const std::string secrets[] = {Hex(c.c->privateValue), Hex(c.c->sharedSecret)};
  const uint32_t firstUnits[] = {c.c->privateValue->units[0], c.c->sharedSecret->units[0]};
  vlong *queue = nullptr;
  ASSERT_EQ(DH_freeDhContext(&c.c, &queue), 0);
  int queued = 0;
  for (vlong *v = queue; v != nullptr; v = v->queueNext, ++queued) {
    for (const auto &s : secrets) EXPECT_NE(Hex(v), s);
    for (uint32_t i = 0; i < v->capacity; ++i)
      for (uint32_t u : firstUnits) EXPECT_NE(v->units[i], u);
  }
  EXPECT_EQ(queued, 6);
  VLONG_freeVlongQueue(&queue);
}

}  // namespace
}  // namespace kel::test
