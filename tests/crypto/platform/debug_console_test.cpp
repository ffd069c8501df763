// Debug console: class filtering, the exact text of every print function
// through the callback and through an output file, the dumps, and the
// choice of output stream.
#include "kel/debug_console.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace {

using kel::test::CaptureStdout;
using kel::test::ReadFile;

std::vector<std::string> g_calls;
void Record(const char *text) { g_calls.emplace_back(text); }

std::string Joined() {
  std::string all;
  for (const auto &c : g_calls) all += c;
  return all;
}

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/kel-console-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    m_errorClass = 0xFFFFFFFFu;
    g_calls.clear();
    DEBUG_CONSOLE_setLogVoraneCallback(Record);
  }
  void TearDown() override {
    // A failed open forgets the current stream; stdout is taken on next use.
    DEBUG_CONSOLE_setLogVoraneCallback(nullptr);
    m_errorClass = 0;
    CaptureStdout([] { DEBUG_CONSOLE_setOutput("/nonexistent-kel-dir/reset"); });
    m_errorClass = 0xFFFFFFFFu;
    std::filesystem::remove_all(dir_);
  }
  std::string dir_;
};

struct PrintCase {
  const char *name;
  std::function<void(uint32_t)> print;
  std::string expected;
};

const std::string kLong(300, 'x');

const std::vector<PrintCase> &PrintCases() {
  static const std::vector<PrintCase> cases = {
      {"printString", [](uint32_t c) { DEBUG_CONSOLE_printString(c, "abc"); }, "abc"},
      {"printString null", [](uint32_t c) { DEBUG_CONSOLE_printString(c, nullptr); }, ""},
      {"printString 300", [](uint32_t c) { DEBUG_CONSOLE_printString(c, kLong.c_str()); }, std::string(256, 'x')},
      {"printNewLine", [](uint32_t c) { DEBUG_CONSOLE_printNewLine(c, "abc"); }, "abc\r\n"},
      {"printNewLine null", [](uint32_t c) { DEBUG_CONSOLE_printNewLine(c, nullptr); }, "\r\n"},
      {"printNewLine 300", [](uint32_t c) { DEBUG_CONSOLE_printNewLine(c, kLong.c_str()); },
       std::string(256, 'x') + "\r\n"},
      {"printInteger", [](uint32_t c) { DEBUG_CONSOLE_printInteger(c, -5800); }, "-5800"},
      {"printInteger2", [](uint32_t c) { DEBUG_CONSOLE_printInteger2(c, 1, -2); }, "1-2"},
      {"printInteger3", [](uint32_t c) { DEBUG_CONSOLE_printInteger3(c, 1, 2, 3); }, "123\r\n"},
      {"printInteger4", [](uint32_t c) { DEBUG_CONSOLE_printInteger4(c, INT32_MIN, 0, -1, INT32_MAX); },
       "-21474836480-12147483647\r\n"},
      {"printUnsignedInteger", [](uint32_t c) { DEBUG_CONSOLE_printUnsignedInteger(c, 4294967295u); }, "4294967295"},
      {"printUnsignedInteger2", [](uint32_t c) { DEBUG_CONSOLE_printUnsignedInteger2(c, 1, 2); }, "12\r\n"},
      {"printUnsignedInteger3", [](uint32_t c) { DEBUG_CONSOLE_printUnsignedInteger3(c, 1, 2, 3); }, "123\r\n"},
      {"printUnsignedInteger4", [](uint32_t c) { DEBUG_CONSOLE_printUnsignedInteger4(c, 0, 10, 4294967295u, 7); },
       "01042949672957\r\n"},
      {"hexByte", [](uint32_t c) { DEBUG_CONSOLE_hexByte(c, 0x0a); }, "0a"},
      {"hexInt", [](uint32_t c) { DEBUG_CONSOLE_hexInt(c, 0x1a); }, "0000001a"},
      {"printHexInt2", [](uint32_t c) { DEBUG_CONSOLE_printHexInt2(c, 0xdeadbeef, 1); }, "deadbeef00000001\r\n"},
      {"printHexInt3", [](uint32_t c) { DEBUG_CONSOLE_printHexInt3(c, 1, 2, 0xffffffff); },
       "0000000100000002ffffffff\r\n"},
      {"printHexInt4", [](uint32_t c) { DEBUG_CONSOLE_printHexInt4(c, 1, 2, 3, 0xabc); },
       "00000001000000020000000300000abc\r\n"},
      {"printByte", [](uint32_t c) { DEBUG_CONSOLE_printByte(c, 'Q'); }, "Q"},
      {"printError", [](uint32_t c) { DEBUG_CONSOLE_printError(c, "failed: ", -5801); }, "failed: -5801\r\n"},
      {"printError null", [](uint32_t c) { DEBUG_CONSOLE_printError(c, nullptr, 3); }, "3\r\n"},
      {"print3", [](uint32_t c) { DEBUG_CONSOLE_print3(c, "a", "bc", "d"); }, "abcd\r\n"},
      {"print3 nulls", [](uint32_t c) { DEBUG_CONSOLE_print3(c, nullptr, "b", nullptr); }, "b\r\n"},
      {"printString2", [](uint32_t c) { DEBUG_CONSOLE_printString2(c, "ab", "cd"); }, "abcd"},
      {"printString1Int1", [](uint32_t c) { DEBUG_CONSOLE_printString1Int1(c, "n=", -7); }, "n=-7"},
      {"printString1Int1 null", [](uint32_t c) { DEBUG_CONSOLE_printString1Int1(c, nullptr, 7); }, "7"},
      {"printString1HexInt1", [](uint32_t c) { DEBUG_CONSOLE_printString1HexInt1(c, "h=", 0xff); }, "h=000000ff"},
      {"printString2Int2", [](uint32_t c) { DEBUG_CONSOLE_printString2Int2(c, "a=", 1, " b=", -2); }, "a=1 b=-2"},
      {"printString2HexInt2", [](uint32_t c) { DEBUG_CONSOLE_printString2HexInt2(c, "a=", 1, nullptr, 0x10); },
       "a=0000000100000010"},
      {"printAsciiIPAddr", [](uint32_t c) { DEBUG_CONSOLE_printAsciiIPAddr(c, 0xC0A80101u); }, "0c0.0a8.001.001"},
      {"printString1AsciiIPAddr", [](uint32_t c) { DEBUG_CONSOLE_printString1AsciiIPAddr(c, "ip ", 0x0AFF0009u); },
       "ip 00a.0ff.000.009"},
  };
  return cases;
}

TEST_F(ConsoleTest, EveryPrintFunctionThroughTheCallbackOneCharacterPerCall) {
  std::string onStdout = CaptureStdout([] {
    for (const auto &c : PrintCases()) {
      g_calls.clear();
      c.print(0);
      EXPECT_EQ(Joined(), c.expected) << c.name;
      for (const auto &call : g_calls) EXPECT_EQ(call.size(), 1u) << c.name << ": piece \"" << call << "\"";
    }
  });
  EXPECT_EQ(onStdout, "") << "the callback takes precedence over the stream";
}

TEST_F(ConsoleTest, EveryPrintFunctionThroughAnOutputFile) {
  DEBUG_CONSOLE_setLogVoraneCallback(nullptr);
  std::string path = dir_ + "/console.txt";
  ASSERT_TRUE(kel::test::WriteFile(path, "old content"));
  std::string switching = CaptureStdout([&] { ASSERT_EQ(DEBUG_CONSOLE_setOutput(path.c_str()), 0); });
  EXPECT_EQ(switching, "Switching output stream");
  std::string expected;
  std::string onStdout = CaptureStdout([&] {
    for (const auto &c : PrintCases()) {
      c.print(8);
      expected += c.expected;
    }
  });
  EXPECT_EQ(onStdout, "");
  EXPECT_EQ(ReadFile(path), expected) << "opened with truncation";
}

TEST_F(ConsoleTest, ClassFiltering) {
  struct Filter {
    uint32_t mask, errorClass;
    bool prints;
  };
  const Filter filters[] = {{0, 0, true},
                            {0, 8, false},
                            {8, 8, true},
                            {8, 12, false},
                            {12, 4, true},
                            {12, 12, true},
                            {0xFFFFFFFFu, 32, true},
                            {~0x400000u, 0x400000, false}};
  for (const auto &f : filters) {
    m_errorClass = f.mask;
    for (const auto &c : PrintCases()) {
      g_calls.clear();
      c.print(f.errorClass);
      EXPECT_EQ(Joined(), f.prints ? c.expected : "") << c.name << " class " << f.errorClass << " mask " << f.mask;
    }
  }
}

TEST_F(ConsoleTest, PrintfCutsCallbackTextAt1023Characters) {
  DEBUG_CONSOLE_printf("%s!", std::string(2000, 'y').c_str());
  DEBUG_CONSOLE_printf("%d-%s", 12, "x");
  EXPECT_EQ(g_calls, (std::vector<std::string>{std::string(1023, 'y'), "12-x"}));
}

TEST_F(ConsoleTest, HexDumpPadsTheShortLastLine) {
  const uint8_t data[20] = {'A', 'B', 'C', 'D', 'E', 'F', 'G',  'H',  'I',  'J',
                            'K', 'L', 'M', 'N', 'O', 'P', 0x00, 0x7f, 0x20, 0x41};
  EXPECT_EQ(DEBUG_CONSOLE_hexDump(0, data, 20), 32u);
  EXPECT_EQ(Joined(),
            "  00000000: 41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50     ABCDEFGHIJKLMNOP\r\n"
            "  00000010: 00 7f 20 41 " +
                std::string(12 * 3, ' ') + "    .. A\r\n");
  for (uint32_t length : {0u, 1u, 16u, 17u}) {
    g_calls.clear();
    EXPECT_EQ(DEBUG_CONSOLE_hexDump(0, data, length), (length + 15) / 16 * 16) << length;
    std::string out = Joined();
    EXPECT_EQ(static_cast<uint32_t>(std::count(out.begin(), out.end(), '\n')), (length + 15) / 16) << length;
  }
  g_calls.clear();
  m_errorClass = 8;
  EXPECT_EQ(DEBUG_CONSOLE_hexDump(4, data, 20), 32u) << "filtered out, the offset still returns";
  EXPECT_EQ(Joined(), "");
}

// dump_data: lines carry the unit's address.
std::string Addr(const void *p) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X: ", static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)));
  return text;
}

TEST_F(ConsoleTest, DumpDataWidthsAndLimit) {
  DEBUG_CONSOLE_setLogVoraneCallback(nullptr);
  alignas(8) uint8_t d[64];
  for (int i = 0; i < 64; ++i) d[i] = static_cast<uint8_t>(i < 16 ? 'A' + i : i);  // A..P, then 16..63
  auto dump = [&](uint32_t length, int32_t limit, uint32_t width, const char *title) {
    return CaptureStdout([&] { DEBUG_CONSOLE_dump_data(d, length, limit, width, title); });
  };
  const std::string line0 = Addr(d) + "44434241 48474645 4C4B4A49 504F4E4D  | \n";
  const std::string line48 = Addr(d + 48) + "33323130 37363534 3B3A3938 3F3E3D3C  | \n";
  EXPECT_EQ(dump(20, 0, 1, "block"), "===== Dump: block [20]\n" + Addr(d) +
                                         "41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50  | ABCDEFGHIJKLMNOP\n" +
                                         Addr(d + 16) + "10 11 12 13  | ....\n");
  EXPECT_EQ(dump(20, -1, 2, nullptr),
            Addr(d) + "4241 4443 4645 4847 4A49 4C4B 4E4D 504F  | \n" + Addr(d + 16) + "1110 1312  | \n");
  EXPECT_EQ(dump(20, 0, 4, nullptr), line0 + Addr(d + 16) + "13121110  | \n");
  EXPECT_EQ(dump(8, 0, 3, nullptr), Addr(d) + "44434241 48474645  | \n") << "any other width reads 32-bit units";
  // A unit cut short by the end of the data reads only the bytes there.
  EXPECT_EQ(dump(6, 0, 4, nullptr), Addr(d) + "44434241 00004645  | \n");
  EXPECT_EQ(dump(3, 0, 2, nullptr), Addr(d) + "4241 0043  | \n");
  EXPECT_EQ(dump(0, 0, 1, "empty"), "");
  // A limit shows the start and the last 16 bytes.
  EXPECT_EQ(dump(64, 16, 4, "cut"), "===== Dump: cut [64]\n" + line0 + "...\n" + line48);
  EXPECT_EQ(dump(64, 20, 4, nullptr), line0 + Addr(d + 16) + "13121110  | \n" + "...\n" + line48);
  std::string all = dump(64, 48, 4, nullptr);
  EXPECT_EQ(all, dump(64, 100, 4, nullptr)) << "limit + 16 reaches the end";
  EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 4);
  EXPECT_EQ(all.find("..."), std::string::npos);
}

TEST_F(ConsoleTest, SetOutputMovesBetweenFilesAndFallsBackToStdout) {
  DEBUG_CONSOLE_setLogVoraneCallback(nullptr);
  std::string first = dir_ + "/first.txt", second = dir_ + "/second.txt", missing = dir_ + "/no-such-dir/c.txt";
  std::string out = CaptureStdout([&] {
    EXPECT_EQ(DEBUG_CONSOLE_setOutput(first.c_str()), 0);
    DEBUG_CONSOLE_printString(0, "one");
    EXPECT_EQ(DEBUG_CONSOLE_setOutput(second.c_str()), 0);
    DEBUG_CONSOLE_printNewLine(0, "two");
    EXPECT_EQ(DEBUG_CONSOLE_setOutput(missing.c_str()), -14201);
    DEBUG_CONSOLE_printString(0, "later");
  });
  EXPECT_EQ(ReadFile(first), "oneSwitching output stream");
  EXPECT_EQ(ReadFile(second), "two\r\nSwitching output stream");
  // The message names the source line: take it from the text, then compare all.
  size_t open = out.find('['), close = out.find(']');
  ASSERT_TRUE(open != std::string::npos && close != std::string::npos && close > open + 1) << out;
  std::string line = out.substr(open + 1, close - open - 1);
  EXPECT_EQ(line.find_first_not_of("0123456789"), std::string::npos) << line;
  EXPECT_EQ(out, "Switching output streamDEBUG_CONSOLE_setOutput[" + line + "]: Failed to open " + missing +
                     " for writing\nlater");
  // Without the console's own class the failure is silent.
  m_errorClass = ~0x400000u;
  out = CaptureStdout([&] {
    EXPECT_EQ(DEBUG_CONSOLE_setOutput(missing.c_str()), -14201);
    EXPECT_EQ(DEBUG_CONSOLE_setOutput(nullptr), -14201);
  });
  EXPECT_EQ(out, "Switching output streamSwitching output stream");
}

}  // namespace
