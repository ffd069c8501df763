// The diagnostic archive, built with the real tar, gzip and snapshot tools in a private mount
// namespace (system files hidden, so the listing is fixed), then listed and extracted with tar.
#include <ctime>
#include <limits>

#include "kel/archive.h"
#include "log/archive_internal.h"
#include "log_test_util.h"

// A file system without the no-replace flag of renameat2(2).
static bool gNoReplaceFlag = false;
extern "C" int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned flags) {
  if (gNoReplaceFlag && flags != 0) return errno = EINVAL, -1;
  return static_cast<int>(syscall(SYS_renameat2, fromDir, from, toDir, to, flags));
}
#ifndef KEL_SANITIZED  // a sanitizer owns malloc
static bool gFailNextMalloc = false;
extern "C" void *__libc_malloc(size_t size);
extern "C" void *malloc(size_t size) {
  if (gFailNextMalloc) return gFailNextMalloc = false, errno = ENOMEM, nullptr;
  return __libc_malloc(size);
}
#endif

namespace {

namespace fs = std::filesystem;
using namespace kel::test;
using namespace kel::archive;

time_t Local(int y, int mo, int d, int h, int mi, int s) {
  struct tm t{};
  t.tm_year = y - 1900, t.tm_mon = mo - 1, t.tm_mday = d, t.tm_hour = h, t.tm_min = mi, t.tm_sec = s, t.tm_isdst = -1;
  return mktime(&t);
}

// Hostile directory names: whatever a shell would make of them, nothing runs.
const std::string kLogs = "/tmp/a b;touch pwned", kOut = "/tmp/o'q\" $(touch pwned) `touch pwned`\n;$HOME\\";

class Archive : public SandboxTest {
 protected:
  void InChild(uint32_t app, const std::function<void()> &fn) {
    const std::string home = GENERIC_get_home_dir() ? GENERIC_get_home_dir() : "";
    EXPECT_EQ(0, RunInChild([&] {
      ASSERT_EQ(unshare(CLONE_NEWNS), 0);
      ASSERT_FALSE(home.empty() || home == "/");
      for (const std::string &d : {std::string("/tmp"), home, std::string("/var/log"), std::string("/etc/network"), std::string("/etc/NetworkManager")})
        ASSERT_TRUE(MountTmpfs(d)) << d;
      for (const std::string &d : {kLogs, kOut, home + "/.kel", std::string("/usr/share/kel/logs"), std::string("/tmp/cwd")})
        ASSERT_EQ(GENERIC_make_path(d.c_str()), 0u) << d;
      ASSERT_EQ(chdir("/tmp/cwd"), 0);
      for (const std::string &f : {std::string("/usr/share/kel/logs/app-vpn.log"), std::string("/usr/share/kel/logs/app-pam-old.log"),
                                   std::string("/usr/share/kel/logs/kel_upgrade_log.txt"), kLogs + "/install.log", std::string("/var/log/syslog"),
                                   std::string("/usr/share/kel/kel_config.xml"), home + "/.kel/config.xml"})
        ASSERT_TRUE(WriteFile(f, "content of " + f + "\n"));
      ASSERT_EQ(LOG_init(app, nullptr, kLogs.c_str()), 0u);
      fn();
      LOG_deinit();
    }));
  }
};

// Tools come from the system's directories, whatever PATH and TAR_OPTIONS say.
TEST_F(Archive, PacksLogsSnapshotsAndConfigurationPrivatelyOnceASecond) {
  InChild(LOG_APP_KEL, [&] {
    umask(022);
    ASSERT_EQ(GENERIC_make_path("/tmp/bin"), 0u);
    for (const char *tool : {"tar", "gzip", "dmesg", "uname", "ip"}) {
      ASSERT_TRUE(WriteFile(std::string("/tmp/bin/") + tool, "#!/bin/sh\ntouch /tmp/pwned\n"));
      ASSERT_EQ(chmod((std::string("/tmp/bin/") + tool).c_str(), 0755), 0);
    }
    const std::string path = getenv("PATH");
    setenv("PATH", ("/tmp/bin:" + path).c_str(), 1);
    setenv("TAR_OPTIONS", "--exclude=*", 1);
    // The name takes the ISO week-based year: 31 December 2024 is in 2025's first week.
    const std::string stamp = "2025_12_31_235958", tar = "kel_logs_" + stamp + ".tar", gz = kOut + "/" + tar + ".gz";
    const time_t when = Local(2024, 12, 31, 23, 59, 58);
    ASSERT_TRUE(WriteFile("/tmp/victim", "root only\n"));
    ASSERT_EQ(symlink("/tmp/victim", (kLogs + "/" + stamp + ".dmesg").c_str()), 0);  // a planted link
    LOG_printf(LOG_LEVEL_INFO, "test", "main", 1, "before the archive\r\n");
    char *name = nullptr;
    ASSERT_EQ(create_archive(kOut.c_str(), &name, when), 0u);
    setenv("PATH", path.c_str(), 1), unsetenv("TAR_OPTIONS");
    ASSERT_STREQ(name, (tar + ".gz").c_str());
    std::free(name);
    EXPECT_EQ(ReadFile("/tmp/victim"), "root only\n");
    EXPECT_EQ(ModeOf(gz), 0600u) << "it holds the system log";
    ASSERT_EQ(unlink((kLogs + "/" + stamp + ".dmesg").c_str()), 0);
    // Listed and extracted: every member equals its source; no snapshot left, nothing ran.
    int status = -1;
    std::string listing = RunProgram({"tar", "-tzf", gz}, &status);
    ASSERT_EQ(status, 0);
    for (size_t at; (at = listing.find(stamp)) != std::string::npos;) listing.replace(at, stamp.size(), "STAMP");
    ExpectGolden("archive_listing", listing);
    RunProgram({"tar", "-xzf", gz, "-C", "/tmp/cwd"}, &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(ReadFile("/tmp/cwd/syslog"), "content of /var/log/syslog\n");
    EXPECT_EQ(ReadFile("/tmp/cwd/install.log"), "content of " + kLogs + "/install.log\n");
    EXPECT_EQ(ReadFile("/tmp/cwd/" + stamp + ".uname"), RunProgram({"uname", "-a"}));
    for (const auto &e : fs::recursive_directory_iterator("/tmp"))
      EXPECT_TRUE(e.path().parent_path() == "/tmp/cwd" ||
                  (e.path().filename() != "pwned" && e.path().filename().string().rfind(stamp + ".", 0) != 0)) << e.path();
    EXPECT_EQ(KelLog(kLogs).find("ERROR"), std::string::npos);
    // A second run in the same second fails and leaves the first archive alone.
    const std::string first = ReadFile(gz);
    const Footprint before = FootprintNow();
    name = strdup("stale");
    EXPECT_EQ(create_archive(kOut.c_str(), &name, when), 1u);
    EXPECT_EQ(FootprintNow(), before) << "the stale name released, nothing kept of a failed run";
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(ReadFile(gz), first);
    ASSERT_EQ(symlink("/tmp/victim", (kOut + "/kel_logs_2025_12_31_235959.tar.gz").c_str()), 0);
    EXPECT_EQ(create_archive(kOut.c_str(), &name, when + 1), 1u);
    EXPECT_EQ(ReadFile("/tmp/victim"), "root only\n");
    gNoReplaceFlag = true;  // then a hard link stands in, refused by an existing name all the same
    EXPECT_EQ(create_archive(kOut.c_str(), &name, when), 1u);
    EXPECT_EQ(ReadFile(gz), first);
    ASSERT_EQ(create_archive(kOut.c_str(), &name, when + 2), 0u);
    EXPECT_TRUE(Exists(kOut + "/" + name));
    std::free(name);
  });
}

TEST_F(Archive, FailuresLeaveNothing) {
  InChild(LOG_APP_CLI, [&] {
    char *name = strdup("stale");
    EXPECT_EQ(create_archive("/tmp/nowhere", &name, Local(2024, 6, 15, 9, 5, 7)), 1u);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(LOG_create_archive(nullptr, &name), 1u);
    EXPECT_EQ(LOG_create_archive(kOut.c_str(), nullptr), 1u);
    EXPECT_EQ(create_archive(kOut.c_str(), &name, std::numeric_limits<time_t>::max()), 1u);
    ASSERT_EQ(mount("/dev/null", "/usr/bin/gzip", nullptr, MS_BIND, nullptr), 0);  // no usable gzip
    if (!fs::equivalent("/bin", "/usr/bin")) { ASSERT_EQ(mount("/dev/null", "/bin/gzip", nullptr, MS_BIND, nullptr), 0); }
    EXPECT_EQ(create_archive(kOut.c_str(), &name, Local(2025, 3, 4, 5, 6, 9)), 1u);
    EXPECT_TRUE(fs::is_empty(kOut));
    ExpectAll(KelLog(kLogs), {"] Failed to create empty archive file /tmp/nowhere/kel_logs_2024_06_15_090507.tar.\r\n",
                              "] Path is NULL!\r\n", "] Failed to get time.\r\n", "] Failed gzip file.\r\n"});
  });
  InChild(LOG_APP_VPN, [&] {
    char *name = strdup("stale");
    EXPECT_EQ(LOG_create_archive(kOut.c_str(), &name), 1u) << "only the kel applications archive";
    EXPECT_EQ(name, nullptr);
    EXPECT_TRUE(fs::is_empty(kOut));
  });
}

TEST_F(Archive, HelpersRefuseNullAndRunToolsWithoutAShell) {
  InChild(LOG_APP_KEL, [&] {
    const char *a = "/tmp/cwd/a.tar";
    EXPECT_EQ(LOG_run_command(nullptr, -1, -1, nullptr), 6u);
    const char *missing[] = {"/nonexistent/tool", "x y", nullptr}, *fails[] = {"/bin/sh", "-c", "exit 3", nullptr};
    EXPECT_EQ(LOG_run_command(missing, -1, -1, nullptr), 1u);
    const Footprint before = FootprintNow();
    EXPECT_EQ(LOG_run_command(missing, -1, -1, nullptr), 1u);
    EXPECT_EQ(FootprintNow(), before) << "the command's text released";
    int status = -1;
    EXPECT_EQ(LOG_run_command(fails, -1, -1, &status), 0u) << "it ran: the exit status is the caller's business";
    EXPECT_EQ(status, 3);
    EXPECT_EQ(LOG_append_to_archive(a, nullptr, "x"), 6u);
    EXPECT_EQ(LOG_append_to_archive(a, "/tmp", "missing"), 0u);
#ifndef KEL_SANITIZED
    gFailNextMalloc = true;
    EXPECT_EQ(LOG_append_to_archive(a, "/tmp", "missing"), 15u);
    EXPECT_NE(KelLog(kLogs).find("] Memory allocation failed!\r\n"), std::string::npos);
    ASSERT_EQ(GENERIC_write_file("/tmp/cwd/whole", reinterpret_cast<const uint8_t *>("abc"), 3, 0), 0u);
    uint8_t *none = nullptr;
    uint32_t length = 0;
    gFailNextMalloc = true;  // the whole file's buffer
    EXPECT_EQ(GENERIC_read_file("/tmp/cwd/whole", &none, &length), 15u);
    EXPECT_EQ(none, nullptr);
#endif
    EXPECT_FALSE(Exists(a));
    EXPECT_EQ(LOG_get_system_data(a, "uname", "-a", "/tmp/cwd", "s", nullptr), 6u);
    EXPECT_EQ(LOG_get_system_data(a, "kel-no-such-tool", nullptr, "/tmp/cwd", "s", ".z"), 1u);
    ASSERT_EQ(GENERIC_make_path("/tmp/cwd/-d"), 0u);  // names that begin with "-" are names
    ASSERT_TRUE(WriteFile("/tmp/cwd/-a.tar", ""));
    EXPECT_EQ(LOG_get_system_data("-a.tar", "uname", nullptr, "-d", "-s", ".y"), 0u);
    EXPECT_FALSE(Exists("/tmp/cwd/-d/-s.y"));
    EXPECT_EQ(RunProgram({"tar", "-tf", "/tmp/cwd/-a.tar"}), "-s.y\n");
    ExpectAll(KelLog(kLogs), {"] Input data is NULL!\r\n", "] File /tmp/missing not found\r\n",
                              "] Can`t exec command: /nonexistent/tool 'x y'\r\n", "] Can`t exec command: \r\n"});
  });
}

}  // namespace
