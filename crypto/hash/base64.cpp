// Base64 (RFC 4648 section 4) of whole messages.
#include <cstdint>

#include "kel/base64.h"
#include "kel/vor.h"

namespace kel::base64 {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Entry c: 1 + the alphabet position of c, 0 outside the alphabet. One table
// per process, read without a lock while decoding.
uint8_t *g_table = nullptr;

uint8_t *table() { return __atomic_load_n(&g_table, __ATOMIC_ACQUIRE); }

}  // namespace
}  // namespace kel::base64

int32_t BASE64_initializeContext(void) {
  void *block = nullptr;
  if (int32_t s = VOR_alloc(256, &block); s != 0) return s;
  auto *t = static_cast<uint8_t *>(block);
  for (int i = 0; i < 256; ++i) t[i] = 0;
  for (int i = 0; i < 64; ++i) t[static_cast<uint8_t>(kel::base64::kAlphabet[i])] = static_cast<uint8_t>(i + 1);
  // A table made earlier is released, not leaked.
  void *old = __atomic_exchange_n(&kel::base64::g_table, t, __ATOMIC_ACQ_REL);
  if (old != nullptr) VOR_free(&old);
  return 0;
}

int32_t BASE64_freeContext(void) {
  void *t = __atomic_exchange_n(&kel::base64::g_table, nullptr, __ATOMIC_ACQ_REL);
  return VOR_free(&t);
}

int32_t BASE64_encodeMessage(const uint8_t *data, uint32_t length, uint8_t **text, uint32_t *textLength) {
  if (data == nullptr || text == nullptr || textLength == nullptr) return ERR_NULL_POINTER;
  const uint64_t n = 4 * ((uint64_t{length} + 2) / 3);
  if (n >= UINT32_MAX) return -6003;
  void *block = nullptr;
  if (int32_t s = VOR_alloc(static_cast<uint32_t>(n + 1), &block); s != 0) return s;
  auto *out = static_cast<uint8_t *>(block);
  const char *a = kel::base64::kAlphabet;
  uint32_t i = 0, o = 0;
  for (; length - i >= 3; i += 3) {
    const uint32_t v = uint32_t{data[i]} << 16 | uint32_t{data[i + 1]} << 8 | data[i + 2];
    out[o++] = a[v >> 18];
    out[o++] = a[(v >> 12) & 63];
    out[o++] = a[(v >> 6) & 63];
    out[o++] = a[v & 63];
  }
  if (length - i == 1) {
    const uint32_t v = uint32_t{data[i]} << 16;
    out[o++] = a[v >> 18];
    out[o++] = a[(v >> 12) & 63];
    out[o++] = '=';
    out[o++] = '=';
  } else if (length - i == 2) {
    const uint32_t v = uint32_t{data[i]} << 16 | uint32_t{data[i + 1]} << 8;
    out[o++] = a[v >> 18];
    out[o++] = a[(v >> 12) & 63];
    out[o++] = a[(v >> 6) & 63];
    out[o++] = '=';
  }
  *text = out;
  *textLength = o;
  return 0;
}

int32_t BASE64_decodeMessage(const uint8_t *text, uint32_t length, uint8_t **data, uint32_t *dataLength) {
  if (text == nullptr || data == nullptr || dataLength == nullptr) return ERR_NULL_POINTER;
  const uint8_t *t = kel::base64::table();
  if (t == nullptr) return ERR_BASE64_NO_TABLE;
  if (length < 4 || length % 4 != 0) return ERR_BASE64_BAD_INPUT;
  uint32_t n = static_cast<uint32_t>(uint64_t{length} * 3 / 4);
  void *block = nullptr;
  if (int32_t s = VOR_alloc(n, &block); s != 0) return s;
  auto *out = static_cast<uint8_t *>(block);
  *data = out;
  *dataLength = n;
  for (uint32_t g = 0; g < length; g += 4) {
    uint32_t v = 0;
    uint32_t j = 0;
    for (; j < 4; ++j) {
      const uint8_t d = t[text[g + j]];
      if (d == 0) break;
      v = v << 6 | (d - 1u);
    }
    uint8_t *o = out + g / 4 * 3;
    if (j == 4) {
      o[0] = static_cast<uint8_t>(v >> 16);
      o[1] = static_cast<uint8_t>(v >> 8);
      o[2] = static_cast<uint8_t>(v);
      continue;
    }
    // Only final padding, from position 2 or 3 of the last group, may stop a
    // group; what follows the first "=" is not looked at.
    if (j < 2 || text[g + j] != '=' || g + 4 != length) return ERR_BASE64_BAD_INPUT;
    v <<= 6 * (4 - j);
    o[0] = static_cast<uint8_t>(v >> 16);
    if (j == 3) o[1] = static_cast<uint8_t>(v >> 8);
    *dataLength = n - (4 - j);
  }
  return 0;
}

int32_t BASE64_freeMessage(uint8_t **buffer) {
  if (buffer == nullptr || *buffer == nullptr) return ERR_NULL_POINTER;
  void *block = *buffer;
  *buffer = nullptr;
  return VOR_free(&block);
}
