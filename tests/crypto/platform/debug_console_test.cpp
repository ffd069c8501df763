// Debug console: every print function (golden text, one character a callback
// call), class filtering, the output file and its fallback, the dumps.
#include "kel/debug_console.h"

#include <algorithm>
#include <cstdio>
#include <regex>

#include "support/sandbox.h"

namespace {

using namespace kel::test;

std::vector<std::string> gCalls;

class Console : public ::testing::Test {
 protected:
  void SetUp() override {
    m_errorClass = 0xFFFFFFFFu;
    gCalls.clear();
    DEBUG_CONSOLE_setLogVoraneCallback([](const char *t) { gCalls.emplace_back(t); });
  }
  void TearDown() override {
    DEBUG_CONSOLE_setLogVoraneCallback(nullptr);
    m_errorClass = 0;
    CaptureStdout([] { DEBUG_CONSOLE_setOutput("/nonexistent-kel-dir/reset"); });  // back to stdout
  }
  TempDir dir_;
};

const std::string kLong(300, 'x');
const uint8_t kData[20] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P', 0x00, 0x7f, 0x20, 0x41};
const std::function<void(uint32_t)> kPrints[] = {
    [](uint32_t c) { DEBUG_CONSOLE_printString(c, "abc"); }, [](uint32_t c) { DEBUG_CONSOLE_printString(c, nullptr); },
    [](uint32_t c) { DEBUG_CONSOLE_printString(c, kLong.c_str()); }, [](uint32_t c) { DEBUG_CONSOLE_printNewLine(c, "abc"); },
    [](uint32_t c) { DEBUG_CONSOLE_printNewLine(c, nullptr); }, [](uint32_t c) { DEBUG_CONSOLE_printNewLine(c, kLong.c_str()); },
    [](uint32_t c) { DEBUG_CONSOLE_printInteger(c, -5800); }, [](uint32_t c) { DEBUG_CONSOLE_printInteger2(c, 1, -2); },
    [](uint32_t c) { DEBUG_CONSOLE_printInteger3(c, 1, 2, 3); },
    [](uint32_t c) { DEBUG_CONSOLE_printInteger4(c, INT32_MIN, 0, -1, INT32_MAX); },
    [](uint32_t c) { DEBUG_CONSOLE_printUnsignedInteger(c, 4294967295u); },
    [](uint32_t c) { DEBUG_CONSOLE_printUnsignedInteger2(c, 1, 2); },
    [](uint32_t c) { DEBUG_CONSOLE_printUnsignedInteger3(c, 1, 2, 3); },
    [](uint32_t c) { DEBUG_CONSOLE_printUnsignedInteger4(c, 0, 10, 4294967295u, 7); },
    [](uint32_t c) { DEBUG_CONSOLE_hexByte(c, 0x0a); }, [](uint32_t c) { DEBUG_CONSOLE_hexInt(c, 0x1a); },
    [](uint32_t c) { DEBUG_CONSOLE_printHexInt2(c, 0xdeadbeef, 1); }, [](uint32_t c) { DEBUG_CONSOLE_printHexInt3(c, 1, 2, 0xffffffff); },
    [](uint32_t c) { DEBUG_CONSOLE_printHexInt4(c, 1, 2, 3, 0xabc); }, [](uint32_t c) { DEBUG_CONSOLE_printByte(c, 'Q'); },
    [](uint32_t c) { DEBUG_CONSOLE_printError(c, "failed: ", -5801); }, [](uint32_t c) { DEBUG_CONSOLE_printError(c, nullptr, 3); },
    [](uint32_t c) { DEBUG_CONSOLE_print3(c, "a", "bc", "d"); }, [](uint32_t c) { DEBUG_CONSOLE_print3(c, nullptr, "b", nullptr); },
    [](uint32_t c) { DEBUG_CONSOLE_printString2(c, "ab", "cd"); }, [](uint32_t c) { DEBUG_CONSOLE_printString1Int1(c, "n=", -7); },
    [](uint32_t c) { DEBUG_CONSOLE_printString1Int1(c, nullptr, 7); },
    [](uint32_t c) { DEBUG_CONSOLE_printString1HexInt1(c, "h=", 0xff); },
    [](uint32_t c) { DEBUG_CONSOLE_printString2Int2(c, "a=", 1, " b=", -2); },
    [](uint32_t c) { DEBUG_CONSOLE_printString2HexInt2(c, "a=", 1, nullptr, 0x10); },
    [](uint32_t c) { DEBUG_CONSOLE_printAsciiIPAddr(c, 0xC0A80101u); },
    [](uint32_t c) { DEBUG_CONSOLE_printString1AsciiIPAddr(c, "ip ", 0x0AFF0009u); },
    [](uint32_t c) { EXPECT_EQ(DEBUG_CONSOLE_hexDump(c, kData, 20), 32u); },
    [](uint32_t c) { EXPECT_EQ(DEBUG_CONSOLE_hexDump(c, kData, 16), 16u); },
    [](uint32_t c) { EXPECT_EQ(DEBUG_CONSOLE_hexDump(c, kData, 0), 0u); },
};
std::string PrintAll(uint32_t errorClass) {
  std::string all;
  for (const auto &print : kPrints) {
    gCalls.clear();
    print(errorClass);
    for (const auto &piece : gCalls) {
      EXPECT_LE(piece.size(), 1u) << all;
      all += piece;
    }
    all += "|";
  }
  return all;
}

TEST_F(Console, EveryPrintFunctionByCallbackAndFileAndClassFilter) {
  std::string text;
  EXPECT_EQ(CaptureStdout([&] { text = PrintAll(0); }), "") << "the callback takes precedence over the stream";
  ExpectGolden("console_text", text);
  const struct { uint32_t mask, errorClass; bool prints; } filters[] = {
      {0, 8, false}, {8, 8, true}, {8, 12, false}, {12, 4, true}, {0xFFFFFFFFu, 32, true}, {~0x400000u, 0x400000, false}};
  for (const auto &f : filters) {
    m_errorClass = f.mask;
    EXPECT_EQ(PrintAll(f.errorClass) == std::string(std::size(kPrints), '|'), !f.prints) << f.mask << " " << f.errorClass;
  }
  m_errorClass = 0xFFFFFFFFu;
  DEBUG_CONSOLE_setLogVoraneCallback(nullptr);
  ASSERT_TRUE(WriteFile(dir_ / "console.txt", "old content"));
  EXPECT_EQ(CaptureStdout([&] { ASSERT_EQ(DEBUG_CONSOLE_setOutput((dir_ / "console.txt").c_str()), 0); }), "Switching output stream");
  EXPECT_EQ(CaptureStdout([&] { for (const auto &print : kPrints) print(8); }), "");
  text.erase(std::remove(text.begin(), text.end(), '|'), text.end());
  // A failed switch announces itself in the old file and falls back to
  // standard output; without the console's own class the failure is silent.
  const std::string missing = dir_ / "no-such-dir/c.txt";
  std::string out = CaptureStdout([&] {
    EXPECT_EQ(DEBUG_CONSOLE_setOutput(missing.c_str()), -14201);
    DEBUG_CONSOLE_printString(0, "later");
    m_errorClass = ~0x400000u;
    EXPECT_EQ(DEBUG_CONSOLE_setOutput(missing.c_str()), -14201);
    EXPECT_EQ(DEBUG_CONSOLE_setOutput(nullptr), -14201);
  });
  EXPECT_EQ(ReadFile(dir_ / "console.txt"), text + "Switching output stream") << "opened with truncation";
  EXPECT_TRUE(std::regex_match(out, std::regex("DEBUG_CONSOLE_setOutput\\[[0-9]+\\]: Failed to open " + missing +
                                               " for writing\nlaterSwitching output streamSwitching output stream")))
      << out;
}

TEST_F(Console, PrintfCutsCallbackTextAt1023Characters) {
  DEBUG_CONSOLE_printf("%s!", std::string(2000, 'y').c_str());
  EXPECT_EQ(gCalls, (std::vector<std::string>{std::string(1023, 'y')}));
}

// Any width but 1 and 2 reads 32-bit units, a cut unit only the bytes there;
// a limit shows the start and the last 16 bytes, and limit + 16 reaches the end.
TEST_F(Console, DumpDataWidthsAndLimit) {
  DEBUG_CONSOLE_setLogVoraneCallback(nullptr);
  alignas(8) uint8_t d[64];
  for (int i = 0; i < 64; ++i) d[i] = static_cast<uint8_t>(i < 16 ? 'A' + i : i);
  const struct { uint32_t length; int32_t limit; uint32_t width; const char *title; } cases[] = {
      {20, 0, 1, "block"}, {20, -1, 2, nullptr}, {8, 0, 3, nullptr}, {6, 0, 4, nullptr}, {3, 0, 2, nullptr},
      {0, 0, 1, "empty"}, {64, 16, 4, "cut"}, {64, 20, 4, nullptr}, {64, 48, 4, nullptr}, {64, 100, 4, nullptr}};
  std::string all;
  for (const auto &c : cases) {
    std::string out = CaptureStdout([&] { DEBUG_CONSOLE_dump_data(d, c.length, c.limit, c.width, c.title); });
    for (uintptr_t at = 0; at < 64; at += 16) {  // lines carry the unit's address
      char addr[16];
      std::snprintf(addr, sizeof addr, "%08X: ", static_cast<uint32_t>(reinterpret_cast<uintptr_t>(d) + at));
      for (size_t pos; (pos = out.find(addr)) != std::string::npos;) out.replace(pos, 10, "d+" + std::to_string(at) + ": ");
    }
    all += "-- " + std::to_string(c.length) + " " + std::to_string(c.limit) + " " + std::to_string(c.width) + "\n" + out;
  }
  ExpectGolden("console_dump_data", all);
}

}  // namespace
