// The file output: paths per application, rotation at 1,024,000 bytes with
// one old generation, hostile directory names, the system log, and faults.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sched.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "kel/generic.h"
#include "log/log_engine.h"
#include "log_test_util.h"

namespace {

using kel::log::kRotateBytes;
using namespace kel::test;

void FixedLine(int n) { LOG_printf(LOG_LEVEL_WARN, "t", "f", 1, "line %06d\r\n", n); }

TEST_F(SandboxTest, LogPathsPerApplicationAndTheSystemLog) {
  const struct {
    uint32_t app;
    const char *name, *file, *dir;
  } cases[] = {
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
      auto lines = SplitLines(ReadFile(c.file + std::string(".log")));
      ASSERT_EQ(lines.size(), 1u) << c.name;
      EXPECT_EQ(Scrub(lines[0]), "STAMP [" + std::string(c.name) + " WARN f():t:1] line 00000" + std::to_string(c.app) + "\r");
      std::filesystem::remove_all("/home/u");
      std::filesystem::remove_all("/usr/share/kel/logs");
    }));
  }
  EXPECT_EQ(0, RunInChild([&] {  // a datagram socket at /dev/log inside a private /dev
    ASSERT_EQ(unshare(CLONE_NEWNS), 0);
    ASSERT_TRUE(MountTmpfs("/dev", "mode=0755"));
    int sock = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, "/dev/log");
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
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u) << "whatever the umask";
    ASSERT_EQ(truncate(file.c_str(), kRotateBytes - 1 - line), 0);
    FixedLine(1);
    EXPECT_FALSE(Exists(old)) << "one byte short";
    FixedLine(2);  // crosses the limit: written, then the file is renamed
    EXPECT_FALSE(Exists(file));
    EXPECT_EQ(long(std::filesystem::file_size(old)), kRotateBytes - 1 + line);
    EXPECT_EQ(MessageOf(SplitLines(ReadFile(old)).back()), "line 000002\r");
    FixedLine(3);
    ASSERT_EQ(truncate(file.c_str(), kRotateBytes - line), 0);
    FixedLine(4);  // reaching the limit exactly rotates too, replacing the old generation
    EXPECT_EQ(long(std::filesystem::file_size(old)), kRotateBytes);
    ASSERT_TRUE(WriteFile(top / "victim", "precious\n"));
    ASSERT_EQ(symlink("../victim", file.c_str()), 0);
    LOG_set_option(LOG_OPTION_STDOUT | LOG_OPTION_FILE);
    ExpectAll(CaptureStdout([] { FixedLine(5); }), {"Failed to open file '" + dir + "/app-kel.log' with error Too many levels of symbolic links"});
    EXPECT_EQ(ReadFile(top / "victim"), "precious\n");
  }));
  EXPECT_EQ(DirNames(top.path()), (std::vector<std::string>{dir.substr(top.path().size() + 1), "victim"}));
}

// A blocked directory, a read-only and a full file system: the line still
// goes to standard output with the engine's report, the file is not torn,
// and the next line is written once the fault clears.
TEST_F(SandboxTest, LogFaults) {
  auto log = [](const char *text) {
    LOG_set_option(LOG_OPTION_STDOUT | LOG_OPTION_FILE);
    return CaptureStdout([&] { LOG_printf(LOG_LEVEL_WARN, "t", "f", 1, "%s\r\n", text); });
  };
  const std::string blocked = "/usr/share/kel/blocker/logs", ro = "/usr/share/kel/ro", full = "/usr/share/kel/full";
  ASSERT_TRUE(WriteFile("/usr/share/kel/blocker", ""));
  ASSERT_TRUE(MountTmpfs(ro));
  ASSERT_TRUE(MountTmpfs(full, "size=16k"));
  EXPECT_EQ(0, RunInChild([&] {
    std::string out = CaptureStdout([&] { EXPECT_EQ(LOG_init(LOG_APP_KEL, nullptr, blocked.c_str()), 0u); });
    ExpectAll(out + log("still on stdout"), {"LOG ERROR [LOG_create_path():log:", "] Failed to create path '" + blocked + "' with KEL_ERROR_FAILED.\n",
                    "] still on stdout\r\nLOG ERROR [LOG_output_use_file():log:", "] Failed to open file '" + blocked + "/app-kel.log' with error Not a directory.\n"});
    ASSERT_EQ(unlink("/usr/share/kel/blocker"), 0);
    ASSERT_EQ(GENERIC_make_path(blocked.c_str()), 0u);
    EXPECT_EQ(log("written").find("LOG ERROR"), std::string::npos);
    EXPECT_EQ(Messages(blocked + "/app-kel.log"), std::vector<std::string>{"written\r"});
  }));
  EXPECT_EQ(0, WithLogEngine(LOG_APP_KEL, ro, [&] {
    log("one");
    ASSERT_TRUE(RemountReadOnly(ro, true));
    ExpectAll(log("two"), {"] two\r\n", "] Failed to open file '" + ro + "/app-kel.log' with error Read-only file system.\n"});
    ASSERT_TRUE(RemountReadOnly(ro, false));
    log("three");
    EXPECT_EQ(Messages(ro + "/app-kel.log"), (std::vector<std::string>{"one\r", "three\r"}));
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
