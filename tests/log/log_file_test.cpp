// The file output: paths per application, rotation at 1,024,000 bytes with
// one old generation, hostile directory names, the system log, and faults
// (no directory, read-only and full file systems).
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "kel/log.h"
#include "kel/generic.h"
#include "log/log_engine.h"
#include "log_test_util.h"

namespace {

using kel::log::kRotateBytes;
using kel::log::logEngine;
using namespace kel::test;

// Every call gives a line of the same length (same site, fixed-width text).
void FixedLine(int n) { LOG_printf(LOG_LEVEL_INFO, "file_test", "FixedLine", 1, "line %06d\r\n", n); }

std::vector<std::string> DirNames(const std::string &dir) {
  std::vector<std::string> names;
  for (const auto &e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class LogPaths : public SandboxTest {};

TEST_F(LogPaths, EachApplicationWritesItsOwnFileAndName) {
  struct {
    uint32_t app;
    const char *name, *file;  // where the line lands for the directory "/home/user/.kel"
  } const cases[] = {
      {0, "KEL", "/home/user/.kel/app-kel"},
      {1, "VPN", "/usr/share/kel/logs//app-vpn"},
      {2, "BSEC", "/usr/share/kel/logs//app-bsec"},
      {3, "PAM", "/usr/share/kel/logs//app-pam"},
      {4, "VPN_PLUGIN", "/usr/share/kel/logs//app-vpn-plugin"},
      {5, "CLI", "/home/user/.kel/app-kel"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    InFreshProcess([&] {
      ASSERT_EQ(LOG_init(c.app, nullptr, "/home/user/.kel"), 0u);
      EXPECT_EQ(std::string(logEngine.fileNameOld), c.file + std::string("-old.log"));
      LOG_printf(LOG_LEVEL_INFO, "t", "f", 1, "hello\r\n");
      std::vector<std::string> lines = SplitLines(ReadFile(c.file + std::string(".log")));
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_TRUE(std::regex_match(lines[0], LinePattern(c.name, "INFO", "f", "t", "hello\r"))) << lines[0];
    });
    std::error_code ec;
    std::filesystem::remove_all("/home/user", ec);
    std::filesystem::remove_all("/usr/share/kel/logs", ec);
  }
  // Without a directory the caller-directory applications use the fixed one.
  for (const char *dir : {static_cast<const char *>(nullptr), ""}) {
    InFreshProcess([&] {
      ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, dir), 0u);
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
    FixedLine(3);
    EXPECT_EQ(Messages(file), std::vector<std::string>{"line 000003\r"});
    // Reaching the limit exactly also rotates; the new old file replaces the previous one.
    ASSERT_EQ(truncate(file.c_str(), kRotateBytes - line), 0);
    FixedLine(4);
    EXPECT_EQ(FileSize(old), kRotateBytes);
    FixedLine(5);
    EXPECT_EQ(DirNames(dir.path()), (std::vector<std::string>{"app-kel-old.log", "app-kel.log"}));
  });
}

TEST(LogRotation, HostileDirectoryNamesRotateAndRunNothing) {
  TempDir top;
  const std::vector<std::string> names = {"it's $(touch PWNED1)", "semi;touch PWNED2;`touch PWNED3`",
                                          "line\nfeed; touch PWNED4", "'; touch PWNED5; echo '", "$HOME *"};
  for (const std::string &name : names) {
    SCOPED_TRACE(name);
    const std::string dir = top / name;
    InFreshProcess([&] {
      ASSERT_EQ(chdir(top.path().c_str()), 0);
      ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, dir.c_str()), 0u);
      ASSERT_TRUE(WriteFile(dir + "/app-kel.log", std::string(kRotateBytes - 5, 'x')));
      FixedLine(0);
      EXPECT_FALSE(Exists(dir + "/app-kel.log"));
      EXPECT_EQ(MessageOf(SplitLines(ReadFile(dir + "/app-kel-old.log")).back()), "line 000000\r");
    });
  }
  // Nothing ran: the top directory holds the log directories and no PWNED
  // files (the commands would have run in it).
  std::vector<std::string> expected = names;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(DirNames(top.path()), expected);
}

TEST(LogFileSafety, NoLinksExplicitModeAndRotationWithoutAShell) {
  TempDir top;
  InFreshProcess([&] {
    ASSERT_EQ(chdir(top.path().c_str()), 0);
    umask(0);
    // A relative directory that a command would take for options, and no
    // programs to be found: rotation is a rename, not a command.
    setenv("PATH", "/nonexistent", 1);
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, "-rot"), 0u);
    FixedLine(0);
    struct stat st;
    ASSERT_EQ(stat("-rot/app-kel.log", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u) << "whatever the umask";
    ASSERT_TRUE(WriteFile("-rot/app-kel.log", std::string(kRotateBytes - 5, 'x')));
    FixedLine(1);
    EXPECT_FALSE(Exists("-rot/app-kel.log"));
    EXPECT_EQ(MessageOf(SplitLines(ReadFile("-rot/app-kel-old.log")).back()), "line 000001\r");

    // A link planted at the log's name loses the line instead of following it.
    ASSERT_TRUE(WriteFile("victim", "precious\n"));
    ASSERT_EQ(symlink("../victim", "-rot/app-kel.log"), 0);
    LOG_set_option(LOG_OPTION_STDOUT | LOG_OPTION_FILE);
    std::string out = CaptureStdout([] { FixedLine(2); });
    EXPECT_NE(out.find("Failed to open file '-rot/app-kel.log' with error Too many levels of symbolic links"),
              std::string::npos)
        << out;
    EXPECT_EQ(ReadFile("victim"), "precious\n");
  });
}

// The system log: a datagram socket at /dev/log inside a private /dev.
TEST_F(LogPaths, SystemLogReceivesTheLine) {
  InFreshProcess([&] {
    ASSERT_EQ(unshare(CLONE_NEWNS), 0);  // the private /dev stays in this child
    ASSERT_TRUE(MountTmpfs("/dev", "mode=0755"));
    int sock = socket(AF_UNIX, SOCK_DGRAM, 0);
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

class LogFaults : public SandboxTest {
 protected:
  // Logs text with stdout and file output on; returns what stdout got.
  static std::string Log(const char *text) {
    LOG_set_option(LOG_OPTION_STDOUT | LOG_OPTION_FILE);
    return CaptureStdout([&] { LOG_printf(LOG_LEVEL_WARN, "t", "f", 1, "%s\r\n", text); });
  }
  static std::regex Report(const std::string &function, const std::string &what) {
    return std::regex("LOG ERROR \\[" + function + "\\(\\):log:[0-9]+\\] " + what + "\\.\n");
  }
};

TEST_F(LogFaults, DirectoryThatCannotBeCreated) {
  ASSERT_TRUE(WriteFile("/usr/share/kel/blocker", "a file where a directory should be"));
  const std::string dir = "/usr/share/kel/blocker/logs";
  InFreshProcess([&] {
    std::string out = CaptureStdout([&] { EXPECT_EQ(LOG_init(LOG_APP_KEL, nullptr, dir.c_str()), 0u); });
    EXPECT_TRUE(std::regex_match(out, Report("LOG_create_path", "Failed to create path '" + dir +
                                                                    "' with KEL_ERROR_FAILED")))
        << out;
    std::vector<std::string> lines = SplitLines(Log("still on stdout"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], LinePattern("KEL", "WARN", "f", "t", "still on stdout\r")));
    EXPECT_TRUE(std::regex_match(lines[1] + "\n", Report("LOG_output_use_file", "Failed to open file '" + dir +
                                                                                    "/app-kel.log' with error Not a directory")))
        << lines[1];
    // The fault clears: the next line is written.
    ASSERT_EQ(unlink("/usr/share/kel/blocker"), 0);
    ASSERT_EQ(GENERIC_make_path(dir.c_str()), 0u);
    EXPECT_EQ(Log("written").find("LOG ERROR"), std::string::npos);
    EXPECT_EQ(Messages(dir + "/app-kel.log"), std::vector<std::string>{"written\r"});
  });
}

TEST_F(LogFaults, ReadOnlyFileSystem) {
  const std::string dir = "/usr/share/kel/ro";
  ASSERT_TRUE(MountTmpfs(dir));
  InFreshProcess([&] {
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, dir.c_str()), 0u);
    Log("one");
    ASSERT_TRUE(RemountReadOnly(dir, true));
    std::string out = Log("two");
    EXPECT_NE(out.find("] two\r\n"), std::string::npos) << out;
    EXPECT_TRUE(std::regex_search(out, Report("LOG_output_use_file", "Failed to open file '" + dir +
                                                                         "/app-kel.log' with error Read-only file system")))
        << out;
    ASSERT_TRUE(RemountReadOnly(dir, false));
    Log("three");
    EXPECT_EQ(Messages(dir + "/app-kel.log"), (std::vector<std::string>{"one\r", "three\r"}));
  });
}

TEST_F(LogFaults, FullFileSystemLosesTheLineWithoutTearingTheFile) {
  const std::string dir = "/usr/share/kel/full", file = dir + "/app-kel.log", filler = dir + "/filler";
  ASSERT_TRUE(MountTmpfs(dir, "size=16k"));
  InFreshProcess([&] {
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, dir.c_str()), 0u);
    // The log ends 6 bytes before a page boundary; the rest of the space is taken.
    const std::string before(4090, 'p');
    ASSERT_TRUE(WriteFile(file, before));
    EXPECT_FALSE(WriteFile(filler, std::string(64 * 1024, 'f')));
    std::string out = Log("does not fit");
    EXPECT_NE(out.find("] does not fit\r\n"), std::string::npos) << out;
    EXPECT_TRUE(std::regex_search(out, Report("LOG_output_use_file", "Failed to write file '" + file +
                                                                         "' with error No space left on device")))
        << out;
    EXPECT_EQ(ReadFile(file), before);
    ASSERT_EQ(unlink(filler.c_str()), 0);
    EXPECT_EQ(Log("fits again").find("LOG ERROR"), std::string::npos);
    std::string content = ReadFile(file);
    EXPECT_EQ(content.substr(0, 4090), before);
    EXPECT_TRUE(std::regex_match(content.substr(4090), LinePattern("KEL", "WARN", "f", "t", "fits again\r\n")));
  });
}

}  // namespace
