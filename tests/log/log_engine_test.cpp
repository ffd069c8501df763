// The log engine: line format, severities, print level, outputs, clipping,
// the engine's lifecycle, hex dumps and the error names.
#include <gtest/gtest.h>

#include "kel/log.h"
#include "log/log_engine.h"
#include "log_test_util.h"

namespace {

using kel::log::logEngine;
using namespace kel::test;

// Starts the engine for application 0 in dir and returns the log file's path.
std::string StartIn(const TempDir &dir, uint32_t app = LOG_APP_KEL) {
  EXPECT_EQ(LOG_init(app, nullptr, dir.path().c_str()), 0u);
  return dir / "app-kel.log";
}

TEST(LogEngine, HeaderedLinesPrintLevelAndSeveritiesAboveFour) {
  TempDir dir;
  InFreshProcess([&] {
    std::string file = StartIn(dir);
    const char *names[] = {"ERROR", "WARN", "INFO", "DEBUG", "TRACE"};
    for (uint32_t level = 0; level < 5; ++level)
      LOG_printf(level, "log_test", "Caller", 40, "value %d of %s\r\n", static_cast<int>(level), "five");
    LOG_set_print_level(1);
    LOG_set_print_level(7);  // ignored: still ERROR and WARN
    for (uint32_t level = 0; level < 5; ++level) LOG_printf(level, "t", "f", 1, "level %u\r\n", level);
    LOG_set_print_level(0);  // the notice goes out whatever the threshold
    LOG_printf(5, "src", "Fn", 12, "the message\r\n");
    LOG_printf(0xFFFFFFFFu, "src", "Fn", 13, "max\r\n");
    std::vector<std::string> lines = SplitLines(ReadFile(file));
    ASSERT_EQ(lines.size(), 11u);
    for (uint32_t level = 0; level < 5; ++level) {
      EXPECT_TRUE(std::regex_match(lines[level], LinePattern("KEL", names[level], "Caller", "log_test",
                                                             "value " + std::to_string(level) + " of five\r")))
          << lines[level];
      EXPECT_NE(lines[level].find(":log_test:40] "), std::string::npos);
    }
    EXPECT_EQ(MessageOf(lines[5]), "level 0\r");
    EXPECT_EQ(MessageOf(lines[6]), "level 1\r");
    EXPECT_TRUE(std::regex_match(lines[7], LinePattern("KEL", "ERROR", "Fn", "src", "Wrong log severity: 5\r")));
    EXPECT_TRUE(std::regex_match(lines[8], LinePattern("KEL", "ERROR", "Fn", "src", "the message\r")));
    EXPECT_EQ(MessageOf(lines[9]), "Wrong log severity: -1\r");
  });
}

TEST(LogEngine, OptionMaskRoutesOutputsAndIgnoresEightOrMore) {
  TempDir dir;
  InFreshProcess([&] {
    std::string file = StartIn(dir);
    std::string out = CaptureStdout([] {
      LOG_printf(LOG_LEVEL_INFO, "t", "f", 1, "file only\n");  // default after LOG_init: 4
      LOG_set_option(LOG_OPTION_STDOUT);
      LOG_set_option(8);  // ignored
      LOG_printf(LOG_LEVEL_INFO, "t", "f", 1, "stdout only\n");
      LOG_set_option(LOG_OPTION_STDOUT | LOG_OPTION_FILE);
      LOG_printf(LOG_LEVEL_INFO, "t", "f", 1, "both\n");
      LOG_set_option(0);
      LOG_printf(LOG_LEVEL_ERROR, "t", "f", 1, "nowhere\n");
    });
    std::vector<std::string> outMessages;
    for (const auto &line : SplitLines(out)) outMessages.push_back(MessageOf(line));
    EXPECT_EQ(Messages(file), (std::vector<std::string>{"file only", "both"}));
    EXPECT_EQ(outMessages, (std::vector<std::string>{"stdout only", "both"}));
  });
}

TEST(LogEngine, OverlongAndNullTextsAreClippedOrReported) {
  TempDir dir;
  InFreshProcess([&] {
    std::string file = StartIn(dir);
    std::string huge(5000, 'm'), longName(2000, 'F');
    std::string out = CaptureStdout([&] {
      LOG_printf(LOG_LEVEL_INFO, "t", "f", 1, "%s\r\n", huge.c_str());
      LOG_printf(LOG_LEVEL_INFO, "t", longName.c_str(), 1, "lost\r\n");  // the header alone fills the buffer
    });
    std::string content = ReadFile(file);
    ASSERT_EQ(content.size(), 2046u);  // two lines of 1023, no line end survives the cut
    EXPECT_EQ(MessageOf(content.substr(0, 1023)), std::string(1023 - content.find("] ") - 2, 'm'));
    EXPECT_EQ(content.find("lost"), std::string::npos);
    EXPECT_TRUE(std::regex_match(
        out, std::regex(R"((LOG ERROR \[LOG_printf\(\):log:[0-9]+\] log buffer overflow\n)+)")))
        << out;

    ASSERT_EQ(truncate(file.c_str(), 0), 0);
    out = CaptureStdout([] {
      LOG_printf(LOG_LEVEL_INFO, nullptr, nullptr, 3, "named nothing\n");
      LOG_printf(LOG_LEVEL_INFO, "t", "f", 4, nullptr);
      LOG_dump_bytes(LOG_LEVEL_INFO, "t", "f", 5, nullptr, 8);
    });
    std::vector<std::string> lines = SplitLines(ReadFile(file));
    ASSERT_EQ(lines.size(), 4u) << ReadFile(file);
    EXPECT_TRUE(std::regex_match(lines[0], LinePattern("KEL", "INFO", "\\(null\\)", "\\(null\\)", "named nothing")));
    // The null format gives a line with an empty message (the header ends the
    // line, so the dump's start line follows on the same file line).
    EXPECT_NE(lines[1].find("] ====DUMP START (8) ==="), std::string::npos) << lines[1];
    EXPECT_EQ(MessageOf(lines[2]), "");
    EXPECT_NE(out.find("] message print failed\n"), std::string::npos) << out;
  });
}

TEST(LogEngine, LifecycleRefusalsAndSilenceOutsideIt) {
  TempDir dir, second;
  InFreshProcess([&] {
    std::string out = CaptureStdout([&] {
      LOG_set_option(LOG_OPTION_STDOUT);  // stored, then overwritten by LOG_init
      LOG_printf(LOG_LEVEL_ERROR, "t", "f", 1, "before\n");
      LOG_dump_bytes(LOG_LEVEL_ERROR, "t", "f", 1, "abc", 3);
      LOG_from_vorane("toolkit\r\n");
      LOG_deinit();  // its assertion report goes nowhere
      EXPECT_EQ(LOG_init(6, nullptr, dir.path().c_str()), 6u);
      EXPECT_EQ(LOG_init(0xFFFFFFFFu, nullptr, dir.path().c_str()), 6u);
    });
    EXPECT_EQ(out, "");
    EXPECT_NE(logEngine.magic, LOG_MAGIC_VALUE);

    std::string file = StartIn(dir, LOG_APP_CLI);
    EXPECT_EQ(logEngine.option, LOG_OPTION_FILE);
    LOG_set_print_level(LOG_LEVEL_WARN);
    EXPECT_EQ(LOG_init(LOG_APP_VPN, nullptr, second.path().c_str()), static_cast<uint32_t>(KEL_ERROR_ALREADY));
    EXPECT_EQ(LOG_init(9, nullptr, nullptr), static_cast<uint32_t>(KEL_ERROR_ALREADY));
    LOG_printf(LOG_LEVEL_INFO, "t", "f", 1, "filtered\n");  // the print level stays in force
    LOG_deinit();
    EXPECT_EQ(logEngine.printMutex, nullptr);
    EXPECT_EQ(logEngine.fileName, nullptr);
    out = CaptureStdout([] {
      LOG_set_option(LOG_OPTION_STDOUT | LOG_OPTION_FILE);
      LOG_printf(LOG_LEVEL_ERROR, "t", "f", 1, "after\n");
      LOG_from_vorane("toolkit\r\n");
      LOG_deinit();
    });
    EXPECT_EQ(out, "");
    std::vector<std::string> lines = SplitLines(ReadFile(file));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(std::regex_match(lines[0], LinePattern("CLI", "ERROR", "LOG_init", "log",
                                                       "Assertion \"LOG_MAGIC_VALUE != logEngine.magic\" failed\r")))
        << lines[0];
    EXPECT_EQ(MessageOf(lines[1]), "Assertion \"LOG_MAGIC_VALUE != logEngine.magic\" failed\r");
    EXPECT_EQ(MessageOf(lines[2]), "Assertion \"LOG_APP_MAX > app\" failed\r");
    EXPECT_FALSE(Exists(second / "app-vpn.log"));
  });
}

TEST(LogEngine, HexDumpPrintsSixteenBytesALineInGroupsOfFour) {
  TempDir dir;
  InFreshProcess([&] {
    std::string file = StartIn(dir);
    unsigned char bytes[20];
    for (int i = 0; i < 20; ++i) bytes[i] = static_cast<unsigned char>(i * 13 + 0xa0);
    LOG_dump_bytes(LOG_LEVEL_DEBUG, "t", "Dump", 7, bytes, 0);
    LOG_dump_bytes(LOG_LEVEL_DEBUG, "t", "Dump", 7, bytes, 20);
    LOG_set_print_level(LOG_LEVEL_INFO);
    LOG_dump_bytes(LOG_LEVEL_DEBUG, "t", "Dump", 7, bytes, 20);  // below the print level: nothing
    EXPECT_EQ(Messages(file), (std::vector<std::string>{
                                  "====DUMP START (0) ===",
                                  "",
                                  "==== DUMP END ===",
                                  "====DUMP START (20) ===",
                                  "a0 ad ba c7    d4 e1 ee fb    08 15 22 2f    3c 49 56 63 ",
                                  "70 7d 8a 97    ",
                                  "==== DUMP END ===",
                              }));
  });
}

TEST(LogEngine, ErrorNames) {
  EXPECT_STREQ(LOG_error_str(KEL_ERROR_NOERROR), "KEL_ERROR_NOERROR");
  EXPECT_STREQ(LOG_error_str(KEL_ERROR_BADARG), "KEL_ERROR_BADARG");
  EXPECT_STREQ(LOG_error_str(KEL_ERROR_READONLYFS), "KEL_ERROR_READONLYFS");
  EXPECT_STREQ(LOG_error_str(KEL_ERROR_NO_PROFILE_LOADED), "KEL_ERROR_NO_PROFILE_LOADED");
  EXPECT_EQ(KEL_ERROR_NO_PROFILE_LOADED + 1, KEL_ERROR_MAX);
  TempDir dir;
  InFreshProcess([&] {
    std::string file = StartIn(dir);
    EXPECT_STREQ(LOG_error_str(KEL_ERROR_MAX), "wrong_error_code");
    EXPECT_STREQ(LOG_error_str(0xFFFFFFFFu), "wrong_error_code");
    std::vector<std::string> lines = SplitLines(ReadFile(file));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], LinePattern("KEL", "ERROR", "LOG_error_str", "log",
                                                       "Assertion \"0 <= error && KEL_ERROR_MAX > error\" failed\r")));
  });
}

}  // namespace
