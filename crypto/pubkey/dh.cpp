// Diffie-Hellman contexts: private values, public values and the shared
// secret. Every exponentiation by the private value goes through the
// constant-time path; the private value and the shared secret are wiped
// before their vlongs go back to a queue or the heap.
#include <cstdint>

#include "crypto/pubkey/dh_internal.h"
#include "kel/dh.h"

namespace kel::ffc {

bool known_group(int32_t group);

int32_t random_integer(RngFun fun, void *arg, uint32_t bytes, vlong **out, vlong **queue) {
  if (fun == nullptr || out == nullptr) return kNull;
  kel::mem::WipedBlock buffer(bytes);
  if (buffer.data() == nullptr) return kNoMemory;
  if (int32_t s = fun(arg, bytes, buffer.data()); s != 0) return s;
  kel::bignum::Temp v(queue, true);
  if (int32_t s = VLONG_vlongFromByteString(buffer.data(), static_cast<int32_t>(bytes), v.fresh(), queue); s != 0)
    return s;
  *out = v.release();
  return kOk;
}

namespace {
int32_t draw_from_context(void *rng, uint32_t length, uint8_t *buffer) {
  return RANDOM_numberGenerator(static_cast<RandomContext *>(rng), buffer, length);
}
}  // namespace

int32_t random_integer(RandomContext *rng, uint32_t bytes, vlong **out, vlong **queue) {
  if (rng == nullptr) return kNull;
  return random_integer(draw_from_context, rng, bytes, out, queue);
}

int32_t pow_secret_exponent(const vlong *x, const vlong *e, const vlong *m, vlong **out, vlong **queue) {
  if (x == nullptr || e == nullptr || m == nullptr || out == nullptr) return kNull;
  return bignum::mod_exp(x, e, m, bignum::Exponent::kSecretPublicModulus, out, queue);
}

int32_t mod_nonneg(const vlong *x, const vlong *m, vlong **out, vlong **queue) {
  kel::bignum::Temp r(queue, false);
  if (int32_t s = VLONG_operatorModSignedVlongs(x, m, r.fresh(), queue); s != 0) return s;
  if (r.get()->isNegative != 0 && VLONG_isVlongZero(r.get()) == 0) {
    r.get()->isNegative = 0;  // |x| mod m with x negative: m - (|x| mod m)
    kel::bignum::Temp t(queue, false);
    if (int32_t s = VLONG_makeVlongFromVlong(m, t.fresh(), queue); s != 0) return s;
    if (int32_t s = VLONG_subtractSignedVlongs(t.get(), r.get(), queue); s != 0) return s;
    *out = t.release();
    return kOk;
  }
  r.get()->isNegative = 0;
  *out = r.release();
  return kOk;
}

}  // namespace kel::ffc

namespace {

using kel::ffc::pow_secret_exponent;
using kel::bignum::Temp;
using kel::ffc::kNull;
using kel::ffc::kOk;
using kel::ffc::release_vlong;

// Sets the own public value g^y mod p (constant time in y).
int32_t compute_public(DhContext *ctx, vlong **queue) {
  if (ctx->generator == nullptr || ctx->privateValue == nullptr || ctx->prime == nullptr) return kNull;
  kel::bignum::Temp pub(queue, false);
  if (int32_t s = pow_secret_exponent(ctx->generator, ctx->privateValue, ctx->prime, pub.fresh(), queue); s != 0)
    return s;
  release_vlong(&ctx->ownPublicValue, queue, false);
  ctx->ownPublicValue = pub.release();
  return kOk;
}

// Replaces the private value with `bytes` fresh random bytes.
int32_t draw_private(RandomContext *rng, uint32_t bytes, DhContext *ctx, vlong **queue) {
  kel::bignum::Temp y(queue, true);
  if (int32_t s = kel::ffc::random_integer(rng, bytes, y.fresh(), queue); s != 0) return s;
  release_vlong(&ctx->privateValue, queue, true);
  ctx->privateValue = y.release();
  return kOk;
}

// Allocates a context into *out for the server and client constructors;
// the group is checked first, so an unknown group allocates nothing.
int32_t start_context(RandomContext *rng, DhContext **out, uint32_t group, bool needGroup) {
  if (rng == nullptr || out == nullptr) return kNull;
  if ((needGroup || group != 0) && !kel::ffc::known_group(static_cast<int32_t>(group))) return ERR_DH_UNKNOWN_GROUP;
  return DH_allocate(out);
}

}  // namespace

extern "C" int32_t DH_allocate(DhContext **out) {
  if (out == nullptr) return kNull;
  DhContext *ctx = kel::mem::make<DhContext>();
  if (ctx == nullptr) return ERR_DH_ALLOC;
  *out = ctx;
  return kOk;
}

extern "C" int32_t DH_allocateServer(RandomContext *rng, DhContext **out, uint32_t group) {
  if (int32_t s = start_context(rng, out, group, true); s != 0) return s;
  DhContext *ctx = *out;
  vlong *queue = nullptr;  // temporaries of this call only, emptied on return
  struct Drain {
    vlong **q;
    ~Drain() { VLONG_freeVlongQueue(q); }
  } drain{&queue};
  if (int32_t s = DH_getG(group, &ctx->generator, nullptr); s != 0) return s;
  if (int32_t s = DH_getP(static_cast<int32_t>(group), &ctx->prime); s != 0) return s;
  if (int32_t s = draw_private(rng, DH_PRIVATE_VALUE_BYTES, ctx, &queue); s != 0) return s;
  return compute_public(ctx, &queue);
}

extern "C" int32_t DH_allocateClient(RandomContext *rng, DhContext **out, uint32_t group) {
  if (int32_t s = start_context(rng, out, group, false); s != 0) return s;
  DhContext *ctx = *out;
  if (int32_t s = draw_private(rng, DH_PRIVATE_VALUE_BYTES, ctx, nullptr); s != 0) return s;
  if (group != 0) return DH_getP(static_cast<int32_t>(group), &ctx->prime);
  return kOk;
}

extern "C" int32_t DH_setPG(RandomContext *rng, uint32_t privateBytes, DhContext *ctx, const vlong *p,
                            const vlong *g) {
  if (rng == nullptr || ctx == nullptr || p == nullptr || g == nullptr || privateBytes == 0) return kNull;
  // The constant-time exponentiation needs an odd modulus; say so before
  // anything in the context changes.
  if (VLONG_isVlongZero(p) != 0 || VLONG_isVlongBitSet(p, 0) == 0) return ERR_VLONG_MODULUS;
  vlong *queue = nullptr;
  struct Drain {
    vlong **q;
    ~Drain() { VLONG_freeVlongQueue(q); }
  } drain{&queue};
  kel::bignum::Temp pCopy(nullptr, false), gCopy(nullptr, false);
  if (int32_t s = VLONG_makeVlongFromVlong(p, pCopy.fresh(), nullptr); s != 0) return s;
  if (int32_t s = VLONG_makeVlongFromVlong(g, gCopy.fresh(), nullptr); s != 0) return s;
  release_vlong(&ctx->prime, nullptr, false);
  release_vlong(&ctx->generator, nullptr, false);
  release_vlong(&ctx->ownPublicValue, nullptr, false);
  release_vlong(&ctx->sharedSecret, nullptr, true);  // belonged to the old parameters
  ctx->prime = pCopy.release();
  ctx->generator = gCopy.release();
  if (int32_t s = draw_private(rng, privateBytes, ctx, &queue); s != 0) return s;
  return compute_public(ctx, &queue);
}

extern "C" int32_t DH_computeKeyExchange(DhContext *ctx, vlong **queue) {
  if (ctx == nullptr) return kNull;
  if (ctx->ownPublicValue == nullptr) {
    if (int32_t s = compute_public(ctx, queue); s != 0) return s;
  }
  const vlong *peer = ctx->peerPublicValue;
  if (peer == nullptr || ctx->prime == nullptr) return kNull;
  // 1 and p - 1 pass: the small-subgroup values are the caller's to refuse.
  if (VLONG_isVlongZero(peer) != 0 || peer->isNegative != 0 || VLONG_compareSignedVlongs(peer, ctx->prime) >= 0)
    return ERR_DH_PEER_VALUE;
  // The exponentiation's buffers end up holding the secret: they come from
  // the heap and are wiped on release, not left in the caller's queue.
  kel::bignum::Temp z(nullptr, true);
  if (int32_t s = pow_secret_exponent(peer, ctx->privateValue, ctx->prime, z.fresh(), nullptr); s != 0) return s;
  release_vlong(&ctx->sharedSecret, queue, true);
  ctx->sharedSecret = z.release();
  return kOk;
}

extern "C" int32_t DH_freeDhContext(DhContext **pctx, vlong **queue) {
  if (pctx == nullptr || *pctx == nullptr) return ERR_DH_ALLOC;
  DhContext *ctx = *pctx;
  release_vlong(&ctx->generator, queue, false);
  release_vlong(&ctx->prime, queue, false);
  release_vlong(&ctx->privateValue, queue, true);
  release_vlong(&ctx->ownPublicValue, queue, false);
  release_vlong(&ctx->peerPublicValue, queue, false);
  release_vlong(&ctx->sharedSecret, queue, true);
  kel::mem::destroy(pctx);
  return kOk;
}
