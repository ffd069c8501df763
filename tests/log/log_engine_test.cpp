// The log engine: line format, severities, print level, outputs, clipping,
// lifecycle, hex dump, error names, the toolkit bridge, the last-error cache
// and many threads across rotations.
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "kel/debug_console.h"
#include "log/log_engine.h"
#include "log_test_util.h"

namespace {

using kel::log::kRotateBytes;
using kel::log::logEngine;
using namespace kel::test;

void Log(uint32_t level, const char *text) { LOG_printf(level, "t", "f", 1, "%s", text); }
bool gShortIo = false;  // see write() and read() below

TEST(LogEngine, FormatLevelsOptionsAndClipping) {
  TempDir dir;
  EXPECT_EQ(0, WithLogEngine(LOG_APP_KEL, dir.path(), [&] {
    const std::string file = dir / "app-kel.log";
    for (uint32_t level = 0; level < 5; ++level) LOG_printf(level, "src", "Fn", 40, "value %d\r\n", int(level));
    LOG_set_print_level(1);
    LOG_set_print_level(7);  // ignored: still ERROR and WARN
    for (uint32_t level = 0; level < 3; ++level) Log(level, "level\r\n");
    LOG_printf(5, "src", "Fn", 12, "five\r\n");  // out of range: ERROR, after a notice
    std::string out = CaptureStdout([] {
      LOG_set_option(LOG_OPTION_STDOUT);
      LOG_set_option(8);  // ignored
      Log(0, "stdout only\n");
      LOG_set_option(0);
      Log(0, "nowhere\n");
      LOG_set_option(LOG_OPTION_STDOUT | LOG_OPTION_FILE);
      Log(0, "both\n");
      LOG_printf(0, "t", "f", 1, "%s\r\n", std::string(5000, 'm').c_str());
      LOG_printf(0, "t", std::string(985, 'F').c_str(), 1, "lost\r\n");  // the header fills the buffer exactly
      LOG_printf(0, nullptr, nullptr, 3, "named nothing\n");
      LOG_printf(0, "t", "f", 4, nullptr);
    });
    // Clipped to 1023 with no line end; the header-only line is lost; the
    // long message, the full header and its missing room each reported.
    ExpectGolden("log_format", Scrub(ReadFile(file)) + "---- standard output\n" + Scrub(out));
  }));
}

TEST(LogEngine, LifecycleRefusalsAndSilenceOutsideIt) {
  TempDir dir, second;
  EXPECT_EQ(0, RunInChild([&] {
    std::string out = CaptureStdout([&] {
      LOG_set_option(LOG_OPTION_STDOUT);  // stored, then overwritten by LOG_init
      Log(0, "before\n");
      LOG_dump_bytes(0, "t", "f", 1, "abc", 3);
      LOG_from_vorane("toolkit\r\n");
      LOG_deinit();
      EXPECT_EQ(LOG_init(6, nullptr, dir.path().c_str()), 6u);
    });
    EXPECT_EQ(out, "");
    ASSERT_EQ(LOG_init(LOG_APP_CLI, nullptr, dir.path().c_str()), 0u);
    EXPECT_EQ(logEngine.option, LOG_OPTION_FILE);
    EXPECT_EQ(LOG_init(LOG_APP_VPN, nullptr, second.path().c_str()), uint32_t(KEL_ERROR_ALREADY));
    LOG_deinit();
    EXPECT_EQ(logEngine.printMutex, nullptr);
    out = CaptureStdout([] {
      LOG_set_option(LOG_OPTION_STDOUT | LOG_OPTION_FILE);
      Log(0, "after\n");
      LOG_deinit();
    });
    EXPECT_EQ(out, "");
    auto lines = SplitLines(KelLog(dir.path()));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Scrub(lines[0]), "STAMP [CLI ERROR LOG_init():log:N] Assertion \"LOG_MAGIC_VALUE != logEngine.magic\" failed\r");
    EXPECT_FALSE(Exists(second / "app-vpn.log"));
  }));
}

TEST(LogEngine, HexDumpAndErrorNames) {
  TempDir dir;
  EXPECT_EQ(0, WithLogEngine(LOG_APP_KEL, dir.path(), [&] {
    unsigned char bytes[20];
    for (int i = 0; i < 20; ++i) bytes[i] = static_cast<unsigned char>(i * 13 + 0xa0);
    LOG_dump_bytes(LOG_LEVEL_DEBUG, "t", "Dump", 7, bytes, 0);
    LOG_dump_bytes(LOG_LEVEL_DEBUG, "t", "Dump", 7, bytes, 20);
    LOG_dump_bytes(LOG_LEVEL_DEBUG, "t", "Dump", 7, nullptr, 8);
    LOG_set_print_level(LOG_LEVEL_INFO);
    LOG_dump_bytes(LOG_LEVEL_DEBUG, "t", "Dump", 7, bytes, 20);  // below the print level: nothing
    EXPECT_STREQ(LOG_error_str(KEL_ERROR_MAX), "wrong_error_code");
    std::string messages;
    for (const auto &m : Messages(dir / "app-kel.log")) messages += m + "\n";
    ExpectGolden("log_hex_dump", messages);
  }));
}

TEST(LogEngine, BridgeAssemblesDebugLinesAndDropsThemBelowDebug) {
  TempDir dir;
  EXPECT_EQ(0, RunInChild([&] {
    const time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);  // the time zone is read once, and kept
    const Footprint before = FootprintNow();
    ASSERT_EQ(LOG_init(LOG_APP_KEL, LOG_from_vorane, dir.path().c_str()), 0u);
    {
      for (const char *piece : {"RSA", " ", "ok", "\r\n"}) LOG_from_vorane(piece);
      LOG_from_vorane(nullptr);
      LOG_from_vorane("\n");
      LOG_from_vorane("two\r\nlines\r\ntail");
      DEBUG_CONSOLE_printString1Int1(0, "; value ", -42);
      DEBUG_CONSOLE_printNewLine(0, nullptr);
      LOG_from_vorane("pending");
      LOG_set_print_level(LOG_LEVEL_INFO);
      LOG_from_vorane("more\r\n");
      EXPECT_STREQ(logEngine.toolkitLine, "");
      LOG_set_print_level(LOG_LEVEL_DEBUG);
      std::string text;
      for (int i = 0; i < 2000; ++i) text += static_cast<char>('a' + i % 26);
      CaptureStdout([&] { LOG_from_vorane(text.c_str()); });
      EXPECT_EQ(std::string(logEngine.toolkitLine), text.substr(1022));
      auto lines = SplitLines(KelLog(dir.path()));
      ASSERT_EQ(lines.size(), 6u);
      std::vector<std::string> messages;
      for (const auto &l : lines) messages.push_back(MessageOf(l));
      messages.back() = messages.back().substr(0, 3) + std::to_string(lines.back().size());
      EXPECT_EQ(messages, (std::vector<std::string>{"RSA ok\r", "\r", "two\r", "lines\r", "tail; value -42\r", "abc1023"}));
    }
    LOG_deinit();
    EXPECT_EQ(FootprintNow(), before) << "both locks and the file names released";
  }));
}

// ERROR and WARN messages of an ordinary user, whatever the outputs; never
// through a link, never for root, never a directory made.
TEST_F(SandboxTest, LastErrorCache) {
  const uid_t nobody = 65534;
  const std::string cache = "/home/nobody/.kel/last_error.log";
  for (const char *dir : {"/home/nobody", "/home/nobody/.kel", "/home/nobody/logs"}) {
    ASSERT_EQ(mkdir(dir, 0755), 0);
    ASSERT_EQ(chown(dir, nobody, nobody), 0);
  }
  auto dump = [] {
    char *text = LOG_cache_dump();
    std::string s = text ? text : "<null>";
    std::free(text);
    return s;
  };
  EXPECT_EQ(0, RunAsUser(nobody, nobody, [&] {
    umask(0);
    gShortIo = true;  // appended and read back three bytes at a time
    EXPECT_EQ(dump(), "<null>");
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, "/home/nobody/logs"), 0u);
    Log(0, "first error\r\n");
    Log(1, "a warning\r\n");
    Log(2, "not cached\r\n");
    Log(7, "printed as error\r\n");
    LOG_set_option(0);
    Log(0, "silent\n");
    LOG_set_print_level(LOG_LEVEL_ERROR);
    Log(1, "filtered out\n");
    const std::string content = ReadFile(cache);
    EXPECT_EQ(Scrub(content), "STAMP first error\r\nSTAMP a warning\r\nSTAMP printed as error\r\nSTAMP silent\n");
    EXPECT_EQ(dump(), content.substr(0, content.size() - 1));
    EXPECT_EQ(ModeOf(cache), 0600u) << "whatever the umask";
    LOG_cache_reset();
    EXPECT_EQ(dump(), "<null>");
    LOG_cache_error_string("piece one, ");
    LOG_cache_error_string(nullptr);
    LOG_cache_error_string("piece two\n");
    EXPECT_EQ(dump(), "piece one, piece two");
    ASSERT_TRUE(WriteFile("/home/nobody/victim", "precious\n"));
    ASSERT_EQ(unlink(cache.c_str()), 0);
    ASSERT_EQ(symlink("/home/nobody/victim", cache.c_str()), 0);
    Log(0, "appended?\n");
    EXPECT_EQ(dump(), "<null>");
    LOG_cache_reset();
    EXPECT_EQ(ReadFile("/home/nobody/victim"), "precious\n");
    ASSERT_EQ(unlink(cache.c_str()), 0);
    ASSERT_EQ(rmdir("/home/nobody/.kel"), 0);
    Log(0, "lost\n");
    EXPECT_FALSE(Exists("/home/nobody/.kel"));
    LOG_deinit();
  }));
  ASSERT_EQ(mkdir("/home/root", 0755), 0);
  ASSERT_EQ(mkdir("/home/root/.kel", 0755), 0);
  ASSERT_TRUE(WriteFile("/home/root/.kel/last_error.log", "keep me\n"));
  EXPECT_EQ(0, WithLogEngine(LOG_APP_KEL, "/home/root/logs", [&] {
    Log(0, "an error\n");
    LOG_cache_error_string("text\n");
    LOG_cache_reset();
    EXPECT_EQ(dump(), "<null>");
  }));
  EXPECT_EQ(ReadFile("/home/root/.kel/last_error.log"), "keep me\n");
}

// Rotation is a rename(2) of the full file: this stand-in (the engine links
// to the program's own rename) keeps each rotated file's text and size.
struct {
  bool on = false;
  std::string lines;
  std::vector<long> sizes;
} gRotations;

}  // namespace

// Short transfers: while gShortIo is set, every write(2) and read(2) the
// engine makes moves at most three bytes.
extern "C" ssize_t write(int fd, const void *buf, size_t n) { return syscall(SYS_write, fd, buf, gShortIo ? std::min<size_t>(n, 3) : n); }
extern "C" ssize_t read(int fd, void *buf, size_t n) { return syscall(SYS_read, fd, buf, gShortIo ? std::min<size_t>(n, 3) : n); }

extern "C" int rename(const char *from, const char *to) {
  if (gRotations.on) {
    const std::string text = ReadFile(from);
    gRotations.lines += text;
    gRotations.sizes.push_back(static_cast<long>(text.size()));
  }
  return renameat(AT_FDCWD, from, AT_FDCWD, to);
}

namespace {

TEST(LogLoad, ThreadsLoseAndTearNoLineAcrossRotationsAndTheBridgeDoesNotDeadlock) {
  TempDir logs;
  EXPECT_EQ(0, RunInChild([&] {
    alarm(120);  // a hung child is killed and the test fails
    gRotations.on = true;
    ASSERT_EQ(LOG_init(LOG_APP_KEL, LOG_from_vorane, logs.path().c_str()), 0u);
    constexpr int kThreads = 8, kLines = 20000;
    std::atomic<bool> stop{false};
    std::thread toggler([&] {
      for (int n = 0; !stop; ++n) LOG_set_print_level(n % 2 ? LOG_LEVEL_DEBUG : LOG_LEVEL_TRACE);
    });
    std::vector<std::thread> threads;
    for (int id = 0; id < kThreads; ++id)
      threads.emplace_back([id] {
        for (int n = 0; n < kLines; ++n) {
          LOG_printf(LOG_LEVEL_INFO, "load", "W", 7, "t%d n%05d payload-abcdefghijklmnopqrstuvwxyz\r\n", id, n);
          if (n % 20 == 0) LOG_from_vorane("RSA ok\r\n");
        }
      });
    for (auto &t : threads) t.join();
    stop = true;
    toggler.join();
    LOG_deinit();
    gRotations.on = false;
    const std::string all = gRotations.lines + KelLog(logs.path());
    std::vector<int> next(kThreads, 0);
    size_t bridged = 0, bad = 0;
    for (const std::string &line : SplitLines(all)) {
      if (line.find(" [KEL DEBUG LOG_from_vorane():log:") == 19) {
        bridged += MessageOf(line) == "RSA ok\r";
        continue;
      }
      const int id = line.find("] t") < line.size() - 4 ? line[line.find("] t") + 3] - '0' : -1;
      char expected[128];
      std::snprintf(expected, sizeof expected, " [KEL INFO W():load:7] t%d n%05d payload-abcdefghijklmnopqrstuvwxyz\r",
                    id, id >= 0 && id < kThreads ? next[id]++ : 0);
      if (line.compare(19, std::string::npos, expected) != 0 && ++bad < 5) ADD_FAILURE() << line;
    }
    EXPECT_EQ(bad, 0u);
    EXPECT_EQ(next, std::vector<int>(kThreads, kLines));
    EXPECT_EQ(bridged, size_t(kThreads) * kLines / 20);
    EXPECT_GE(gRotations.sizes.size(), all.size() / kRotateBytes - 1);
    for (long size : gRotations.sizes) EXPECT_TRUE(size >= kRotateBytes && size < kRotateBytes + 200) << size;
    EXPECT_EQ(DirNames(logs.path()).size(), 2u);
  }));
}

}  // namespace
