// The engine under load: many threads, rotation on the way, and the toolkit
// bridge fed while others log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "kel/debug_console.h"
#include "log/log_engine.h"
#include "log_test_util.h"

namespace {

using kel::log::kRotateBytes;
using namespace kel::test;

constexpr int kThreads = 8;
constexpr int kLinesPerThread = 20000;
constexpr unsigned kWatchdogSeconds = 120;  // a hung child is killed and the test fails

// Rotation is a rename(2) of the full file. While a test records, this
// stand-in (the program's own rename, which the engine links to) notes each
// rotated file: its size, its lines and how many entries its directory holds.
// The engine calls it with its print lock held: one caller at a time.
struct Rotations {
  bool on = false;
  std::string lines;
  std::vector<long> sizes, entries;
} gRotations;

}  // namespace

extern "C" int rename(const char *from, const char *to) {
  if (gRotations.on) {
    const std::string text = ReadFile(from);
    gRotations.lines += text;
    gRotations.sizes.push_back(static_cast<long>(text.size()));
    const auto dir = std::filesystem::path(from).parent_path();
    gRotations.entries.push_back(std::distance(std::filesystem::directory_iterator(dir), {}));
  }
  return renameat(AT_FDCWD, from, AT_FDCWD, to);
}

namespace {

TEST(LogLoad, EightThreadsLoseAndTearNoLineAcrossRotations) {
  TempDir logs;
  InFreshProcess([&] {
    alarm(kWatchdogSeconds);
    gRotations.on = true;
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, logs.path().c_str()), 0u);
    std::vector<std::thread> threads;
    for (int id = 0; id < kThreads; ++id)
      threads.emplace_back([id] {
        for (int n = 0; n < kLinesPerThread; ++n)
          LOG_printf(LOG_LEVEL_INFO, "load_test", "Worker", 77, "t%d n%05d payload-abcdefghijklmnopqrstuvwxyz\r\n", id,
                     n);
      });
    for (auto &t : threads) t.join();
    LOG_deinit();
    gRotations.on = false;

    // Every line written, in order per thread, each whole. (Checked by hand;
    // std::regex on 160,000 lines is slow in sanitizer builds.)
    const std::string all = gRotations.lines + ReadFile(logs / "app-kel.log");
    const std::regex stamp(kStampPattern);
    std::vector<int> next(kThreads, 0);
    size_t count = 0, bad = 0, lineLength = 0;
    for (size_t pos = 0, nl; pos < all.size(); pos = nl + 1, ++count) {
      nl = all.find('\n', pos);
      if (nl == std::string::npos) nl = all.size();
      const std::string text = all.substr(pos, nl - pos + 1);
      if (lineLength == 0) lineLength = text.size();
      // "<stamp> [KEL INFO Worker():load_test:77] tI nNNNNN payload-...\r\n"
      const int id = text.size() > 54 ? text[54] - '0' : -1;
      bool ok = text.size() == lineLength && id >= 0 && id < kThreads;
      if (ok) {
        char expected[128];
        std::snprintf(expected, sizeof expected,
                      " [KEL INFO Worker():load_test:77] t%d n%05d payload-abcdefghijklmnopqrstuvwxyz\r\n", id,
                      next[id]++);
        ok = text.compare(19, std::string::npos, expected) == 0 &&
             (count % 100 != 0 || std::regex_match(text.substr(0, 19), stamp));
      }
      if (!ok && ++bad < 5) ADD_FAILURE() << "line " << count << ": " << text;
    }
    EXPECT_EQ(bad, 0u);
    EXPECT_EQ(count, static_cast<size_t>(kThreads) * kLinesPerThread);
    EXPECT_EQ(next, std::vector<int>(kThreads, kLinesPerThread));

    // Every rotation at the first line that reached 1,024,000 bytes; the log
    // directory never held more than the file and one old generation.
    const std::vector<long> &sizes = gRotations.sizes;
    EXPECT_GE(sizes.size(), all.size() / static_cast<size_t>(kRotateBytes) - 1);
    for (long size : sizes) {
      EXPECT_GE(size, kRotateBytes);
      EXPECT_LT(size - static_cast<long>(lineLength), kRotateBytes);
    }
    for (long entries : gRotations.entries) EXPECT_LE(entries, 2);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(logs.path()), {}), 2);
  });
}

TEST(LogLoad, BridgeFedFromSeveralThreadsWhileOthersLogDoesNotDeadlock) {
  TempDir logs;
  InFreshProcess([&] {
    alarm(kWatchdogSeconds);
    ASSERT_EQ(LOG_init(LOG_APP_KEL, LOG_from_vorane, logs.path().c_str()), 0u);
    constexpr int kFeeders = 3, kConsoles = 2, kLoggers = 3, kRounds = 1000;  // stays below rotation
    std::atomic<bool> stop{false};
    std::thread toggler([&] {  // the print level switched back and forth while text flows
      for (int n = 0; !stop; ++n) LOG_set_print_level(n % 2 ? LOG_LEVEL_DEBUG : LOG_LEVEL_TRACE);
    });
    std::vector<std::thread> threads;
    for (int i = 0; i < kFeeders; ++i)
      threads.emplace_back([] {
        for (int n = 0; n < kRounds; ++n) {
          LOG_from_vorane("RSA");
          LOG_from_vorane(" ok");
          LOG_from_vorane("\r\n");
        }
      });
    for (int i = 0; i < kConsoles; ++i)
      threads.emplace_back([] {
        for (int n = 0; n < kRounds; ++n) DEBUG_CONSOLE_printNewLine(0, "console");
      });
    for (int i = 0; i < kLoggers; ++i)
      threads.emplace_back([] {
        for (int n = 0; n < kRounds; ++n) LOG_printf(LOG_LEVEL_WARN, "load_test", "Logger", 1, "plain %d\r\n", n);
      });
    for (auto &t : threads) t.join();
    stop = true;
    toggler.join();
    LOG_deinit();

    // Pieces of different threads may mix inside a line, but every line feed
    // gives exactly one DEBUG line and no line is lost.
    size_t bridged = 0, plain = 0;
    for (const auto &line : SplitLines(KelLog(logs.path()))) {
      bridged += line.find(" [KEL DEBUG LOG_from_vorane():log:") != std::string::npos;
      plain += line.find(" [KEL WARN Logger():load_test:1] plain ") != std::string::npos;
    }
    EXPECT_EQ(bridged, static_cast<size_t>(kFeeders + kConsoles) * kRounds);
    EXPECT_EQ(plain, static_cast<size_t>(kLoggers) * kRounds);
  });
}

}  // namespace
