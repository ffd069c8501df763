// The toolkit bridge: debug-console text assembled into DEBUG lines.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kel/debug_console.h"
#include "kel/log.h"
#include "log/log_engine.h"
#include "log_test_util.h"

namespace {

using kel::log::logEngine;
using kel::test::InFreshProcess;
using kel::test::LinePattern;
using kel::test::MessageOf;
using kel::test::ReadFile;
using kel::test::SplitLines;
using kel::test::TempDir;

std::vector<std::string> Messages(const std::string &path) {
  std::vector<std::string> out;
  for (const auto &line : SplitLines(ReadFile(path))) out.push_back(MessageOf(line));
  return out;
}

TEST(LogBridge, PiecesBecomeOneDebugLineAtTheLineFeed) {
  TempDir dir;
  InFreshProcess([&] {
    ASSERT_EQ(LOG_init(LOG_APP_KEL, LOG_from_vorane, dir.path().c_str()), 0u);
    for (const char *piece : {"RSA", " ", "ok", "\r\n"}) LOG_from_vorane(piece);
    LOG_from_vorane(nullptr);
    LOG_from_vorane("\n");       // nothing pending: an empty line
    LOG_from_vorane("two\r\nlines\r\ntail");  // "tail" stays pending
    std::vector<std::string> lines = SplitLines(ReadFile(dir / "app-kel.log"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(std::regex_match(lines[0], LinePattern("KEL", "DEBUG", "LOG_from_vorane", "log", "RSA ok\r")))
        << lines[0];
    EXPECT_EQ(MessageOf(lines[1]), "\r");
    EXPECT_EQ(MessageOf(lines[2]), "two\r");
    EXPECT_EQ(MessageOf(lines[3]), "lines\r");
    EXPECT_STREQ(logEngine.toolkitLine, "tail");
  });
}

TEST(LogBridge, ConsoleOutputArrivesThroughTheRegisteredCallback) {
  TempDir dir;
  InFreshProcess([&] {
    ASSERT_EQ(LOG_init(LOG_APP_KEL, LOG_from_vorane, dir.path().c_str()), 0u);
    DEBUG_CONSOLE_printNewLine(0, "toolkit says hello");
    DEBUG_CONSOLE_printString1Int1(0, "value ", -42);
    DEBUG_CONSOLE_printNewLine(0, nullptr);
    const uint8_t bytes[4] = {0xde, 0xad, 0xbe, 0xef};
    DEBUG_CONSOLE_hexDump(0, bytes, sizeof bytes);
    std::vector<std::string> messages = Messages(dir / "app-kel.log");
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], "toolkit says hello\r");
    EXPECT_EQ(messages[1], "value -42\r");
    EXPECT_EQ(messages[2].rfind("  00000000: de ad be ef ", 0), 0u) << messages[2];
  });
}

TEST(LogBridge, LongTextIsWrittenIn1022CharacterLines) {
  TempDir dir;
  InFreshProcess([&] {
    ASSERT_EQ(LOG_init(LOG_APP_KEL, LOG_from_vorane, dir.path().c_str()), 0u);
    std::string text;
    for (int i = 0; i < 2000; ++i) text += static_cast<char>('a' + i % 26);
    kel::test::CaptureStdout([&] { LOG_from_vorane(text.c_str()); });
    EXPECT_EQ(std::string(logEngine.toolkitLine), text.substr(1022));
    std::string content = ReadFile(dir / "app-kel.log");
    // One DEBUG line, cut to the engine's 1023 characters: a prefix of the text.
    ASSERT_EQ(content.size(), 1023u);
    EXPECT_EQ(MessageOf(content), text.substr(0, MessageOf(content).size()));
  });
}

TEST(LogBridge, DiscardsTextWhileDebugLinesAreNotPrinted) {
  TempDir dir;
  InFreshProcess([&] {
    ASSERT_EQ(LOG_init(LOG_APP_KEL, LOG_from_vorane, dir.path().c_str()), 0u);
    LOG_from_vorane("pending");
    LOG_set_print_level(LOG_LEVEL_INFO);
    LOG_from_vorane("more\r\n");
    EXPECT_STREQ(logEngine.toolkitLine, "");
    LOG_set_print_level(LOG_LEVEL_DEBUG);
    LOG_from_vorane("fresh\r\n");
    EXPECT_EQ(Messages(dir / "app-kel.log"), std::vector<std::string>{"fresh\r"});
  });
}

}  // namespace
