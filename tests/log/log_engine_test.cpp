// The log engine: line format, outputs, lifecycle, the toolkit bridge, the
// last-error cache, threads across rotations, file paths, rotation, faults.
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>

#include "kel/debug_console.h"
#include "log_test_util.h"

// Stand-ins the engine links to: while gShortIo, write(2) and read(2) move at most
// three bytes; while gRotations.on, each rotating rename(2) keeps the file's text and size.
static bool gShortIo = false;
static struct { bool on = false; std::string lines; std::vector<long> sizes; } gRotations;
extern "C" ssize_t write(int fd, const void *buf, size_t n) { return syscall(SYS_write, fd, buf, gShortIo ? std::min<size_t>(n, 3) : n); }
extern "C" ssize_t read(int fd, void *buf, size_t n) { return syscall(SYS_read, fd, buf, gShortIo ? std::min<size_t>(n, 3) : n); }
extern "C" int rename(const char *from, const char *to) {
  if (gRotations.on) {
    const std::string text = kel::test::ReadFile(from);
    gRotations.lines += text;
    gRotations.sizes.push_back(static_cast<long>(text.size()));
  }
  return renameat(AT_FDCWD, from, AT_FDCWD, to);
}

namespace {

using kel::log::kRotateBytes;
using kel::log::logEngine;
using namespace kel::test;

void Log(uint32_t level, const char *text) { LOG_printf(level, "t", "f", 1, "%s", text); }

TEST(LogEngine, FormatLevelsHexDumpOptionsAndClipping) {
  TempDir dir;
  EXPECT_EQ(0, WithLogEngine(LOG_APP_KEL, dir.path(), [&] {
    for (uint32_t level = 0; level < 5; ++level) LOG_printf(level, "src", "Fn", 40, "value %d\r\n", int(level));
    unsigned char bytes[20];
    for (int i = 0; i < 20; ++i) bytes[i] = static_cast<unsigned char>(i * 13 + 0xa0);
    for (int n : {0, 20, -8}) LOG_dump_bytes(LOG_LEVEL_DEBUG, "t", "Dump", 7, n < 0 ? nullptr : bytes, std::abs(n));  // -8: 8 of none
    LOG_set_print_level(1);
    LOG_set_print_level(7);  // ignored: still ERROR and WARN
    LOG_dump_bytes(LOG_LEVEL_DEBUG, "t", "Dump", 7, bytes, 20);  // below the print level: nothing
    EXPECT_STREQ(LOG_error_str(KEL_ERROR_MAX), "wrong_error_code");
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
    ExpectGolden("log_format", Scrub(KelLog(dir.path())) + "---- standard output\n" + Scrub(out));
  }));
}

TEST(LogEngine, LifecycleRefusalsAndSilenceOutsideIt) {
  TempDir dir, second;
  EXPECT_EQ(0, RunInChild([&] {
    EXPECT_EQ(CaptureStdout([&] {
      LOG_set_option(LOG_OPTION_STDOUT);  // stored, then overwritten by LOG_init
      Log(0, "before\n");
      LOG_dump_bytes(0, "t", "f", 1, "abc", 3);
      LOG_from_vorane("toolkit\r\n");
      LOG_deinit();
      EXPECT_EQ(LOG_init(6, nullptr, dir.path().c_str()), 6u);
    }), "");
    ASSERT_EQ(LOG_init(LOG_APP_CLI, nullptr, dir.path().c_str()), 0u);
    EXPECT_EQ(LOG_init(LOG_APP_VPN, nullptr, second.path().c_str()), uint32_t(KEL_ERROR_ALREADY));
    LOG_deinit();
    EXPECT_EQ(CaptureStdout([] {
      LOG_set_option(LOG_OPTION_STDOUT | LOG_OPTION_FILE);
      Log(0, "after\n");
      LOG_deinit();
    }), "");
    EXPECT_EQ(Scrub(KelLog(dir.path())), "STAMP [CLI ERROR LOG_init():log:N] Assertion "
                                         "\"LOG_MAGIC_VALUE != logEngine.magic\" failed\r\n");
    EXPECT_FALSE(Exists(second / "app-vpn.log"));
  }));
}

TEST(LogEngine, BridgeAssemblesDebugLinesAndDropsThemBelowDebug) {
  TempDir dir;
  EXPECT_EQ(0, RunInChild([&] {
    tzset();  // the time zone is read once, and kept
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
      LOG_from_vorane("more\r\n");  // dropped, and the pending text with it
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
    std::unique_ptr<char, decltype(&std::free)> text(LOG_cache_dump(), &std::free);
    return std::string(text ? text.get() : "<null>");
  };
  EXPECT_EQ(0, RunAsUser(nobody, nobody, [&] {
    umask(0);
    gShortIo = true;  // appended and read back three bytes at a time
    EXPECT_EQ(dump(), "<null>");
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, "/home/nobody/logs"), 0u);
    for (auto [level, text] : {std::pair{0u, "first error\r\n"}, {1u, "a warning\r\n"}, {2u, "not cached\r\n"},
                               {7u, "printed as error\r\n"}})
      Log(level, text);
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
  ASSERT_TRUE(std::filesystem::create_directories("/home/root/.kel"));
  ASSERT_TRUE(WriteFile("/home/root/.kel/last_error.log", "keep me\n"));
  EXPECT_EQ(0, WithLogEngine(LOG_APP_KEL, "/home/root/logs", [&] {
    Log(0, "an error\n");
    LOG_cache_error_string("text\n");
    LOG_cache_reset();
    EXPECT_EQ(dump(), "<null>");
  }));
  EXPECT_EQ(ReadFile("/home/root/.kel/last_error.log"), "keep me\n");
}

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

void FixedLine(int n) { LOG_printf(LOG_LEVEL_WARN, "t", "f", 1, "line %06d\r\n", n); }

TEST_F(SandboxTest, LogPathsPerApplicationAndTheSystemLog) {
  const struct { uint32_t app; const char *name, *file, *dir; } cases[] = {
      {0, "KEL", "/home/u/.kel/app-kel", "/home/u/.kel"}, {1, "VPN", "/usr/share/kel/logs//app-vpn", "/home/u/.kel"},
      {2, "BSEC", "/usr/share/kel/logs//app-bsec", "/x"}, {3, "PAM", "/usr/share/kel/logs//app-pam", nullptr},
      {5, "CLI", "/home/u/.kel/app-kel", "/home/u/.kel"}, {0, "KEL", "/usr/share/kel/logs//app-kel", ""},
      {4, "VPN_PLUGIN", "/usr/share/kel/logs//app-vpn-plugin", "/x"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(0, RunInChild([&] {
      ASSERT_EQ(LOG_init(c.app, nullptr, c.dir), 0u);
      EXPECT_EQ(std::string(kel::log::logEngine.fileNameOld), c.file + std::string("-old.log"));
      FixedLine(c.app);
      const std::string want = "STAMP [" + std::string(c.name) + " WARN f():t:1] line 00000";
      EXPECT_EQ(Scrub(ReadFile(c.file + std::string(".log"))), want + char('0' + c.app) + "\r\n");
      std::filesystem::remove_all("/home/u");
      std::filesystem::remove_all("/usr/share/kel/logs");
    }));
  }
  EXPECT_EQ(0, RunInChild([&] {  // a datagram socket at /dev/log inside a private /dev
    ASSERT_EQ(unshare(CLONE_NEWNS), 0);
    ASSERT_TRUE(MountTmpfs("/dev", "mode=0755"));
    int sock = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{AF_UNIX, "/dev/log"};
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(LOG_init(LOG_APP_VPN_PLUGIN, nullptr, nullptr), 0u);
    LOG_set_option(LOG_OPTION_SYSLOG | LOG_OPTION_FILE);
    FixedLine(5);
    char buf[2048];
    ssize_t n = recv(sock, buf, sizeof buf, MSG_DONTWAIT);
    ASSERT_GT(n, 0);
    const std::string got(buf, size_t(n)), line = ReadFile("/usr/share/kel/logs/app-vpn-plugin.log");
    EXPECT_EQ(got.rfind("<11>", 0), 0u) << got;  // LOG_USER | LOG_ERR
    EXPECT_EQ(got.substr(got.size() - line.size()), line);
    close(sock);
  }));
}

TEST(LogRotation, AtExactly1024000BytesOneOldGenerationNoShellNoLinks) {
  TempDir top;
  const std::string dir = top / "-it's $(touch PWNED) `touch PWNED`;\n*";
  EXPECT_EQ(0, RunInChild([&] {
    ASSERT_EQ(chdir(top.path().c_str()), 0);
    umask(0);
    setenv("PATH", "/nonexistent", 1);  // rotation is a rename, not a command
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, dir.c_str()), 0u);
    const std::string file = dir + "/app-kel.log", old = dir + "/app-kel-old.log";
    FixedLine(0);
    const long line = std::filesystem::file_size(file);
    EXPECT_EQ(ModeOf(file), 0644u) << "whatever the umask";
    ASSERT_EQ(truncate(file.c_str(), kRotateBytes - 1 - line), 0);
    FixedLine(1);
    EXPECT_FALSE(Exists(old)) << "one byte short";
    ASSERT_EQ(truncate(file.c_str(), kRotateBytes - line), 0);
    FixedLine(2);  // reaches the limit exactly: written, then the file is renamed
    EXPECT_FALSE(Exists(file));
    EXPECT_EQ(long(std::filesystem::file_size(old)), kRotateBytes);
    EXPECT_EQ(MessageOf(SplitLines(ReadFile(old)).back()), "line 000002\r");
    ASSERT_TRUE(WriteFile(top / "victim", "precious\n"));
    ASSERT_EQ(symlink("../victim", file.c_str()), 0);
    LOG_set_option(LOG_OPTION_STDOUT | LOG_OPTION_FILE);
    ExpectAll(CaptureStdout([] { FixedLine(5); }), {"Failed to open file '" + dir + "/app-kel.log' with error Too many levels of symbolic links"});
    EXPECT_EQ(ReadFile(top / "victim"), "precious\n");
  }));
  EXPECT_EQ(DirNames(top.path()), (std::vector<std::string>{dir.substr(top.path().size() + 1), "victim"}));
}

// A blocked directory and a full file system: the line still goes to standard output with
// the engine's report, the file is not torn, and the next line is written once the fault clears.
TEST_F(SandboxTest, LogFaults) {
  auto log = [](const char *text) {
    LOG_set_option(LOG_OPTION_STDOUT | LOG_OPTION_FILE);
    return CaptureStdout([&] { LOG_printf(LOG_LEVEL_WARN, "t", "f", 1, "%s\r\n", text); });
  };
  const std::string blocked = "/usr/share/kel/blocker/logs", full = "/usr/share/kel/full";
  ASSERT_TRUE(WriteFile("/usr/share/kel/blocker", ""));
  ASSERT_TRUE(MountTmpfs(full, "size=16k"));
  EXPECT_EQ(0, RunInChild([&] {
    std::string out = CaptureStdout([&] { EXPECT_EQ(LOG_init(LOG_APP_KEL, nullptr, blocked.c_str()), 0u); });
    ExpectAll(out + log("still on stdout"), {"LOG ERROR [LOG_create_path():log:", "] Failed to create path '" + blocked + "' with KEL_ERROR_FAILED.\n",
                    "] still on stdout\r\nLOG ERROR [LOG_output_use_file():log:", "] Failed to open file '" + blocked + "/app-kel.log' with error Not a directory.\n"});
    ASSERT_EQ(unlink("/usr/share/kel/blocker"), 0);
    ASSERT_EQ(GENERIC_make_path(blocked.c_str()), 0u);
    EXPECT_EQ(log("written").find("LOG ERROR"), std::string::npos);
    EXPECT_EQ(Scrub(ReadFile(blocked + "/app-kel.log")), "STAMP [KEL WARN f():t:1] written\r\n");
  }));
  EXPECT_EQ(0, WithLogEngine(LOG_APP_KEL, full, [&] {
    const std::string before(4090, 'p');  // 6 bytes before a page boundary, the rest taken
    ASSERT_TRUE(WriteFile(full + "/app-kel.log", before));
    EXPECT_FALSE(WriteFile(full + "/filler", std::string(64 * 1024, 'f')));
    ExpectAll(log("does not fit"), {"] does not fit\r\n", "] Failed to write file '" + full + "/app-kel.log' with error No space left on device.\n"});
    EXPECT_EQ(ReadFile(full + "/app-kel.log"), before);
    ASSERT_EQ(unlink((full + "/filler").c_str()), 0);
    EXPECT_EQ(log("fits again").find("LOG ERROR"), std::string::npos);
    EXPECT_NE(ReadFile(full + "/app-kel.log").substr(4090).find("] fits again\r\n"), std::string::npos);
  }));
}

}  // namespace
