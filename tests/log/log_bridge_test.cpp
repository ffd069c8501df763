// The toolkit bridge: debug-console text assembled into DEBUG lines.
#include <gtest/gtest.h>

#include "kel/debug_console.h"
#include "log/log_engine.h"
#include "log_test_util.h"

namespace {

using kel::log::logEngine;
using namespace kel::test;

TEST(LogBridge, PiecesBecomeOneDebugLineAtTheLineFeed) {
  TempDir dir;
  InFreshProcess([&] {
    ASSERT_EQ(LOG_init(LOG_APP_KEL, LOG_from_vorane, dir.path().c_str()), 0u);
    for (const char *piece : {"RSA", " ", "ok", "\r\n"}) LOG_from_vorane(piece);
    LOG_from_vorane(nullptr);
    LOG_from_vorane("\n");                    // nothing pending: an empty line
    LOG_from_vorane("two\r\nlines\r\ntail");  // "tail" stays pending
    DEBUG_CONSOLE_printString1Int1(0, "; value ", -42);
    DEBUG_CONSOLE_printNewLine(0, nullptr);
    std::vector<std::string> lines = SplitLines(KelLog(dir.path()));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_TRUE(std::regex_match(lines[0], LinePattern("KEL", "DEBUG", "LOG_from_vorane", "log", "RSA ok\r")))
        << lines[0];
    EXPECT_EQ(Messages(dir / "app-kel.log"),
              (std::vector<std::string>{"RSA ok\r", "\r", "two\r", "lines\r", "tail; value -42\r"}));

    // Long text goes out in 1022-character lines (cut to the engine's 1023).
    std::string text;
    for (int i = 0; i < 2000; ++i) text += static_cast<char>('a' + i % 26);
    CaptureStdout([&] { LOG_from_vorane(text.c_str()); });
    EXPECT_EQ(std::string(logEngine.toolkitLine), text.substr(1022));
    std::string last = SplitLines(KelLog(dir.path())).back();
    EXPECT_EQ(last.size(), 1023u);
    EXPECT_EQ(MessageOf(last), text.substr(0, MessageOf(last).size()));
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
