// The toolkit's portable memory, string and number utilities: the places
// where they differ from the C library are the ones checked here.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "crypto/common/alloc.h"
#include "kel/vor.h"

namespace {

TEST(VorBytes, ByteOrderIsBigEndianWhateverTheHost) {
  EXPECT_EQ(SWAPWORD(0x1234), 0x3412);
  EXPECT_EQ(SWAPDWORD(0x12345678u), 0x78563412u);
  uint8_t b[4];
  VOR_HTONL(b, 0xa1b2c3d4u);
  EXPECT_EQ(b[0], 0xa1);
  EXPECT_EQ(b[3], 0xd4);
  EXPECT_EQ(VOR_NTOHL(b), 0xa1b2c3d4u);
  VOR_HTONS(b, 0xbeef);
  EXPECT_EQ(b[0], 0xbe);
  EXPECT_EQ(VOR_NTOHS(b), 0xbeef);
}

TEST(VorMemory, NullPointersGiveTheirStatus) {
  uint8_t buf[4] = {};
  int32_t r = 0;
  uint32_t m = 0;
  EXPECT_EQ(VOR_MEMMOVE(nullptr, buf, 1), ERR_NULL_POINTER);
  EXPECT_EQ(VOR_MEMMOVE(buf, nullptr, 1), ERR_NULL_POINTER);
  EXPECT_EQ(VOR_MEMCPY(buf, nullptr, 1), ERR_NULL_POINTER);
  EXPECT_EQ(VOR_MEMSET(nullptr, 0, 1), ERR_NULL_POINTER);
  EXPECT_EQ(VOR_MEMCMP(buf, buf, 1, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(VOR_SAFEMATCH(buf, 1, nullptr, 1, &m), ERR_NULL_POINTER);
  EXPECT_EQ(VOR_XORCPY(buf, nullptr, 1), ERR_NULL_POINTER);
  EXPECT_EQ(VOR_MEMCMP(nullptr, buf, 1, &r), ERR_NULL_POINTER);
}

TEST(VorMemory, MoveOverlapsSetUsesLowByteXorAndCompareUnsigned) {
  uint8_t b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(VOR_MEMMOVE(b + 2, b, 6), 0);
  EXPECT_EQ(0, std::memcmp(b, "\x01\x02\x01\x02\x03\x04\x05\x06", 8));
  ASSERT_EQ(VOR_MEMSET(b, 0x1ab, 3), 0);
  EXPECT_EQ(b[0], 0xab);
  EXPECT_EQ(b[2], 0xab);
  EXPECT_EQ(b[3], 0x02);
  const uint8_t x[3] = {0xff, 0x0f, 0x00};
  ASSERT_EQ(VOR_XORCPY(b, x, 3), 0);
  EXPECT_EQ(b[0], 0x54);
  EXPECT_EQ(b[1], 0xa4);
  EXPECT_EQ(b[2], 0xab);
  const uint8_t lo[1] = {0x01}, hi[1] = {0x80};
  int32_t r = 0;
  ASSERT_EQ(VOR_MEMCMP(lo, hi, 1, &r), 0);
  EXPECT_LT(r, 0);
  ASSERT_EQ(VOR_MEMCMP(hi, lo, 0, &r), 0);
  EXPECT_EQ(r, 0);
}

TEST(VorMemory, SafeMatchNeedsEqualLengthsAndBytes) {
  const uint8_t abc[] = {'a', 'b', 'c'}, abd[] = {'a', 'b', 'd'}, abcabc[] = {'a', 'b', 'c', 'a', 'b', 'c'};
  struct Case {
    const uint8_t *a;
    uint32_t al;
    const uint8_t *b;
    uint32_t bl;
    uint32_t match;
  } cases[] = {
      {abc, 3, abc, 3, 1}, {abc, 3, abd, 3, 0}, {abc, 3, abcabc, 6, 0},
      {abc, 0, abc, 3, 0}, {abc, 0, abd, 0, 1}, {abcabc, 6, abc, 3, 0},
  };
  for (const auto &c : cases) {
    uint32_t m = 7;
    ASSERT_EQ(VOR_SAFEMATCH(c.a, c.al, c.b, c.bl, &m), 0);
    EXPECT_EQ(m, c.match) << c.al << " vs " << c.bl;
  }
}

TEST(VorMemory, MallocHasALimitAndFreePairsDiffer) {
  void *p = reinterpret_cast<void *>(1);
  EXPECT_EQ(VOR_MALLOC(&p, 131072), ERR_MEM_ALLOC_FAIL);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(VOR_MALLOC(nullptr, 16), ERR_MEM_ALLOC_PTR);
  ASSERT_EQ(VOR_MALLOC(&p, 131071), 0);
  ASSERT_NE(p, nullptr);
  void *keep = p;
  EXPECT_EQ(VOR_FREE(&p), 0);
  EXPECT_EQ(p, keep);  // the caller's pointer is left alone
  p = nullptr;
  EXPECT_EQ(VOR_FREE(&p), ERR_MEM_FREE_PTR);
  EXPECT_EQ(VOR_FREE(nullptr), ERR_MEM_FREE_PTR);

  ASSERT_EQ(VOR_alloc(1u << 20, &p), 0);  // no limit on this pair
  EXPECT_EQ(VOR_free(&p), 0);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(VOR_free(&p), ERR_NULL_POINTER);
  EXPECT_EQ(VOR_free(nullptr), ERR_NULL_POINTER);
}

TEST(VorMemory, InjectedFailuresReachBothAllocators) {
  void *p = reinterpret_cast<void *>(1);
  kel::mem::fail_after(0);
  EXPECT_EQ(VOR_MALLOC(&p, 8), ERR_MEM_ALLOC_FAILED);
  EXPECT_EQ(p, nullptr);
  kel::mem::fail_after(0);
  EXPECT_EQ(VOR_alloc(8, &p), ERR_MEM_ALLOC_FAIL);
  EXPECT_EQ(p, nullptr);
  kel::mem::fail_after(-1);
  const uint64_t before = kel::mem::allocation_count();
  ASSERT_EQ(VOR_alloc(8, &p), 0);
  EXPECT_EQ(kel::mem::allocation_count(), before + 1);
  VOR_free(&p);
}

TEST(VorChars, ClassesReadOneSignedByte) {
  EXPECT_EQ(VOR_ISSPACE(11), 1);
  EXPECT_EQ(VOR_ISLWS(11), 0);
  EXPECT_EQ(VOR_ISLWS(12), 0);
  EXPECT_EQ(VOR_ISLWS('\r'), 1);
  EXPECT_EQ(VOR_ISSPACE(' ' + 0x100), 1);  // only the low byte counts
  int32_t (*const classes[])(int32_t) = {VOR_ISSPACE, VOR_ISLWS, VOR_ISXDIGIT, VOR_ISASCII, VOR_ISDIGIT, VOR_ISLOWER};
  for (auto *f : classes)
    for (int c = 0x80; c <= 0xff; ++c) EXPECT_EQ(f(c), 0) << c;
  // Each class over the ASCII range, against its definition.
  for (int c = 0; c < 0x80; ++c) {
    const bool digit = c >= '0' && c <= '9';
    const bool lower = c >= 'a' && c <= 'z';
    EXPECT_EQ(VOR_ISDIGIT(c), digit) << c;
    EXPECT_EQ(VOR_ISLOWER(c), lower) << c;
    EXPECT_EQ(VOR_ISXDIGIT(c), digit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) << c;
    EXPECT_EQ(VOR_ISSPACE(c), c == ' ' || (c >= 9 && c <= 13)) << c;
    EXPECT_EQ(VOR_ISASCII(c), 1);
    EXPECT_EQ(VTOLOWER(c), c >= 'A' && c <= 'Z' ? c + 32 : c) << c;
  }
  EXPECT_EQ(VTOLOWER(0xc9), 0xc9);
  EXPECT_EQ(returnHexDigit(0x1a), 'a');
  EXPECT_EQ(returnHexDigit(9), '9');
}

TEST(VorStrings, CompareAsSignedBytes) {
  EXPECT_EQ(VOR_STRLEN(""), 0u);
  EXPECT_EQ(VOR_STRLEN("hello"), 5u);
  EXPECT_LT(VOR_STRCMP("\xe9", "a"), 0);
  EXPECT_EQ(VOR_STRCMP("abc", "abc"), 0);
  EXPECT_EQ(VOR_STRCMP("abd", "abc"), 1);
  EXPECT_LT(VOR_STRCMP("ab", "abc"), 0);
  EXPECT_EQ(VOR_STRNICMP("HeLLo", "hello", 5), 0);
  EXPECT_EQ(VOR_STRNICMP("abcX", "ABCY", 3), 0);
  EXPECT_LT(VOR_STRNICMP("abcX", "ABCY", 4), 0);
  EXPECT_GT(VOR_STRNICMP("abc", "ab", 5), 0);
  EXPECT_EQ(VOR_STRNICMP("ab", "ab", 9), 0);
  EXPECT_EQ(VOR_STRNICMP("x", "y", 0), 0);
}

TEST(VorStrings, BoundedCopyAlwaysTerminates) {
  char buf[8];
  std::memset(buf, 'z', sizeof buf);
  EXPECT_EQ(VOR_STRCBCPY(buf, 4, "hello"), 3u);
  EXPECT_STREQ(buf, "hel");
  EXPECT_EQ(buf[4], 'z');
  EXPECT_EQ(VOR_STRCBCPY(buf, 6, "hello"), 5u);
  EXPECT_STREQ(buf, "hello");
  EXPECT_EQ(VOR_STRCBCPY(buf, 5, "hello"), 4u);
  EXPECT_STREQ(buf, "hell");
  EXPECT_EQ(VOR_STRCBCPY(buf, 0, "hello"), 0u);
  EXPECT_EQ(VOR_STRCBCPY(nullptr, 4, "hello"), 0u);
  EXPECT_EQ(VOR_STRCBCPY(buf, 4, nullptr), 0u);
}

TEST(VorNumbers, AtolParsesLikeTheToolkit) {
  struct Case {
    const char *text;
    int32_t value;
    size_t end;
  } cases[] = {
      {"  -42x", -42, 5},   {"+5", 0, 0},          {"\t\v\f\r\n7", 7, 6},     {"", 0, 0},
      {"-", 0, 1},          {"2147483647", 2147483647, 10}, {"4294967295", -1, 10},
      {"4294967296", 0, 10}, {"-2147483648", INT32_MIN, 11}, {"12 3", 12, 2},
  };
  for (const auto &c : cases) {
    const char *end = nullptr;
    EXPECT_EQ(VOR_ATOL(c.text, &end), c.value) << c.text;
    EXPECT_EQ(static_cast<size_t>(end - c.text), c.end) << c.text;
    EXPECT_EQ(VOR_ATOL(c.text, nullptr), c.value);
  }
}

TEST(VorNumbers, DecimalTextHasNoTerminator) {
  for (uint32_t v : {0u, 7u, 10u, 999999999u, 1000000000u, 4294967295u}) {
    uint8_t buf[12];
    std::memset(buf, '#', sizeof buf);
    uint32_t len = 0;
    ASSERT_EQ(VOR_UTOA(v, buf, &len), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), len), std::to_string(v));
    EXPECT_EQ(buf[len], '#');
  }
  uint8_t buf[12];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(VOR_LTOA(12345, buf, 4), nullptr);
  EXPECT_EQ(VOR_LTOA(12345, nullptr, 8), nullptr);
  uint8_t *end = VOR_LTOA(12345, buf, 5);
  ASSERT_EQ(end, buf + 5);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 5), "12345");
  EXPECT_EQ(buf[5], '#');
  end = VOR_LTOA(0, buf, 1);
  ASSERT_EQ(end, buf + 1);
  EXPECT_EQ(buf[0], '0');
  EXPECT_EQ(VOR_LTOA(0, buf, 0), nullptr);
  end = VOR_LTOA(INT32_MAX, buf, 10);
  ASSERT_EQ(end, buf + 10);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 10), "2147483647");
}

TEST(VorNumbers, DayOfWeekIsGregorian) {
  struct Case {
    int32_t d, m, y;
    uint32_t w;
  } cases[] = {{1, 1, 2000, 6}, {29, 2, 2000, 2}, {1, 3, 2000, 3}, {31, 12, 1999, 5},
               {1, 1, 1900, 1}, {4, 7, 1776, 4}, {5, 12, 2026, 6}, {29, 2, 2024, 4}};
  for (const auto &c : cases) EXPECT_EQ(VOR_DAYOFWEEK(c.d, c.m, c.y), c.w) << c.d << "." << c.m << "." << c.y;
}

TEST(VorNumbers, BitLengthCountAndFloorPowerOfTwo) {
  EXPECT_EQ(VOR_floorPower2(1000), 512u);
  EXPECT_EQ(VOR_floorPower2(0), 0u);
  EXPECT_EQ(VOR_floorPower2(0xffffffffu), 0x80000000u);
  EXPECT_EQ(VOR_BITLENGTH(0), 0u);
  // Every bit length, at both ends of its range, against the compiler's count.
  for (uint32_t bits = 1; bits <= 32; ++bits) {
    const uint32_t lo = 1u << (bits - 1);
    const uint32_t hi = bits == 32 ? 0xffffffffu : (1u << bits) - 1;
    for (uint32_t v : {lo, hi, lo | 1u, lo + (hi - lo) / 3}) {
      EXPECT_EQ(VOR_BITLENGTH(v), bits) << v;
      EXPECT_EQ(VOR_BITCOUNT(v), static_cast<uint32_t>(__builtin_popcount(v))) << v;
      EXPECT_EQ(VOR_floorPower2(v), lo) << v;
    }
  }
  EXPECT_EQ(VOR_BITCOUNT(0), 0u);
}

}  // namespace
