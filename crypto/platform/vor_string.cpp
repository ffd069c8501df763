// Characters, strings and small numbers of the toolkit's portable layer.
//
// A character is the low byte of an int read as a signed byte, so bytes 0x80
// to 0xFF are negative: they belong to no class and sort before plain ASCII
// in VOR_STRCMP. Nothing here depends on the C library's locale.
#include <cstdint>

#include "kel/vor.h"

namespace {

constexpr int32_t low_signed(int32_t c) { return static_cast<int8_t>(static_cast<uint8_t>(c)); }

constexpr bool in_range(int32_t c, int32_t lo, int32_t hi) {
  c = low_signed(c);
  return c >= lo && c <= hi;
}

}  // namespace

char returnHexDigit(uint32_t value) { return "0123456789abcdef"[value & 15]; }

int32_t VTOLOWER(int32_t c) { return in_range(c, 'A', 'Z') ? low_signed(c) + ('a' - 'A') : c; }

int32_t VOR_ISSPACE(int32_t c) { return low_signed(c) == ' ' || in_range(c, 9, 13); }

// Linear white space: no vertical tab, no form feed.
int32_t VOR_ISLWS(int32_t c) {
  c = low_signed(c);
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

int32_t VOR_ISXDIGIT(int32_t c) { return in_range(c, '0', '9') || in_range(c, 'a', 'f') || in_range(c, 'A', 'F'); }

int32_t VOR_ISASCII(int32_t c) { return low_signed(c) >= 0; }

int32_t VOR_ISDIGIT(int32_t c) { return in_range(c, '0', '9'); }

int32_t VOR_ISLOWER(int32_t c) { return in_range(c, 'a', 'z'); }

uint32_t VOR_STRLEN(const char *s) {
  uint32_t n = 0;
  while (s[n] != '\0') ++n;
  return n;
}

int32_t VOR_STRCMP(const char *first, const char *second) {
  const auto *a = reinterpret_cast<const int8_t *>(first);
  const auto *b = reinterpret_cast<const int8_t *>(second);
  while (*a != 0 && *a == *b) ++a, ++b;
  return int32_t{*a} - int32_t{*b};
}

int32_t VOR_STRNICMP(const char *first, const char *second, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const int32_t a = low_signed(VTOLOWER(first[i]));
    const int32_t b = low_signed(VTOLOWER(second[i]));
    if (a == 0 || b == 0 || a != b) return a - b;
  }
  return 0;
}

uint32_t VOR_STRCBCPY(char *dest, uint32_t destSize, const char *src) {
  if (dest == nullptr || src == nullptr || destSize == 0) return 0;
  for (uint32_t i = 0; i < destSize; ++i) {
    dest[i] = src[i];
    if (src[i] == '\0') return i;
  }
  dest[destSize - 1] = '\0';  // cut: keep the terminator
  return destSize - 1;
}

int32_t VOR_ATOL(const char *s, const char **end) {
  while (VOR_ISSPACE(*s)) ++s;
  const bool negative = *s == '-';
  if (negative) ++s;
  uint32_t value = 0;
  for (; VOR_ISDIGIT(*s); ++s) value = value * 10u + static_cast<uint32_t>(*s - '0');  // wraps silently
  if (end != nullptr) *end = s;
  return static_cast<int32_t>(negative ? 0u - value : value);
}

int32_t VOR_UTOA(uint32_t value, uint8_t *buffer, uint32_t *length) {
  uint32_t divisor = 1000000000u;
  while (divisor > 1 && divisor > value) divisor /= 10;
  uint32_t n = 0;
  for (; divisor != 0; divisor /= 10) {
    buffer[n++] = static_cast<uint8_t>('0' + value / divisor);
    value %= divisor;
  }
  *length = n;
  return 0;
}

uint8_t *VOR_LTOA(int32_t value, uint8_t *buffer, uint32_t bufferLength) {
  if (buffer == nullptr) return nullptr;
  // A negative value has no defined text; it is written as its magnitude.
  uint32_t v = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  uint32_t n = 0;
  do {
    if (n == bufferLength) return nullptr;
    buffer[n++] = static_cast<uint8_t>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  for (uint32_t i = 0, j = n - 1; i < j; ++i, --j) {
    const uint8_t t = buffer[i];
    buffer[i] = buffer[j];
    buffer[j] = t;
  }
  return buffer + n;
}

// Sakamoto's method, Gregorian calendar; 0 is Sunday.
uint32_t VOR_DAYOFWEEK(int32_t day, int32_t month, int32_t year) {
  static constexpr int32_t kMonth[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) --year;
  const int32_t idx = (month >= 1 && month <= 12) ? month - 1 : 0;
  const int32_t w = (year + year / 4 - year / 100 + year / 400 + kMonth[idx] + day) % 7;
  return static_cast<uint32_t>(w < 0 ? w + 7 : w);
}

uint32_t VOR_BITLENGTH(uint32_t value) {
  // Bit length of a byte of 8 or more, indexed by its top five bits.
  static constexpr uint8_t kTop5[32] = {3, 4, 5, 5, 6, 6, 6, 6, 7, 7, 7, 7, 7, 7, 7, 7,
                                        8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8};
  uint32_t shift = 0;
  if (value >> 24) {
    shift = 24;
  } else if (value >> 16) {
    shift = 16;
  } else if (value >> 8) {
    shift = 8;
  }
  const uint32_t byte = value >> shift;
  // Below 8 the same table serves: entries 0..7 hold 3 more than the length.
  const uint32_t bits = byte >= 8 ? kTop5[byte >> 3] : static_cast<uint32_t>(kTop5[byte] - 3);
  return byte == 0 ? 0 : bits + shift;
}

uint32_t VOR_BITCOUNT(uint32_t v) {
  v = v - ((v >> 1) & 0x55555555u);
  v = (v & 0x33333333u) + ((v >> 2) & 0x33333333u);
  v = (v + (v >> 4)) & 0x0f0f0f0fu;
  return (v * 0x01010101u) >> 24;
}

uint32_t VOR_floorPower2(uint32_t v) {
  v |= v >> 1;
  v |= v >> 2;
  v |= v >> 4;
  v |= v >> 8;
  v |= v >> 16;
  return v - (v >> 1);
}
