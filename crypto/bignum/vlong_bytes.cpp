// Conversions between vlongs and byte strings (plain big-endian, fixed
// length, SSH mpint, 32-bit word arrays), and random odd integers.
#include "crypto/bignum/internal.h"
#include "crypto/bignum/status.h"
#include "kel/vor.h"

using namespace kel::bignum;

namespace {

uint32_t byte_length(const vlong *v) { return (VLONG_bitLength(v) + 7) / 8; }

// Byte i of the magnitude counted from the least significant (0).
uint8_t byte_at(const vlong *v, uint32_t i) {
  return static_cast<uint8_t>(VLONG_getVlongUnit(v, i / 4) >> (8 * (i % 4)));
}

// Unit buffer filled from big-endian bytes (each XORed with flip): the last
// byte is bits 0-7 of unit 0. Leading zero bytes leave no units. The buffer
// grows to grow units first.
int32_t fill_from_bytes(vlong *v, const uint8_t *bytes, uint32_t length, uint32_t grow, uint8_t flip = 0) {
  while (length > 0 && (bytes[0] ^ flip) == 0) {
    ++bytes;
    --length;
  }
  const uint32_t units = (length + 3) / 4;
  if (units > VLONG_MAX_UNITS) return kSize;
  if (int32_t s = VLONG_reallocVlong(v, grow > units ? grow : units); s != kOk) return s;
  for (uint32_t u = 0; u < units; ++u) {
    uint32_t word = 0;
    for (uint32_t k = 0; k < 4; ++k) {
      const uint32_t i = 4 * u + k;  // byte index from the end
      if (i < length) word |= static_cast<uint32_t>(bytes[length - 1 - i] ^ flip) << (8 * k);
    }
    v->units[u] = word;
  }
  v->length = units;
  return kOk;
}

}  // namespace

int32_t VLONG_vlongFromByteString(const uint8_t *bytes, int32_t length, vlong **out, vlong **queue) {
  if (out == nullptr) return kNull;
  *out = nullptr;
  if (length < 0) return kSize;
  if (bytes == nullptr && length > 0) return kNull;
  // Room for length/4 + 1 units, within the ceiling: 32,768 bytes (8192
  // units) still fit, 32,769 do not, whatever their leading bytes.
  const uint32_t n = static_cast<uint32_t>(length);
  if (n > 4 * VLONG_MAX_UNITS) return kSize;
  const uint32_t grow = n / 4 + 1 > VLONG_MAX_UNITS ? VLONG_MAX_UNITS : n / 4 + 1;
  if (int32_t s = VLONG_allocVlong(out, queue); s != kOk) return s;
  // On a later failure the partly built vlong stays in *out for the caller.
  return fill_from_bytes(*out, bytes, n, grow);
}

int32_t VLONG_byteStringFromVlong(const vlong *v, uint8_t *dest, int32_t *length) {
  if (v == nullptr || length == nullptr) return kNull;
  const uint32_t L = byte_length(v);
  if (dest == nullptr) {
    *length = static_cast<int32_t>(L);
    return kOk;
  }
  if (*length < 0 || static_cast<uint32_t>(*length) < L) return kBufferTooSmall;
  const uint32_t pad = static_cast<uint32_t>(*length) - L;
  for (uint32_t i = 0; i < pad; ++i) dest[i] = 0;
  for (uint32_t i = 0; i < L; ++i) dest[pad + i] = byte_at(v, L - 1 - i);
  return kOk;
}

int32_t VLONG_fixedByteStringFromVlong(const vlong *v, uint8_t *dest, int32_t length) {
  if (v == nullptr || dest == nullptr) return kNull;
  if (length < 0) return kSize;
  const uint32_t n = static_cast<uint32_t>(length);
  for (uint32_t i = 0; i < n; ++i) dest[i] = byte_at(v, n - 1 - i);
  return kOk;
}

int32_t VLONG_mpintByteStringFromVlong(const vlong *v, uint8_t **out, int32_t *outLength) {
  if (out != nullptr) *out = nullptr;
  if (outLength != nullptr) *outLength = 0;
  if (v == nullptr || out == nullptr || outLength == nullptr) return kNull;
  const uint32_t L = byte_length(v);
  // A pad byte when the magnitude's leading byte has its top bit set.
  const uint32_t pad = (L != 0 && (byte_at(v, L - 1) & 0x80)) ? 1 : 0;
  const bool negative = v->isNegative && v->length != 0;
  const uint32_t total = 4 + pad + L;
  void *block = nullptr;
  if (VOR_alloc(total, &block) != 0) return kNoMemory;
  uint8_t *b = static_cast<uint8_t *>(block);
  VOR_HTONL(b, pad + L);
  if (pad) b[4] = negative ? 0xff : 0x00;
  uint8_t *mag = b + 4 + pad;
  for (uint32_t i = 0; i < L; ++i) mag[i] = byte_at(v, L - 1 - i);
  if (negative) {
    // Two's complement of the magnitude bytes; the carry stops before the pad.
    uint32_t carry = 1;
    for (uint32_t i = L; i-- > 0;) {
      uint32_t t = static_cast<uint8_t>(~mag[i]) + carry;
      mag[i] = static_cast<uint8_t>(t);
      carry = t >> 8;
    }
  }
  *out = b;
  *outLength = static_cast<int32_t>(total);
  return kOk;
}

int32_t VLONG_newFromMpintBytes(const uint8_t *bytes, uint32_t available, vlong **out, int32_t *used) {
  if (out == nullptr) return kNull;
  *out = nullptr;
  if (bytes == nullptr || used == nullptr) return kNull;
  if (available < 4) return kSize;
  const int32_t stated = static_cast<int32_t>(VOR_NTOHL(bytes));
  *used = stated + 4;
  if (stated < 0 || static_cast<uint32_t>(stated) > available - 4) return kSize;
  const uint8_t *value = bytes + 4;
  const uint32_t n = static_cast<uint32_t>(stated);
  Temp v(nullptr);
  if (int32_t s = VLONG_allocVlong(v.out(), nullptr); s != kOk) return s;
  if (n != 0 && (value[0] & 0x80)) {
    // Negative: the magnitude is 2^(8n) minus the stored number, the bytes
    // inverted plus one (no carry leaves them: the top bit was set).
    if (int32_t s = fill_from_bytes(v.get(), value, n, 0, 0xff); s != kOk) return s;
    if (int32_t s = VLONG_addImmediate(v.get(), 1, nullptr); s != kOk) return s;
    v->isNegative = 1;
  } else {
    if (int32_t s = fill_from_bytes(v.get(), value, n, 0); s != kOk) return s;
  }
  *out = v.release();
  return kOk;
}

int32_t VLONG_vlongFromUByte4String(const uint32_t *words, uint32_t count, vlong **out) {
  if (out == nullptr) return kNull;
  *out = nullptr;
  if (words == nullptr && count > 0) return kNull;
  uint32_t skip = 0;
  while (skip < count && words[skip] == 0) ++skip;
  const uint32_t n = count - skip;
  if (n > VLONG_MAX_UNITS) return kSize;
  Temp v(nullptr);
  if (int32_t s = VLONG_allocVlong(v.out(), nullptr); s != kOk) return s;
  if (int32_t s = VLONG_reallocVlong(v.get(), n); s != kOk) return s;
  for (uint32_t i = 0; i < n; ++i) v->units[i] = words[count - 1 - i];
  v->length = n;
  *out = v.release();
  return kOk;
}

int32_t VLONG_makeRandomVlong(RandomContext *ctx, vlong **out, uint32_t bits, vlong **queue) {
  if (out == nullptr) return kNull;
  *out = nullptr;
  if (bits == 0 || bits > 32 * VLONG_MAX_UNITS) return kSize;
  const uint32_t numBytes = (bits + 7) / 8;
  void *block = nullptr;
  if (VOR_alloc(numBytes, &block) != 0) return kNoMemory;
  uint8_t *buf = static_cast<uint8_t *>(block);
  struct Release {
    void *&b;
    uint32_t n;
    ~Release() {
      wipe(b, n);
      VOR_free(&b);
    }
  } release{block, numBytes};
  if (int32_t s = RANDOM_numberGenerator(ctx, buf, numBytes); s != kOk) return s;
  Temp v(queue);
  if (int32_t s = VLONG_allocVlong(v.out(), queue); s != kOk) return s;
  if (int32_t s = fill_from_bytes(v.get(), buf, numBytes, 0); s != kOk) return s;
  VLONG_shrXvlong(v.get(), 8 * numBytes - bits);
  if (int32_t s = VLONG_setVlongBit(v.get(), 0); s != kOk) return s;
  if (int32_t s = VLONG_setVlongBit(v.get(), bits - 1); s != kOk) return s;
  *out = v.release();
  return kOk;
}
