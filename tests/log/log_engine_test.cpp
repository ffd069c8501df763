// The log engine: line format, severities, print level, outputs, clipping,
// the engine's lifecycle, hex dumps and the error names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kel/log.h"
#include "log/log_engine.h"
#include "log_test_util.h"

namespace {

using kel::log::logEngine;
using kel::test::CaptureStdout;
using kel::test::InFreshProcess;
using kel::test::LinePattern;
using kel::test::MessageOf;
using kel::test::ReadFile;
using kel::test::SplitLines;
using kel::test::TempDir;

// Starts the engine for application 0 in dir and returns the log file's path.
std::string StartIn(const TempDir &dir, uint32_t app = LOG_APP_KEL) {
  EXPECT_EQ(LOG_init(app, nullptr, dir.path().c_str()), 0u);
  return dir / "app-kel.log";
}

TEST(LogEngine, WritesOneHeaderedLinePerCallAtEverySeverity) {
  TempDir dir;
  InFreshProcess([&] {
    std::string file = StartIn(dir);
    const char *names[] = {"ERROR", "WARN", "INFO", "DEBUG", "TRACE"};
    for (uint32_t level = 0; level < 5; ++level)
      LOG_printf(level, "log_test", "Caller", 40 + level, "value %d of %s\r\n", static_cast<int>(level), "five");
    std::vector<std::string> lines = SplitLines(ReadFile(file));
    ASSERT_EQ(lines.size(), 5u);
    for (uint32_t level = 0; level < 5; ++level) {
      EXPECT_TRUE(std::regex_match(lines[level], LinePattern("KEL", names[level], "Caller", "log_test",
                                                             "value " + std::to_string(level) + " of five\r")))
          << lines[level];
      EXPECT_NE(lines[level].find(":log_test:" + std::to_string(40 + level) + "] "), std::string::npos);
    }
  });
}

TEST(LogEngine, PrintLevelSelectsSeveritiesAndIgnoresValuesAboveFour) {
  TempDir dir;
  InFreshProcess([&] {
    std::string file = StartIn(dir);
    auto all_levels = [] {
      for (uint32_t level = 0; level < 5; ++level) LOG_printf(level, "t", "f", 1, "level %u\n", level);
    };
    LOG_set_print_level(0);
    all_levels();
    LOG_set_print_level(7);  // ignored: still ERROR only
    all_levels();
    LOG_set_print_level(2);
    all_levels();
    std::vector<std::string> messages;
    for (const auto &line : SplitLines(ReadFile(file))) messages.push_back(MessageOf(line));
    EXPECT_EQ(messages, (std::vector<std::string>{"level 0", "level 0", "level 0", "level 1", "level 2"}));
  });
}

TEST(LogEngine, OptionMaskRoutesOutputsAndIgnoresEightOrMore) {
  TempDir dir;
  InFreshProcess([&] {
    std::string file = StartIn(dir);
    std::string out = CaptureStdout([] {
      LOG_printf(LOG_LEVEL_INFO, "t", "f", 1, "file only\n");  // default after LOG_init: 4
      LOG_set_option(LOG_OPTION_STDOUT);
      LOG_printf(LOG_LEVEL_INFO, "t", "f", 1, "stdout only\n");
      LOG_set_option(8);  // ignored
      LOG_printf(LOG_LEVEL_INFO, "t", "f", 1, "still stdout only\n");
      LOG_set_option(LOG_OPTION_STDOUT | LOG_OPTION_FILE);
      LOG_printf(LOG_LEVEL_INFO, "t", "f", 1, "both\n");
      LOG_set_option(0);
      LOG_printf(LOG_LEVEL_ERROR, "t", "f", 1, "nowhere\n");
    });
    std::vector<std::string> fileMessages, outMessages;
    for (const auto &line : SplitLines(ReadFile(file))) fileMessages.push_back(MessageOf(line));
    for (const auto &line : SplitLines(out)) outMessages.push_back(MessageOf(line));
    EXPECT_EQ(fileMessages, (std::vector<std::string>{"file only", "both"}));
    EXPECT_EQ(outMessages, (std::vector<std::string>{"stdout only", "still stdout only", "both"}));
  });
}

TEST(LogEngine, SeverityAboveFourSendsANoticeThenTheLineAsError) {
  TempDir dir;
  InFreshProcess([&] {
    std::string file = StartIn(dir);
    LOG_set_print_level(0);  // the notice goes out whatever the threshold
    LOG_printf(5, "src", "Fn", 12, "the message\r\n");
    LOG_printf(0xFFFFFFFFu, "src", "Fn", 13, "max\r\n");
    std::vector<std::string> lines = SplitLines(ReadFile(file));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(std::regex_match(lines[0], LinePattern("KEL", "ERROR", "Fn", "src", "Wrong log severity: 5\r")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], LinePattern("KEL", "ERROR", "Fn", "src", "the message\r"))) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], LinePattern("KEL", "ERROR", "Fn", "src", "Wrong log severity: -1\r")))
        << lines[2];
  });
}

TEST(LogEngine, OverlongTextIsClippedToOneLineOf1023AndReported) {
  TempDir dir;
  InFreshProcess([&] {
    std::string file = StartIn(dir);
    std::string huge(5000, 'm');
    std::string out = CaptureStdout([&] { LOG_printf(LOG_LEVEL_INFO, "t", "f", 1, "%s\r\n", huge.c_str()); });
    std::string content = ReadFile(file);
    ASSERT_EQ(content.size(), 1023u);  // no line end survives the cut
    EXPECT_EQ(MessageOf(content), std::string(1023 - content.find("] ") - 2, 'm'));
    EXPECT_TRUE(std::regex_match(out, std::regex(R"(LOG ERROR \[LOG_printf\(\):log:[0-9]+\] log buffer overflow\n)")))
        << out;

    // A header that alone fills the buffer: cut to 1023, the message dropped.
    std::string longName(2000, 'F');
    out = CaptureStdout([&] { LOG_printf(LOG_LEVEL_INFO, "t", longName.c_str(), 1, "lost\r\n"); });
    std::string both = ReadFile(file);
    ASSERT_EQ(both.size(), 2046u);
    EXPECT_EQ(both.find("lost"), std::string::npos);
    EXPECT_NE(out.find("] log buffer overflow\n"), std::string::npos) << out;
  });
}

TEST(LogEngine, NullTextsNeitherCrashNorLoseTheLine) {
  TempDir dir;
  InFreshProcess([&] {
    std::string file = StartIn(dir);
    std::string out = CaptureStdout([] {
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

TEST(LogEngine, SecondInitIsRefusedAndLoggedThroughTheRunningEngine) {
  TempDir first, second;
  InFreshProcess([&] {
    std::string file = StartIn(first);
    LOG_set_print_level(LOG_LEVEL_WARN);
    EXPECT_EQ(LOG_init(LOG_APP_VPN, nullptr, second.path().c_str()), static_cast<uint32_t>(KEL_ERROR_ALREADY));
    LOG_printf(LOG_LEVEL_WARN, "t", "f", 1, "after\n");
    LOG_printf(LOG_LEVEL_INFO, "t", "f", 1, "filtered\n");  // the print level stays in force
    std::vector<std::string> lines = SplitLines(ReadFile(file));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(
        lines[0], LinePattern("KEL", "ERROR", "LOG_init", "log", "Assertion \"LOG_MAGIC_VALUE != logEngine.magic\" failed\r")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], LinePattern("KEL", "WARN", "f", "t", "after")));
    EXPECT_FALSE(kel::test::Exists(second / "app-vpn.log"));
  });
}

TEST(LogEngine, PrintsNothingBeforeInitAndAfterDeinit) {
  TempDir dir;
  InFreshProcess([&] {
    std::string out = CaptureStdout([] {
      LOG_set_option(LOG_OPTION_STDOUT);  // stored, then overwritten by LOG_init
      LOG_set_print_level(0);
      LOG_printf(LOG_LEVEL_ERROR, "t", "f", 1, "before\n");
      LOG_dump_bytes(LOG_LEVEL_ERROR, "t", "f", 1, "abc", 3);
      LOG_from_vorane("toolkit\r\n");
      LOG_deinit();  // its assertion report goes nowhere
    });
    EXPECT_EQ(out, "");
    EXPECT_EQ(logEngine.magic, 0u);

    std::string file = StartIn(dir);
    EXPECT_EQ(logEngine.option, LOG_OPTION_FILE);
    EXPECT_EQ(logEngine.printThreshold, 5u);
    LOG_printf(LOG_LEVEL_TRACE, "t", "f", 1, "during\n");
    LOG_deinit();
    EXPECT_EQ(logEngine.printMutex, nullptr);
    EXPECT_EQ(logEngine.bridgeMutex, nullptr);
    EXPECT_EQ(logEngine.fileName, nullptr);
    out = CaptureStdout([] {
      LOG_set_option(LOG_OPTION_STDOUT | LOG_OPTION_FILE);
      LOG_printf(LOG_LEVEL_ERROR, "t", "f", 1, "after\n");
      LOG_dump_bytes(LOG_LEVEL_ERROR, "t", "f", 1, "abc", 3);
      LOG_from_vorane("toolkit\r\n");
      EXPECT_EQ(LOG_init(LOG_APP_KEL, nullptr, nullptr), static_cast<uint32_t>(KEL_ERROR_ALREADY));
      LOG_deinit();
    });
    EXPECT_EQ(out, "");
    EXPECT_EQ(SplitLines(ReadFile(file)).size(), 1u);
  });
}

TEST(LogEngine, ApplicationIndexOutsideTheTableIsRefused) {
  TempDir dir;
  InFreshProcess([&] {
    for (uint32_t app : {6u, 7u, 0xFFFFFFFFu}) {
      std::string out = CaptureStdout([&] { EXPECT_EQ(LOG_init(app, nullptr, dir.path().c_str()), 6u); });
      EXPECT_EQ(out, "");
      EXPECT_NE(logEngine.magic, LOG_MAGIC_VALUE);
    }
    // The engine stayed untouched: a valid start still works.
    std::string file = StartIn(dir, LOG_APP_CLI);
    EXPECT_EQ(LOG_init(9, nullptr, nullptr), static_cast<uint32_t>(KEL_ERROR_ALREADY));
    std::vector<std::string> lines = SplitLines(ReadFile(file));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(MessageOf(lines[0]), "Assertion \"LOG_MAGIC_VALUE != logEngine.magic\" failed\r");
    EXPECT_EQ(MessageOf(lines[1]), "Assertion \"LOG_APP_MAX > app\" failed\r");
    EXPECT_NE(lines[1].find("[CLI ERROR LOG_init():log:"), std::string::npos);
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
    std::vector<std::string> messages;
    for (const auto &line : SplitLines(ReadFile(file))) {
      EXPECT_TRUE(std::regex_match(line, LinePattern("KEL", "DEBUG", "Dump", "t", ".*"))) << line;
      messages.push_back(MessageOf(line));
    }
    EXPECT_EQ(messages, (std::vector<std::string>{
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

TEST(LogEngine, ErrorNamesMatchTheCodes) {
  struct Name {
    uint32_t code;
    const char *name;
  };
#define KEL_NAME(c) {c, #c}
  const Name names[] = {
      KEL_NAME(KEL_ERROR_NOERROR), KEL_NAME(KEL_ERROR_FAILED), KEL_NAME(KEL_ERROR_ALREADY),
      KEL_NAME(KEL_ERROR_UNSUPPORTED), KEL_NAME(KEL_ERROR_TERMINATED), KEL_NAME(KEL_ERROR_OSERROR),
      KEL_NAME(KEL_ERROR_BADARG), KEL_NAME(KEL_ERROR_BADID), KEL_NAME(KEL_ERROR_BADCONTEXT),
      KEL_NAME(KEL_ERROR_INCONSISTENT), KEL_NAME(KEL_ERROR_BUFFERTOOSMALL), KEL_NAME(KEL_ERROR_BUFFERTOOBIG),
      KEL_NAME(KEL_ERROR_INTERRUPTED), KEL_NAME(KEL_ERROR_TIMEOUT), KEL_NAME(KEL_ERROR_IO),
      KEL_NAME(KEL_ERROR_NOMEMORY), KEL_NAME(KEL_ERROR_NORESOURCE), KEL_NAME(KEL_ERROR_RESOURCEINUSE),
      KEL_NAME(KEL_ERROR_NODEVICEFOUND), KEL_NAME(KEL_ERROR_NOMORE), KEL_NAME(KEL_ERROR_NOSUCHOBJECT),
      KEL_NAME(KEL_ERROR_DUPOBJECT), KEL_NAME(KEL_ERROR_NOACCESS), KEL_NAME(KEL_ERROR_READONLY),
      KEL_NAME(KEL_ERROR_NOTCONNECTED), KEL_NAME(KEL_ERROR_CONNREFUSED), KEL_NAME(KEL_ERROR_CONNRESET),
      KEL_NAME(KEL_ERROR_READONLYFS), KEL_NAME(KEL_ERROR_FILENOTFOUND), KEL_NAME(KEL_ERROR_PROTOCOL_ERROR),
      KEL_NAME(KEL_ERROR_NACK), KEL_NAME(KEL_ERROR_KERNEL_MODULE), KEL_NAME(KEL_ERROR_NOT_ASSOCIATED),
      KEL_NAME(KEL_ERROR_BAD_MAC_ADDRESS), KEL_NAME(KEL_ERROR_TUN_DEVICE_OPEN_FAILED),
      KEL_NAME(KEL_ERROR_TUN_IFACE_CREATE_FAILED), KEL_NAME(KEL_ERROR_SOCKET_CREATE_FAILED),
      KEL_NAME(KEL_ERROR_IFACE_SET_ADDR_FAILED), KEL_NAME(KEL_ERROR_IFACE_SET_MTU_FAILED),
      KEL_NAME(KEL_ERROR_IFACE_GET_FLAGS_FAILED), KEL_NAME(KEL_ERROR_IFACE_SET_FLAGS_FAILED),
      KEL_NAME(KEL_ERROR_PEER_FAILED_VERIFICATION), KEL_NAME(KEL_ERROR_BAD_CERTIFICATE),
      KEL_NAME(KEL_ERROR_PROXY_AUTH_FAILED), KEL_NAME(KEL_ERROR_PKCS12_INCORRECT_PASSWORD),
      KEL_NAME(KEL_ERROR_CERT_STORAGE_INCORRECT_PASSWORD), KEL_NAME(KEL_ERROR_CANCELED),
      KEL_NAME(KEL_ERROR_NO_PASSWORD), KEL_NAME(KEL_ERROR_CERTIFICATE_VALIDATION_FAILED),
      KEL_NAME(KEL_ERROR_NO_PROFILE_LOADED),
  };
#undef KEL_NAME
  ASSERT_EQ(sizeof names / sizeof names[0], static_cast<size_t>(KEL_ERROR_MAX));
  for (uint32_t i = 0; i < KEL_ERROR_MAX; ++i) {
    EXPECT_EQ(names[i].code, i);
    EXPECT_STREQ(LOG_error_str(names[i].code), names[i].name);
  }

  TempDir dir;
  InFreshProcess([&] {
    std::string file = StartIn(dir);
    EXPECT_STREQ(LOG_error_str(KEL_ERROR_MAX), "wrong_error_code");
    EXPECT_STREQ(LOG_error_str(0xFFFFFFFFu), "wrong_error_code");
    std::vector<std::string> lines = SplitLines(ReadFile(file));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], LinePattern("KEL", "ERROR", "LOG_error_str", "log",
                                                       "Assertion \"0 <= error && KEL_ERROR_MAX > error\" failed\r")))
        << lines[0];
  });
}

}  // namespace
