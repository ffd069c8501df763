// AES-GCM (SP 800-38D) with a constant-time GHASH by integer multiplication
// (ghash_ct.cpp) as the portable path and the carry-less multiplication paths
// where the processor has them. The keystream is counter mode with a 32-bit increment.
#include "crypto/cipher/gcm_internal.h"
#include "crypto/cipher/internal.h"
#include "crypto/fips/gate.h"
#include "kel/gcm.h"
#include "kel/vor.h"

namespace kel::gcm {
namespace {

// One step of the table build: V * x in GCM's reflected bit order.
void mul_x(uint32_t out[4], const uint32_t in[4]) {
  const uint32_t carry = in[3] & 1;
  out[3] = in[3] >> 1 | in[2] << 31;
  out[2] = in[2] >> 1 | in[1] << 31;
  out[1] = in[1] >> 1 | in[0] << 31;
  out[0] = (in[0] >> 1) ^ (0xE1000000u & (0u - carry));
}

void build_table(GcmContext &c, const uint8_t H[16]) {
  for (int w = 0; w < 4; ++w) c.table[8][w] = load_be32(H + 4 * w);
  mul_x(c.table[4], c.table[8]);
  mul_x(c.table[2], c.table[4]);
  mul_x(c.table[1], c.table[2]);
  for (int i = 3; i < 16; ++i) {
    if ((i & (i - 1)) == 0) continue;  // powers of two are done
    const int low = i & -i;
    for (int w = 0; w < 4; ++w) c.table[i][w] = c.table[low][w] ^ c.table[i ^ low][w];
  }
}

GcmState *state_of(BulkCtx ctx) { return static_cast<GcmState *>(ctx); }

// Absorbs bytes of ciphertext, topping up and emptying `pending` first.
void absorb(GcmState &s, const uint8_t *data, size_t len) {
  GcmContext &c = s.pub;
  if (c.pendingCount != 0) {
    const size_t take = std::min<size_t>(16 - c.pendingCount, len);
    std::memcpy(c.pending + c.pendingCount, data, take);
    c.pendingCount += static_cast<uint32_t>(take);
    data += take;
    len -= take;
    if (c.pendingCount < 16) return;
    ghash_blocks(s, c.ghashState, c.pending, 1);
    c.pendingCount = 0;
  }
  const size_t whole = len / 16;
  ghash_blocks(s, c.ghashState, data, whole);
  data += 16 * whole;
  len -= 16 * whole;
  std::memcpy(c.pending, data, len);
  c.pendingCount = static_cast<uint32_t>(len);
}

// GHASH over a byte string zero-padded to whole blocks.
void ghash_padded(GcmState &s, uint32_t X[4], const uint8_t *data, size_t len) {
  const size_t whole = len / 16;
  ghash_blocks(s, X, data, whole);
  if (len % 16 != 0) {
    uint8_t b[16] = {};
    std::memcpy(b, data + 16 * whole, len % 16);
    ghash_blocks(s, X, b, 1);
  }
}

void length_block(uint8_t b[16], uint32_t aadBytes, uint32_t textBytes) {
  store_be32(b, aadBytes >> 29);
  store_be32(b + 4, aadBytes << 3);
  store_be32(b + 8, textBytes >> 29);
  store_be32(b + 12, textBytes << 3);
}

// Counter-mode pass with the 32-bit increment, carrying the keystream offset.
void ctr(GcmContext &c, uint8_t *data, uint32_t len) { aes::ctr_stream(c.ctr, data, len, 4); }

bool approved_tag_length(uint32_t n) { return n == 4 || n == 8 || (n >= 12 && n <= 16); }

// The length block counts the text in 32 bits of bytes, so one message
// holds at most 2^32 - 1 bytes. That is also 2^28 blocks at most: the 32-bit
// block counter, which starts at J0 + 1, can never come round to J0 again
// and reuse keystream within a message.
bool fits(const GcmContext &c, uint32_t length) { return length <= 0xFFFFFFFFu - c.textLength; }
static_assert((0xFFFFFFFFull + 15) / 16 < (1ull << 32) - 1);

// Text goes through in pieces that stay in the first-level cache between the
// counter pass and the GHASH pass.
constexpr uint32_t kChunk = 4096;

// Steps the 32-bit counter by n blocks in one word-wide add (it wraps as
// the increment does).
void advance(uint8_t counter[16], uint32_t n) { store_be32(counter + 12, load_be32(counter + 12) + n); }

// The carry-less paths' powers of H, computed on first use on such a path.
void ensure_powers(GcmState &s, const cipher::Kernels &k) {
  if (!s.powersReady) cipher::kernel(k.ghashPowers)(s);
}

}  // namespace

void ghash_blocks(GcmState &s, uint32_t X[4], const uint8_t *data, size_t n) {
  if (n == 0) return;
  const cipher::Kernels &k = cipher::kernels();
  if (const auto ghash = cipher::kernel(k.ghash)) {
    ensure_powers(s, k);
    if (n >= 16) {
      if (const auto wide = cipher::kernel(k.ghashWide)) {
        const size_t run = n & ~size_t{15};
        wide(s.hrev, X, data, run);
        data += 16 * run;
        n -= run;
      }
    }
    if (n != 0) ghash(s.hpow, X, data, n);
    return;
  }
  portable::ghash(s.pub.table[8], X, data, n);
}

}  // namespace kel::gcm

using kel::gcm::GcmState;

BulkCtx GCM_createCtx_256b(const uint8_t *key, uint32_t keyLength, int32_t) {
  if (kel::fips::gate() != 0 || key == nullptr || keyLength > 32) return nullptr;
  auto *p = kel::mem::make<GcmState>();
  if (p == nullptr) return nullptr;
  auto &c = p->pub;
  if (kel::aes::set_key(c.ctr.aes, static_cast<int32_t>(keyLength * 8), key, 1, MODE_ECB) != 0) {
    kel::mem::destroy(&p);
    return nullptr;
  }
  kel::mem::Wiped<uint8_t[16]> H;
  std::memset(H, 0, 16);
  aesEncrypt(c.ctr.aes.roundKeys, c.ctr.aes.rounds, H, H);
  kel::gcm::build_table(c, H);
  for (int i = 0; i < 60; ++i) kel::store_be32(p->aesKeys[i / 4] + 4 * (i % 4), c.ctr.aes.roundKeys[i]);
  const kel::cipher::Kernels &k = kel::cipher::kernels();
  if (const auto powers = kel::cipher::kernel(k.ghashPowers)) powers(*p);
  return p;
}

int32_t GCM_deleteCtx_256b(BulkCtx *ctx) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  kel::mem::destroy<GcmState>(ctx);
  return 0;
}

namespace kel::gcm {
namespace {

// SP 800-38D 7.1 steps 2 to 4 up to the text: J0, the tag mask E(K, J0),
// the counter at J0 + 1 and the additional data absorbed.
void start(GcmState &s, const uint8_t *nonce, uint32_t nonceLength, const uint8_t *aad, uint32_t aadLength) {
  GcmContext &c = s.pub;
  c.aadLength = aadLength;
  c.textLength = 0;
  c.pendingCount = 0;
  std::memset(c.ghashState, 0, sizeof c.ghashState);
  if (nonceLength == 12) {
    // Two word-wide stores: a kernel that reads J0 in two halves takes each
    // straight from the store buffer.
    store_le64(c.ctr.counterBlock, load_le64(nonce));
    store_be64(c.ctr.counterBlock + 8, uint64_t{load_be32(nonce + 8)} << 32 | 1);
  } else {
    uint32_t X[4] = {};
    uint8_t b[16];
    ghash_padded(s, X, nonce, nonceLength);
    length_block(b, 0, nonceLength);
    ghash_blocks(s, X, b, 1);
    for (int w = 0; w < 4; ++w) store_be32(c.ctr.counterBlock + 4 * w, X[w]);
  }
  // No keystream is left over: one block of counter mode; on the AES-NI
  // path the next few blocks' keystream beside it.
  if (const auto pre = cipher::kernel(cipher::kernels().gcmStart)) {
    pre(s.aesKeys, c.ctr.aes.rounds, c.ctr.counterBlock, c.tagMask, s.keystream);
    s.ksAvail = kPrecomputed;
  } else {
    aesEncrypt(c.ctr.aes.roundKeys, c.ctr.aes.rounds, c.ctr.counterBlock, c.tagMask);
    s.ksAvail = 0;
  }
  advance(c.ctr.counterBlock, 1);
  c.ctr.keystreamOffset = 0;
  ghash_padded(s, c.ghashState, aad, aadLength);
}

// A piece that starts on a block boundary (no keystream or GHASH input left
// over) on the AES-NI path: first the keystream computed beside the tag mask
// (a short message needs no other AES pass), then whole blocks through the
// stitched kernels, the wide one for runs of 16 blocks. Returns the bytes
// done; the rest takes the general path.
uint32_t stitched(GcmState &s, uint8_t *data, uint32_t length, bool encrypt) {
  GcmContext &c = s.pub;
  uint32_t avail = s.ksAvail;  // kept only while the blocks stay in step with the counter
  s.ksAvail = 0;
  if (c.ctr.keystreamOffset != 0 || c.pendingCount != 0) return 0;
  const cipher::Kernels &k = cipher::kernels();
  const auto text = cipher::kernel(k.gcmText);
  if (text == nullptr) return 0;
  ensure_powers(s, k);
  uint32_t done = std::min(avail, length / 16) * 16;
  if (done != 0) {
    const uint8_t(*ks)[16] = s.keystream + (kPrecomputed - avail);
    if (!encrypt) ghash_blocks(s, c.ghashState, data, done / 16);
    for (uint32_t i = 0; i < done / 16; ++i) cipher::xor16(data + 16 * i, data + 16 * i, ks[i]);
    advance(c.ctr.counterBlock, done / 16);
    if (encrypt) ghash_blocks(s, c.ghashState, data, done / 16);
    avail -= done / 16;
  }
  uint32_t whole = (length - done) / 16;
  if (whole != 0) {
    const auto wide = cipher::kernel(k.gcmTextWide);
    if (wide != nullptr && whole >= 16) {
      const uint32_t run = whole & ~15u;
      wide(s.aesKeys, c.ctr.aes.rounds, s.hrev, c.ghashState, c.ctr.counterBlock, data + done, data + done, run,
           encrypt);
      done += 16 * run;
      whole -= run;
    }
    if (whole != 0) {
      text(s.aesKeys, c.ctr.aes.rounds, s.hpow, c.ghashState, c.ctr.counterBlock, data + done, data + done, whole,
           encrypt);
      done += 16 * whole;
    }
  } else if (done < length && avail != 0) {
    // The last partial block from the precomputed keystream, left in the
    // counter context as the general path leaves it.
    uint8_t *p = data + done;
    const uint32_t rem = length - done;
    std::memcpy(c.ctr.keystream, s.keystream[kPrecomputed - avail], 16);
    advance(c.ctr.counterBlock, 1);
    c.ctr.keystreamOffset = static_cast<uint8_t>(rem);
    if (!encrypt) absorb(s, p, rem);
    cipher::xor_bytes(p, c.ctr.keystream, rem);
    if (encrypt) absorb(s, p, rem);
    done = length;
  } else {
    s.ksAvail = avail;
  }
  c.textLength += done;
  return done;
}

void encrypt_text(GcmState &s, uint8_t *data, uint32_t length) {
  for (uint32_t done = stitched(s, data, length, true); done < length;) {
    const uint32_t piece = std::min(length - done, kChunk);
    ctr(s.pub, data + done, piece);
    s.pub.textLength += piece;
    absorb(s, data + done, piece);
    done += piece;
  }
}

void decrypt_text(GcmState &s, uint8_t *data, uint32_t length) {
  for (uint32_t done = stitched(s, data, length, false); done < length;) {
    const uint32_t piece = std::min(length - done, kChunk);
    s.pub.textLength += piece;
    absorb(s, data + done, piece);
    ctr(s.pub, data + done, piece);
    done += piece;
  }
}

void finish(GcmState &s, uint8_t tag[16]) {
  GcmContext &c = s.pub;
  if (c.pendingCount != 0) {
    std::memset(c.pending + c.pendingCount, 0, 16 - c.pendingCount);
    ghash_blocks(s, c.ghashState, c.pending, 1);
    c.pendingCount = 0;
  }
  mem::Wiped<uint8_t[16]> b;
  length_block(b, c.aadLength, c.textLength);
  ghash_blocks(s, c.ghashState, b, 1);
  for (int w = 0; w < 4; ++w) store_be32(b + 4 * w, c.ghashState[w]);
  cipher::xor16(c.tagMask, c.tagMask, b);
  std::memcpy(tag, c.tagMask, 16);
}

int32_t check_start(BulkCtx ctx, const uint8_t *nonce, uint32_t nonceLength, const uint8_t *aad,
                    uint32_t aadLength) {
  if (ctx == nullptr || nonce == nullptr || (aad == nullptr && aadLength != 0)) return ERR_NULL_POINTER;
  if (nonceLength == 0) return ERR_INVALID_ARG;
  return 0;
}

int32_t check_text(BulkCtx ctx, const uint8_t *data, uint32_t length) {
  if (ctx == nullptr || data == nullptr) return ERR_NULL_POINTER;
  if (!fits(state_of(ctx)->pub, length)) return ERR_INVALID_ARG;
  return 0;
}

}  // namespace
}  // namespace kel::gcm

int32_t GCM_init_256b(BulkCtx ctx, const uint8_t *nonce, uint32_t nonceLength, const uint8_t *aad,
                      uint32_t aadLength) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (int32_t s = kel::gcm::check_start(ctx, nonce, nonceLength, aad, aadLength); s != 0) return s;
  kel::gcm::start(*kel::gcm::state_of(ctx), nonce, nonceLength, aad, aadLength);
  return 0;
}

int32_t GCM_update_encrypt_256b(BulkCtx ctx, uint8_t *data, uint32_t length) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (int32_t s = kel::gcm::check_text(ctx, data, length); s != 0) return s;
  kel::gcm::encrypt_text(*kel::gcm::state_of(ctx), data, length);
  return 0;
}

int32_t GCM_update_decrypt_256b(BulkCtx ctx, uint8_t *data, uint32_t length) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (int32_t s = kel::gcm::check_text(ctx, data, length); s != 0) return s;
  kel::gcm::decrypt_text(*kel::gcm::state_of(ctx), data, length);
  return 0;
}

int32_t GCM_final_256b(BulkCtx ctx, uint8_t tag[16]) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || tag == nullptr) return ERR_NULL_POINTER;
  kel::gcm::finish(*kel::gcm::state_of(ctx), tag);
  return 0;
}

int32_t GCM_cipher_256b(BulkCtx ctx, const uint8_t *nonce, uint32_t nonceLength, const uint8_t *aad,
                        uint32_t aadLength, uint8_t *data, uint32_t dataLength, uint32_t tagLength, int32_t encrypt) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  // SP 800-38D 5.2.1.2: 128, 120, 112, 104, 96, 64 or 32 bits. Shorter tags
  // are forged by trial.
  if (!kel::gcm::approved_tag_length(tagLength)) return ERR_INVALID_ARG;
  if (int32_t s = kel::gcm::check_start(ctx, nonce, nonceLength, aad, aadLength); s != 0) return s;
  GcmState &st = *kel::gcm::state_of(ctx);
  kel::gcm::start(st, nonce, nonceLength, aad, aadLength);
  if (int32_t s = kel::gcm::check_text(ctx, data, dataLength); s != 0) return s;
  if (encrypt)
    kel::gcm::encrypt_text(st, data, dataLength);
  else
    kel::gcm::decrypt_text(st, data, dataLength);
  kel::mem::Wiped<uint8_t[16]> tag;
  kel::gcm::finish(st, tag);
  if (encrypt) std::memcpy(data + dataLength, tag, tagLength);
  else if (!kel::ct_equal(tag, data + dataLength, tagLength)) return ERR_GCM_TAG_MISMATCH;
  return 0;
}
