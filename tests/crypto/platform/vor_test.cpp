// The toolkit's portable memory, string and number utilities: where they differ from the C library.
#include "kel/vor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(Vor, MemoryNullsOverlapXorCompareMatchAndByteOrder) {
  uint8_t b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  int32_t r = 0;
  uint32_t m = 0;
  for (int32_t status : {VOR_MEMMOVE(nullptr, b, 1), VOR_MEMMOVE(b, nullptr, 1), VOR_MEMCPY(b, nullptr, 1), VOR_MEMSET(nullptr, 0, 1),
                         VOR_MEMCMP(b, b, 1, nullptr), VOR_MEMCMP(nullptr, b, 1, &r), VOR_SAFEMATCH(b, 1, nullptr, 1, &m), VOR_XORCPY(b, nullptr, 1)})
    EXPECT_EQ(status, ERR_NULL_POINTER);
  ASSERT_EQ(VOR_MEMMOVE(b + 2, b, 6), 0);
  EXPECT_EQ(0, std::memcmp(b, "\x01\x02\x01\x02\x03\x04\x05\x06", 8));
  ASSERT_EQ(VOR_MEMCPY(b, b + 4, 2), 0);
  EXPECT_EQ(0, std::memcmp(b, "\x03\x04\x01\x02", 4));
  ASSERT_EQ(VOR_MEMSET(b, 0x1ab, 3), 0);  // the low byte
  const uint8_t x[3] = {0xff, 0x0f, 0x00}, lo[1] = {0x01}, hi[1] = {0x80};
  ASSERT_EQ(VOR_XORCPY(b, x, 3), 0);
  EXPECT_EQ(0, std::memcmp(b, "\x54\xa4\xab\x02", 4));
  ASSERT_EQ(VOR_MEMCMP(lo, hi, 1, &r), 0);
  EXPECT_LT(r, 0) << "unsigned bytes";
  ASSERT_EQ(VOR_MEMCMP(hi, lo, 0, &r), 0);
  EXPECT_EQ(r, 0);
  const uint8_t abc[] = {'a', 'b', 'c', 'a', 'b', 'c'}, abd[] = {'a', 'b', 'd'};
  const struct { const uint8_t *a; uint32_t al; const uint8_t *b; uint32_t bl, match; } matches[] = {
      {abc, 3, abc + 3, 3, 1}, {abc, 3, abd, 3, 0}, {abc, 3, abc, 6, 0}, {abc, 0, abc, 3, 0}, {abc, 0, abd, 0, 1}, {abc, 6, abc, 3, 0}};
  for (const auto &c : matches) {
    m = 7;
    ASSERT_EQ(VOR_SAFEMATCH(c.a, c.al, c.b, c.bl, &m), 0);
    EXPECT_EQ(m, c.match) << c.al << " vs " << c.bl;
  }
  EXPECT_EQ(SWAPWORD(0x1234), 0x3412);
  EXPECT_EQ(SWAPDWORD(0x12345678u), 0x78563412u);
  VOR_HTONL(b, 0xa1b2c3d4u);
  EXPECT_TRUE(b[0] == 0xa1 && VOR_NTOHL(b) == 0xa1b2c3d4u);
  VOR_HTONS(b, 0xbeef);
  EXPECT_TRUE(b[0] == 0xbe && VOR_NTOHS(b) == 0xbeef);
  void *p = reinterpret_cast<void *>(1);
  EXPECT_EQ(VOR_MALLOC(&p, 131072), ERR_MEM_ALLOC_FAIL) << "a limit on this pair";
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(VOR_MALLOC(nullptr, 16), ERR_MEM_ALLOC_PTR);
  ASSERT_EQ(VOR_MALLOC(&p, 131071), 0);
  void *keep = p;
  EXPECT_EQ(VOR_FREE(&p), 0);
  EXPECT_EQ(p, keep) << "the caller's pointer is left alone";
  p = nullptr;
  EXPECT_EQ(VOR_FREE(&p), ERR_MEM_FREE_PTR);
  ASSERT_EQ(VOR_alloc(1u << 20, &p), 0);  // none on this one
  EXPECT_EQ(VOR_free(&p), 0);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(VOR_free(&p), ERR_NULL_POINTER);
}

TEST(Vor, CharactersAndStrings) {
  EXPECT_TRUE(VOR_ISLWS('\r') == 1 && VOR_ISLWS(11) == 0 && VOR_ISSPACE(' ' + 0x100) == 1);  // only the low byte counts
  EXPECT_TRUE(returnHexDigit(0x1a) == 'a' && returnHexDigit(9) == '9');
  for (int c = 0; c < 0x100; ++c) {
    const bool digit = c >= '0' && c <= '9';
    EXPECT_EQ(VOR_ISASCII(c), c < 0x80) << c;
    EXPECT_EQ(VOR_ISDIGIT(c), digit) << c;
    EXPECT_EQ(VOR_ISLOWER(c), c >= 'a' && c <= 'z') << c;
    EXPECT_EQ(VOR_ISXDIGIT(c), digit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) << c;
    EXPECT_EQ(VOR_ISSPACE(c), c == ' ' || (c >= 9 && c <= 13)) << c;
    EXPECT_EQ(VTOLOWER(c), c >= 'A' && c <= 'Z' ? c + 32 : c) << c;
  }
  EXPECT_EQ(VOR_STRLEN("hello"), 5u);
  EXPECT_LT(VOR_STRCMP("\xe9", "a"), 0) << "signed bytes";
  EXPECT_EQ(VOR_STRCMP("abd", "abc"), 1);
  EXPECT_LT(VOR_STRCMP("ab", "abc"), 0);
  EXPECT_EQ(VOR_STRNICMP("abcX", "ABCY", 3), 0);
  EXPECT_LT(VOR_STRNICMP("abcX", "ABCY", 4), 0);
  EXPECT_GT(VOR_STRNICMP("abc", "ab", 5), 0);
  EXPECT_EQ(VOR_STRNICMP("ab", "ab", 9), 0);
  char buf[8] = "zzzzzzz";
  EXPECT_EQ(VOR_STRCBCPY(buf, 4, "hello"), 3u);
  EXPECT_TRUE(std::string(buf) == "hel" && buf[4] == 'z') << "always terminated, nothing past the size";
  EXPECT_EQ(VOR_STRCBCPY(buf, 6, "hello"), 5u);
  EXPECT_STREQ(buf, "hello");
  EXPECT_EQ(VOR_STRCBCPY(buf, 0, "hello") + VOR_STRCBCPY(nullptr, 4, "hello") + VOR_STRCBCPY(buf, 4, nullptr), 0u);
}

TEST(Vor, Numbers) {
  const struct { const char *text; int32_t value; size_t end; } atol[] = {
      {"  -42x", -42, 5}, {"+5", 0, 0}, {"\t\v\f\r\n7", 7, 6}, {"", 0, 0}, {"-", 0, 1}, {"4294967295", -1, 10}, {"-2147483648", INT32_MIN, 11}, {"12 3", 12, 2}};
  for (const auto &c : atol) {
    const char *end = nullptr;
    EXPECT_EQ(VOR_ATOL(c.text, &end), c.value) << c.text;
    EXPECT_EQ(size_t(end - c.text), c.end) << c.text;
    EXPECT_EQ(VOR_ATOL(c.text, nullptr), c.value);
  }
  uint8_t buf[12];
  for (uint32_t v : {0u, 10u, 999999999u, 4294967295u}) {
    std::memset(buf, '#', sizeof buf);
    uint32_t len = 0;
    ASSERT_EQ(VOR_UTOA(v, buf, &len), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), len + 1), std::to_string(v) + "#") << "no terminator";
  }
  std::memset(buf, '#', sizeof buf);
  EXPECT_TRUE(!VOR_LTOA(12345, buf, 4) && !VOR_LTOA(12345, nullptr, 8) && !VOR_LTOA(0, buf, 0));
  ASSERT_EQ(VOR_LTOA(INT32_MAX, buf, 10), buf + 10);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 11), "2147483647#");
  ASSERT_EQ(VOR_LTOA(0, buf, 1), buf + 1);
  EXPECT_EQ(buf[0], '0');
  const struct { int32_t d, m, y; uint32_t w; } days[] = {{1, 1, 2000, 6}, {29, 2, 2000, 2}, {1, 3, 2000, 3}, {31, 12, 1999, 5},
                                                           {1, 1, 1900, 1}, {4, 7, 1776, 4}, {5, 12, 2026, 6}, {29, 2, 2024, 4}};
  for (const auto &c : days) EXPECT_EQ(VOR_DAYOFWEEK(c.d, c.m, c.y), c.w) << c.d << "." << c.m << "." << c.y;
  EXPECT_EQ(VOR_floorPower2(0) + VOR_BITLENGTH(0) + VOR_BITCOUNT(0), 0u);
  for (uint32_t bits = 1; bits <= 32; ++bits) {  // both ends of every bit length
    const uint32_t lo = 1u << (bits - 1), hi = bits == 32 ? 0xffffffffu : (1u << bits) - 1;
    for (uint32_t v : {lo, hi, lo | 1u, lo + (hi - lo) / 3}) {
      EXPECT_EQ(VOR_BITLENGTH(v), bits) << v;
      EXPECT_EQ(VOR_BITCOUNT(v), uint32_t(__builtin_popcount(v))) << v;
      EXPECT_EQ(VOR_floorPower2(v), lo) << v;
    }
  }
}

}  // namespace
