// The diagnostic archive, built with the real tar, gzip and snapshot commands
// inside the sandbox, then listed and extracted with tar.
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <cstring>
#include <ctime>
#include <limits>
#include <utility>

#include "kel/archive.h"
#include "kel/generic.h"
#include "log/archive_internal.h"
#include "tests/log/log_test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace kel::test;

time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  struct tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return mktime(&t);
}

TEST(ArchiveStamp, UsesTheIsoWeekBasedYear) {
  auto stamp = [](time_t when) {
    char out[kel::archive::kStampSize];
    return std::string(out, kel::archive::format_stamp(when, out, sizeof out));
  };
  EXPECT_EQ(stamp(LocalTime(2024, 12, 31, 23, 59, 58)), "2025_12_31_235958");  // week 1 of 2025
  EXPECT_EQ(stamp(LocalTime(2021, 1, 1, 0, 0, 5)), "2020_01_01_000005");     // week 53 of 2020
  char out[8];
  EXPECT_EQ(kel::archive::format_stamp(LocalTime(2024, 6, 15, 9, 5, 7), out, sizeof out), 0u) << "does not fit";
}

// The archive's sources as this test lays them out.
struct Layout {
  std::string logDir;  // the engine's log directory
  std::string outDir;  // where the archive goes
  std::string home;    // the user's home from the password database
};

// In the child: a private mount namespace with fresh tmpfs over /tmp and the
// user's home, the directories made, and the sources written.
void Prepare(const Layout &l) {
  ASSERT_EQ(unshare(CLONE_NEWNS), 0);
  ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
  ASSERT_TRUE(MountTmpfs("/tmp"));
  ASSERT_FALSE(l.home.empty());
  ASSERT_NE(l.home, "/");
  ASSERT_TRUE(MountTmpfs(l.home));
  for (const std::string &d : {l.logDir, l.outDir, l.home + "/.kel", std::string("/usr/share/kel/logs"),
                               std::string("/tmp/cwd")})
    ASSERT_EQ(GENERIC_make_path(d.c_str()), 0u) << d;
  ASSERT_EQ(chdir("/tmp/cwd"), 0);
  ASSERT_TRUE(WriteFile("/usr/share/kel/logs/app-vpn.log", "vpn line\n"));
  ASSERT_TRUE(WriteFile("/usr/share/kel/logs/app-pam-old.log", "old pam line\n"));
  ASSERT_TRUE(WriteFile("/usr/share/kel/logs/kel_upgrade_log.txt", "upgraded\n"));
  ASSERT_TRUE(WriteFile(l.logDir + "/install.log", "installed\n"));
  ASSERT_TRUE(WriteFile("/usr/share/kel/kel_config.xml", "<kel/>\n"));
  ASSERT_TRUE(WriteFile(l.home + "/.kel/config.xml", "<user/>\n"));
  ASSERT_TRUE(WriteFile(l.home + "/.kel/vpn_service_config.xml", "<service/>\n"));
}

// (source path, member name) the archive must hold, in order: the sources
// that exist (system files included, whatever this machine has) and the
// snapshots, which have no source.
std::vector<std::pair<std::string, std::string>> ExpectedMembers(const Layout &l, const std::string &stamp) {
  std::vector<std::pair<std::string, std::string>> out;
  auto add = [&](const std::string &dir, std::initializer_list<const char *> files) {
    for (const char *f : files)
      if (Exists(dir + f)) out.emplace_back(dir + f, f);
  };
  const std::string logs = "/usr/share/kel/logs/";
  add(logs, {"app-vpn.log", "app-vpn-old.log", "app-bsec.log", "app-bsec-old.log", "app-pam.log", "app-pam-old.log",
             "app-vpn-plugin.log", "app-vpn-plugin-old.log"});
  add(l.logDir + "/", {"app-kel.log", "app-kel-old.log", "install.log"});
  add(logs, {"kel_upgrade_log.txt"});
  for (const char *suffix : {".dmesg", ".ipaddr", ".iproute", ".uname", ".ifconfig"})
    out.emplace_back("", stamp + suffix);
  add("/var/log/", {"syslog"});
  add("/etc/network/", {"interfaces"});
  add("/etc/NetworkManager/", {"NetworkManager.conf", "nm-system-settings.conf"});
  add("/usr/share/kel/", {"kel_config.xml", "pre_config.xml", "pre_vpn_service_config.xml"});
  add(l.home + "/.kel/", {"config.xml", "vpn_service_config.xml"});
  return out;
}

// Lists and extracts the archive with tar and compares it with the sources.
void CheckArchive(const Layout &l, const std::string &archive, const std::string &stamp, bool gzipped) {
  int status = -1;
  std::vector<std::string> listed = SplitLines(RunProgram({"tar", gzipped ? "-tzf" : "-tf", archive}, &status));
  ASSERT_EQ(status, 0) << archive;
  auto expected = ExpectedMembers(l, stamp);
  std::vector<std::string> names;
  for (const auto &e : expected) names.push_back(e.second);
  EXPECT_EQ(listed, names);

  const std::string into = "/tmp/extracted";
  ASSERT_EQ(GENERIC_make_path(into.c_str()), 0u);
  RunProgram({"tar", gzipped ? "-xzf" : "-xf", archive, "-C", into}, &status);
  ASSERT_EQ(status, 0);
  for (const auto &[source, member] : expected) {
    if (source.empty()) continue;
    std::string got = ReadFile(into + "/" + member), want = ReadFile(source);
    if (member == "app-kel.log")  // the log grows while the archive is built
      EXPECT_EQ(want.substr(0, got.size()), got);
    else
      EXPECT_EQ(got, want) << member;
  }
  EXPECT_EQ(ReadFile(into + "/" + stamp + ".uname"), RunProgram({"uname", "-a"}));
  fs::remove_all(into);
  for (const auto &e : fs::directory_iterator(l.logDir))
    EXPECT_NE(e.path().filename().string().rfind(stamp, 0), 0u) << "snapshot left behind: " << e.path();
}

// Runs fn in a forked child (one log engine per process) with the sources of
// l prepared and the engine started for application app.
void InChildWith(const Layout &l, uint32_t app, const std::function<void()> &fn) {
  EXPECT_EQ(RunInChild([&] {
              Prepare(l);
              ASSERT_EQ(LOG_init(app, nullptr, l.logDir.c_str()), 0u);
              fn();
              LOG_deinit();
              ExpectNoLeaks();
            }),
            0);
}

class ArchiveSandbox : public SandboxTest {
 protected:
  std::string home_ = GENERIC_get_home_dir() != nullptr ? GENERIC_get_home_dir() : "";
};

TEST_F(ArchiveSandbox, PacksLogsSnapshotsAndConfiguration) {
  const Layout l{"/tmp/kel logs", "/tmp/out", home_};
  const std::string stamp = "2025_12_31_235958", tar = l.outDir + "/kel_logs_" + stamp + ".tar";
  InChildWith(l, LOG_APP_KEL, [&] {
    LOG_printf(LOG_LEVEL_INFO, "test", "main", 1, "before the archive\r\n");
    char *name = nullptr;
    ASSERT_EQ(kel::archive::create_archive(l.outDir.c_str(), &name, LocalTime(2024, 12, 31, 23, 59, 58)), 0u);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, ("kel_logs_" + stamp + ".tar.gz").c_str());
    EXPECT_FALSE(Exists(tar)) << "gzip replaced the tar file";
    CheckArchive(l, l.outDir + "/" + name, stamp, true);
    std::free(name);

    std::string log = KelLog(l.logDir);
    for (const std::string &line : std::vector<std::string>{
             "WARN LOG_append_to_archive():log:",
             "] File /usr/share/kel/logs//app-bsec.log not found\r\n",
             "] File " + l.logDir + "//app-kel-old.log not found\r\n",
             "] Archive path with filename: " + tar + "\r\n",
             "] Command gzip: /usr/bin/gzip -c < /tmp/out/.kel_logs_",
             "/kel_logs_" + stamp + ".tar > /tmp/out/.kel_logs_",
             "] Command create log info file: /usr/bin/dmesg > /tmp/out/.kel_logs_",
             "/" + stamp + ".dmesg\r\n",
             "/kel_logs_" + stamp + ".tar --directory=/usr/share/kel/logs/ -- app-vpn.log\r\n",
         })
      EXPECT_NE(log.find(line), std::string::npos) << line << "\nin\n" << log;
    EXPECT_EQ(log.find("ERROR"), std::string::npos) << log;
  });
}

TEST_F(ArchiveSandbox, HostileNamesWorkAndRunNothing) {
  const Layout l{"/tmp/a b;touch pwned", "/tmp/o'q\" $(touch pwned2) `touch pwned3`\n;touch pwned4 $HOME\\", home_};
  InChildWith(l, LOG_APP_KEL, [&] {
    char *name = nullptr;
    ASSERT_EQ(kel::archive::create_archive(l.outDir.c_str(), &name, LocalTime(2024, 6, 15, 9, 5, 7)), 0u);
    CheckArchive(l, l.outDir + "/" + name, "2024_06_15_090507", true);
    std::free(name);
    // The directories themselves carry "pwned" in their names: look for
    // files that a command would have made.
    auto made = [](const fs::path &p) { return p.filename().string().rfind("pwned", 0) == 0; };
    for (const std::string &root : {std::string("/tmp"), std::string("/usr/share/kel"), l.home})
      for (const auto &e : fs::recursive_directory_iterator(root)) EXPECT_FALSE(made(e.path())) << e.path();
  });
}

std::vector<std::string> DirNames(const std::string &dir) {
  std::vector<std::string> names;
  for (const auto &e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(ArchiveSandbox, NewPrivateFilesOnlyAndOneArchiveASecond) {
  const Layout l{"/tmp/logs", "/tmp/out", home_};
  InChildWith(l, LOG_APP_KEL, [&] {
    umask(022);
    const std::string stamp = "2025_03_04_050607", tar = "kel_logs_" + stamp + ".tar", victim = "/tmp/victim";
    const time_t when = LocalTime(2025, 3, 4, 5, 6, 7);
    ASSERT_TRUE(WriteFile(victim, "root only\n"));
    // Links planted at the names a run at that second used to write.
    ASSERT_EQ(symlink(victim.c_str(), (l.outDir + "/" + tar).c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), (l.logDir + "/" + stamp + ".dmesg").c_str()), 0);
    char *name = nullptr;
    ASSERT_EQ(kel::archive::create_archive(l.outDir.c_str(), &name, when), 0u);
    ASSERT_STREQ(name, (tar + ".gz").c_str());
    std::free(name);
    EXPECT_EQ(ReadFile(victim), "root only\n");
    struct stat st;
    ASSERT_EQ(stat((l.outDir + "/" + tar + ".gz").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "it holds the system log";
    ASSERT_EQ(unlink((l.logDir + "/" + stamp + ".dmesg").c_str()), 0);
    CheckArchive(l, l.outDir + "/" + tar + ".gz", stamp, true);

    // A second run in the same second reports failure, leaves the first
    // archive as it was and nothing of its own.
    const std::string first = ReadFile(l.outDir + "/" + tar + ".gz");
    name = strdup("stale");
    EXPECT_EQ(kel::archive::create_archive(l.outDir.c_str(), &name, when), 1u);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(ReadFile(l.outDir + "/" + tar + ".gz"), first);
    EXPECT_EQ(DirNames(l.outDir), (std::vector<std::string>{tar, tar + ".gz"}));
    // Nor is a link at the compressed name followed.
    const std::string next = l.outDir + "/kel_logs_2025_03_04_050608.tar.gz";
    ASSERT_EQ(symlink(victim.c_str(), next.c_str()), 0);
    EXPECT_EQ(kel::archive::create_archive(l.outDir.c_str(), &name, when + 1), 1u);
    EXPECT_EQ(ReadFile(victim), "root only\n");
    EXPECT_EQ(DirNames(l.outDir).size(), 3u);
  });
}

TEST_F(ArchiveSandbox, ToolsComeFromTheSystemNeverFromPath) {
  const Layout l{"/tmp/cli", "/tmp/out", home_};
  InChildWith(l, LOG_APP_CLI, [&] {
    ASSERT_EQ(GENERIC_make_path("/tmp/bin"), 0u);
    for (const char *tool : {"tar", "gzip", "dmesg", "uname", "ip"}) {
      const std::string fake = std::string("/tmp/bin/") + tool;
      ASSERT_TRUE(WriteFile(fake, "#!/bin/sh\ntouch /tmp/pwned\n"));
      ASSERT_EQ(chmod(fake.c_str(), 0755), 0);
    }
    const std::string path = getenv("PATH");
    setenv("PATH", ("/tmp/bin:" + path).c_str(), 1);
    setenv("TAR_OPTIONS", "--exclude=*", 1);
    char *name = nullptr;
    EXPECT_EQ(kel::archive::create_archive(l.outDir.c_str(), &name, LocalTime(2025, 3, 4, 5, 6, 7)), 0u);
    setenv("PATH", path.c_str(), 1);
    unsetenv("TAR_OPTIONS");
    EXPECT_FALSE(Exists("/tmp/pwned"));
    ASSERT_NE(name, nullptr);
    CheckArchive(l, l.outDir + "/" + name, "2025_03_04_050607", true);
    std::free(name);

    // Without a usable gzip nothing is stored and nothing stays behind.
    ASSERT_EQ(mount("/dev/null", "/usr/bin/gzip", nullptr, MS_BIND, nullptr), 0);
    if (!fs::equivalent("/bin", "/usr/bin")) {
      ASSERT_EQ(mount("/dev/null", "/bin/gzip", nullptr, MS_BIND, nullptr), 0);
    }
    name = strdup("stale");
    EXPECT_EQ(kel::archive::create_archive(l.outDir.c_str(), &name, LocalTime(2025, 3, 4, 5, 6, 9)), 1u);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(DirNames(l.outDir), std::vector<std::string>{"kel_logs_2025_03_04_050607.tar.gz"});
    EXPECT_NE(KelLog(l.logDir).find("] Failed gzip file.\r\n"), std::string::npos);
  });
}

TEST_F(ArchiveSandbox, FailuresBeforeTheArchiveExists) {
  const Layout l{"/tmp/logs", "/tmp/out", home_};
  ASSERT_EQ(RunInChild([&] {
              Prepare(l);
              char *name = nullptr;
              EXPECT_EQ(LOG_create_archive(l.outDir.c_str(), &name), 1u) << "no engine, no log file name";
              ASSERT_EQ(LOG_init(LOG_APP_VPN, nullptr, l.logDir.c_str()), 0u);
              name = strdup("stale");
              EXPECT_EQ(LOG_create_archive(l.outDir.c_str(), &name), 1u) << "only the kel applications archive";
              EXPECT_EQ(name, nullptr);
              EXPECT_TRUE(fs::is_empty(l.outDir));
              EXPECT_NE(ReadFile("/usr/share/kel/logs//app-vpn.log")
                            .find("] Failed to create archive. Only for kel application.\r\n"),
                        std::string::npos);
              LOG_deinit();
            }),
            0);
  InChildWith(l, LOG_APP_KEL, [&] {
    ASSERT_TRUE(MountTmpfs("/tmp/ro"));
    ASSERT_TRUE(RemountReadOnly("/tmp/ro", true));
    char *name = nullptr;
    for (const char *dir : {"/tmp/nowhere", "/tmp/ro"}) {
      name = strdup("stale");
      EXPECT_EQ(kel::archive::create_archive(dir, &name, LocalTime(2024, 6, 15, 9, 5, 7)), 1u) << dir;
      EXPECT_EQ(name, nullptr);
    }
    EXPECT_EQ(LOG_create_archive(nullptr, &name), 1u);
    EXPECT_EQ(LOG_create_archive(l.outDir.c_str(), nullptr), 1u);
    EXPECT_EQ(kel::archive::create_archive(l.outDir.c_str(), &name, std::numeric_limits<time_t>::max()), 1u);
    EXPECT_EQ(name, nullptr);
    EXPECT_TRUE(fs::is_empty(l.outDir));
    std::string log = KelLog(l.logDir);
    for (const char *line : {"] Failed to create empty archive file /tmp/nowhere/kel_logs_2024_06_15_090507.tar.\r\n",
                             "] Failed to create empty archive file /tmp/ro/kel_logs_2024_06_15_090507.tar.\r\n",
                             "] Path is NULL!\r\n", "] Failed to get time.\r\n"})
      EXPECT_NE(log.find(line), std::string::npos) << line << "\nin\n" << log;
  });
}

TEST_F(ArchiveSandbox, HelpersRefuseNullAndRunToolsWithoutAShell) {
  const Layout l{"/tmp/logs", "/tmp/out", home_};
  InChildWith(l, LOG_APP_KEL, [&] {
    using namespace kel::archive;
    const char *a = "/tmp/out/a.tar";
    EXPECT_EQ(LOG_run_command(nullptr, -1, -1, nullptr), 6u);
    const char *missing[] = {"/nonexistent/tool", "x y", nullptr};
    EXPECT_EQ(LOG_run_command(missing, -1, -1, nullptr), 1u);
    const char *fails[] = {"/bin/sh", "-c", "exit 3", nullptr};
    int status = -1;
    EXPECT_EQ(LOG_run_command(fails, -1, -1, &status), 0u) << "it ran: the exit status is the caller's business";
    EXPECT_EQ(status, 3);
    EXPECT_EQ(LOG_append_to_archive(a, nullptr, "x"), 6u);
    EXPECT_EQ(LOG_append_to_archive(a, "/tmp", "missing"), 0u);
    EXPECT_FALSE(Exists(a));
    for (int i = 0; i < 5; ++i) {
      const char *args[5] = {a, "uname", "/tmp/logs", "s", ".x"};
      args[i] = nullptr;
      EXPECT_EQ(LOG_get_system_data(args[0], args[1], "-a", args[2], args[3], args[4]), 6u) << i;
    }
    EXPECT_EQ(LOG_get_system_data(a, "kel-no-such-tool", nullptr, "/tmp/logs", "s", ".z"), 1u);
    // Relative names that begin with "-" are names, not options; the
    // snapshot goes in and its file goes away.
    ASSERT_EQ(GENERIC_make_path("/tmp/cwd/-d"), 0u);
    ASSERT_TRUE(WriteFile("/tmp/cwd/-a.tar", ""));
    EXPECT_EQ(LOG_get_system_data("-a.tar", "uname", nullptr, "-d", "-s", ".y"), 0u);
    EXPECT_FALSE(Exists("/tmp/cwd/-d/-s.y"));
    EXPECT_EQ(SplitLines(RunProgram({"tar", "-tf", "/tmp/cwd/-a.tar"})), std::vector<std::string>{"-s.y"});
    std::string log = KelLog(l.logDir);
    for (const char *line : {"] Input data is NULL!\r\n", "] File /tmp/missing not found\r\n",
                             "] Can`t exec command: /nonexistent/tool 'x y'\r\n", "] Can`t exec command: \r\n"})
      EXPECT_NE(log.find(line), std::string::npos) << line << "\nin\n" << log;
  });
}

}  // namespace
