// The file output: paths per application, rotation at 1,024,000 bytes with
// one old generation, hostile directory names, the system log, and faults
// (no directory, read-only and full file systems).
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "kel/log.h"
#include "log/log_engine.h"
#include "log_test_util.h"

namespace {

using kel::log::kRotateBytes;
using kel::log::logEngine;
using kel::test::CaptureStdout;
using kel::test::Exists;
using kel::test::FileSize;
using kel::test::InFreshProcess;
using kel::test::LinePattern;
using kel::test::MessageOf;
using kel::test::ReadFile;
using kel::test::SplitLines;
using kel::test::TempDir;

// Every call gives a line of the same length (same site, fixed-width text).
void FixedLine(int n) { LOG_printf(LOG_LEVEL_INFO, "file_test", "FixedLine", 1, "line %06d\r\n", n); }

std::vector<std::string> Messages(const std::string &path) {
  std::vector<std::string> out;
  for (const auto &line : SplitLines(ReadFile(path))) out.push_back(MessageOf(line));
  return out;
}

struct AppCase {
  uint32_t app;
  const char *name;
  const char *file;  // where the line must land for the directory "/home/user/.kel"
  const char *fileOld;
};

class LogPaths : public SandboxTest {};

TEST_F(LogPaths, EachApplicationWritesItsOwnFileAndName) {
  const AppCase cases[] = {
      {0, "KEL", "/home/user/.kel/app-kel.log", "/home/user/.kel/app-kel-old.log"},
      {1, "VPN", "/usr/share/kel/logs//app-vpn.log", "/usr/share/kel/logs//app-vpn-old.log"},
      {2, "BSEC", "/usr/share/kel/logs//app-bsec.log", "/usr/share/kel/logs//app-bsec-old.log"},
      {3, "PAM", "/usr/share/kel/logs//app-pam.log", "/usr/share/kel/logs//app-pam-old.log"},
      {4, "VPN_PLUGIN", "/usr/share/kel/logs//app-vpn-plugin.log", "/usr/share/kel/logs//app-vpn-plugin-old.log"},
      {5, "CLI", "/home/user/.kel/app-kel.log", "/home/user/.kel/app-kel-old.log"},
  };
  for (const AppCase &c : cases) {
    SCOPED_TRACE(c.name);
    InFreshProcess([&] {
      ASSERT_EQ(LOG_init(c.app, nullptr, "/home/user/.kel"), 0u);
      EXPECT_STREQ(logEngine.fileName, c.file);
      EXPECT_STREQ(logEngine.fileNameOld, c.fileOld);
      LOG_printf(LOG_LEVEL_INFO, "t", "f", 1, "hello\r\n");
      std::vector<std::string> lines = SplitLines(ReadFile(c.file));
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_TRUE(std::regex_match(lines[0], LinePattern(c.name, "INFO", "f", "t", "hello\r"))) << lines[0];
      LOG_deinit();
    });
    std::error_code ec;
    std::filesystem::remove_all("/home/user", ec);
    std::filesystem::remove_all("/usr/share/kel/logs", ec);
  }
  // Without a directory the caller-directory applications use the fixed one.
  for (const char *dir : {static_cast<const char *>(nullptr), ""}) {
    InFreshProcess([&] {
      ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, dir), 0u);
      EXPECT_STREQ(logEngine.fileName, "/usr/share/kel/logs//app-kel.log");
      LOG_printf(LOG_LEVEL_INFO, "t", "f", 1, "fixed\r\n");
      EXPECT_EQ(Messages("/usr/share/kel/logs/app-kel.log"), std::vector<std::string>{"fixed\r"});
    });
    std::error_code ec;
    std::filesystem::remove_all("/usr/share/kel/logs", ec);
  }
}

TEST(LogRotation, RenamesAtExactly1024000BytesKeepingOneOldGeneration) {
  TempDir dir;
  InFreshProcess([&] {
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, dir.path().c_str()), 0u);
    const std::string file = dir / "app-kel.log", old = dir / "app-kel-old.log";
    FixedLine(0);
    const long line = FileSize(file);
    ASSERT_GT(line, 20);

    // One byte short after the next line: no rotation.
    ASSERT_EQ(truncate(file.c_str(), kRotateBytes - 1 - line), 0);
    FixedLine(1);
    EXPECT_EQ(FileSize(file), kRotateBytes - 1);
    EXPECT_FALSE(Exists(old));
    // The line that crosses the limit goes into the file, which is renamed at once.
    FixedLine(2);
    EXPECT_FALSE(Exists(file));
    EXPECT_EQ(FileSize(old), kRotateBytes - 1 + line);
    EXPECT_EQ(MessageOf(SplitLines(ReadFile(old)).back()), "line 000002\r");
    // The next line starts a new file.
    FixedLine(3);
    EXPECT_EQ(Messages(file), std::vector<std::string>{"line 000003\r"});

    // Reaching the limit exactly also rotates; the new old file replaces the previous one.
    ASSERT_EQ(truncate(file.c_str(), kRotateBytes - line), 0);
    FixedLine(4);
    EXPECT_FALSE(Exists(file));
    EXPECT_EQ(FileSize(old), kRotateBytes);
    FixedLine(5);
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"app-kel-old.log", "app-kel.log"}));
  });
}

TEST(LogRotation, HostileDirectoryNamesAreQuotedForTheShell) {
  TempDir top;
  const std::string names[] = {
      "with blank",
      "it's quoted",
      "$(touch PWNED1)",
      "semi;touch PWNED2;",
      "`touch PWNED3`",
      "line\nfeed; touch PWNED4",
      "'; touch PWNED5; echo '",
      "$HOME *",
  };
  for (const std::string &name : names) {
    SCOPED_TRACE(name);
    const std::string dir = top / name;
    InFreshProcess([&] {
      ASSERT_EQ(chdir(top.path().c_str()), 0);
      ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, dir.c_str()), 0u);
      const std::string file = dir + "/app-kel.log";
      ASSERT_EQ(kel::test::WriteFile(file, std::string(kRotateBytes - 5, 'x')), true);
      FixedLine(0);
      EXPECT_FALSE(Exists(file));
      const std::string rotated = ReadFile(dir + "/app-kel-old.log");
      EXPECT_GE(static_cast<long>(rotated.size()), kRotateBytes);
      EXPECT_EQ(MessageOf(SplitLines(rotated).back()), "line 000000\r");
    });
  }
  // Nothing ran: the top directory holds the eight log directories and no
  // PWNED files (the commands would have run in it).
  std::vector<std::string> found, expected(std::begin(names), std::end(names));
  for (const auto &e : std::filesystem::directory_iterator(top.path())) found.push_back(e.path().filename());
  std::sort(found.begin(), found.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(found, expected);
}

// The system log: a datagram socket at /dev/log inside a private /dev.
TEST_F(LogPaths, SystemLogReceivesTheLine) {
  InFreshProcess([&] {
    ASSERT_EQ(unshare(CLONE_NEWNS), 0);  // the private /dev stays in this child
    ASSERT_TRUE(kel::test::MountTmpfs("/dev", "mode=0755"));
    int sock = socket(AF_UNIX, SOCK_DGRAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, "/dev/log");
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0) << std::strerror(errno);

    ASSERT_EQ(LOG_init(LOG_APP_VPN_PLUGIN, nullptr, nullptr), 0u);
    LOG_set_option(LOG_OPTION_SYSLOG | LOG_OPTION_FILE);
    LOG_printf(LOG_LEVEL_INFO, "t", "f", 1, "to syslog %d\r\n", 5);
    char buf[2048];
    ssize_t n = recv(sock, buf, sizeof buf - 1, MSG_DONTWAIT);
    ASSERT_GT(n, 0);
    std::string got(buf, static_cast<size_t>(n));
    EXPECT_EQ(got.rfind("<11>", 0), 0u) << got;  // LOG_USER | LOG_ERR
    std::string line = SplitLines(ReadFile("/usr/share/kel/logs/app-vpn-plugin.log")).at(0) + "\n";
    EXPECT_EQ(got.substr(got.size() - line.size()), line);
    close(sock);
  });
}

class LogFaults : public SandboxTest {};

TEST_F(LogFaults, DirectoryThatCannotBeCreated) {
  ASSERT_TRUE(kel::test::WriteFile("/usr/share/kel/blocker", "a file where a directory should be"));
  const std::string dir = "/usr/share/kel/blocker/logs";
  InFreshProcess([&] {
    std::string out = CaptureStdout([&] { EXPECT_EQ(LOG_init(LOG_APP_KEL, nullptr, dir.c_str()), 0u); });
    EXPECT_TRUE(std::regex_match(out, std::regex("LOG ERROR \\[LOG_create_path\\(\\):log:[0-9]+\\] Failed to create "
                                                 "path '" + dir + "' with KEL_ERROR_FAILED\\.\n")))
        << out;
    LOG_set_option(LOG_OPTION_STDOUT | LOG_OPTION_FILE);
    out = CaptureStdout([] { LOG_printf(LOG_LEVEL_WARN, "t", "f", 1, "still on stdout\r\n"); });
    std::vector<std::string> lines = SplitLines(out);
    ASSERT_EQ(lines.size(), 2u) << out;
    EXPECT_TRUE(std::regex_match(lines[0], LinePattern("KEL", "WARN", "f", "t", "still on stdout\r")));
    EXPECT_TRUE(std::regex_match(lines[1], std::regex("LOG ERROR \\[LOG_output_use_file\\(\\):log:[0-9]+\\] Failed to "
                                                      "open file '" + dir + "/app-kel.log' with error Not a directory\\.")))
        << lines[1];
    // The fault clears: the next line is written.
    ASSERT_EQ(unlink("/usr/share/kel/blocker"), 0);
    ASSERT_EQ(mkdir("/usr/share/kel/blocker", 0755), 0);
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    out = CaptureStdout([] { LOG_printf(LOG_LEVEL_WARN, "t", "f", 1, "written\r\n"); });
    EXPECT_EQ(out.find("LOG ERROR"), std::string::npos);
    EXPECT_EQ(Messages(dir + "/app-kel.log"), std::vector<std::string>{"written\r"});
  });
}

TEST_F(LogFaults, ReadOnlyFileSystem) {
  const std::string dir = "/usr/share/kel/ro";
  ASSERT_TRUE(kel::test::MountTmpfs(dir));
  InFreshProcess([&] {
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, dir.c_str()), 0u);
    LOG_set_option(LOG_OPTION_STDOUT | LOG_OPTION_FILE);
    CaptureStdout([] { LOG_printf(LOG_LEVEL_INFO, "t", "f", 1, "one\r\n"); });
    ASSERT_TRUE(kel::test::RemountReadOnly(dir, true));
    std::string out = CaptureStdout([] { LOG_printf(LOG_LEVEL_INFO, "t", "f", 1, "two\r\n"); });
    EXPECT_NE(out.find("] two\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Failed to open file '" + dir + "/app-kel.log' with error Read-only file system.\n"),
              std::string::npos)
        << out;
    ASSERT_TRUE(kel::test::RemountReadOnly(dir, false));
    CaptureStdout([] { LOG_printf(LOG_LEVEL_INFO, "t", "f", 1, "three\r\n"); });
    EXPECT_EQ(Messages(dir + "/app-kel.log"), (std::vector<std::string>{"one\r", "three\r"}));
  });
}

TEST_F(LogFaults, FullFileSystemLosesTheLineWithoutTearingTheFile) {
  const std::string dir = "/usr/share/kel/full";
  ASSERT_TRUE(kel::test::MountTmpfs(dir, "size=16k"));
  InFreshProcess([&] {
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, dir.c_str()), 0u);
    LOG_set_option(LOG_OPTION_STDOUT | LOG_OPTION_FILE);
    const std::string file = dir + "/app-kel.log", filler = dir + "/filler";
    // The log ends 6 bytes before a page boundary; the rest of the space is taken.
    ASSERT_TRUE(kel::test::WriteFile(file, std::string(4090, 'p')));
    EXPECT_FALSE(kel::test::WriteFile(filler, std::string(64 * 1024, 'f')));
    std::string out = CaptureStdout([] { LOG_printf(LOG_LEVEL_ERROR, "t", "f", 1, "does not fit\r\n"); });
    EXPECT_NE(out.find("] does not fit\r\n"), std::string::npos) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("LOG ERROR \\[LOG_output_use_file\\(\\):log:[0-9]+\\] Failed to "
                                                  "write file '" + file + "' with error No space left on device\\.\n")))
        << out;
    EXPECT_EQ(ReadFile(file), std::string(4090, 'p'));
    ASSERT_EQ(unlink(filler.c_str()), 0);
    out = CaptureStdout([] { LOG_printf(LOG_LEVEL_ERROR, "t", "f", 1, "fits again\r\n"); });
    EXPECT_EQ(out.find("LOG ERROR"), std::string::npos) << out;
    std::string content = ReadFile(file);
    ASSERT_GT(content.size(), 4090u);
    EXPECT_EQ(content.substr(0, 4090), std::string(4090, 'p'));
    EXPECT_TRUE(std::regex_match(content.substr(4090), LinePattern("KEL", "ERROR", "f", "t", "fits again\r\n")));
  });
}

}  // namespace
