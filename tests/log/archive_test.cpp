// The diagnostic archive, built with the real tar, gzip and snapshot commands
// inside the sandbox, then listed and extracted with tar.
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "kel/archive.h"
#include "kel/generic.h"
#include "kel/log.h"
#include "log/archive_internal.h"
#include "tests/log/client_files_support.h"

namespace {

namespace fs = std::filesystem;
using kel::test::Exists;
using kel::test::Lines;
using kel::test::MountTmpfs;
using kel::test::ReadFile;
using kel::test::RunInChild;
using kel::test::RunProgram;
using kel::test::WriteFile;

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

std::string Stamp(time_t when) {
  char out[kel::archive::kStampSize];
  size_t n = kel::archive::format_stamp(when, out, sizeof out);
  return std::string(out, n);
}

TEST(ArchiveStamp, UsesTheIsoWeekBasedYear) {
  EXPECT_EQ(Stamp(LocalTime(2024, 12, 31, 23, 59, 58)), "2025_12_31_235958");  // week 1 of 2025
  EXPECT_EQ(Stamp(LocalTime(2021, 1, 1, 0, 0, 5)), "2020_01_01_000005");     // week 53 of 2020
  EXPECT_EQ(Stamp(LocalTime(2024, 6, 15, 9, 5, 7)), "2024_06_15_090507");
  char out[8];
  EXPECT_EQ(kel::archive::format_stamp(LocalTime(2024, 6, 15, 9, 5, 7), out, sizeof out), 0u) << "does not fit";
}

// The archive's sources as this test lays them out.
struct Layout {
  std::string logDir;  // the engine's log directory (application 0 or 5)
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

// Member names the archive must hold, in order: the sources that exist
// (system files included, whatever this machine has) and the snapshots.
std::vector<std::pair<std::string, std::string>> ExpectedMembers(const Layout &l, const std::string &stamp) {
  const std::string logs = "/usr/share/kel/logs/", app = l.logDir + "/", user = l.home + "/.kel/";
  const std::vector<std::pair<std::string, std::string>> before = {
      {logs, "app-vpn.log"},    {logs, "app-vpn-old.log"},        {logs, "app-bsec.log"},
      {logs, "app-bsec-old.log"}, {logs, "app-pam.log"},          {logs, "app-pam-old.log"},
      {logs, "app-vpn-plugin.log"}, {logs, "app-vpn-plugin-old.log"}, {app, "app-kel.log"},
      {app, "app-kel-old.log"}, {app, "install.log"},             {logs, "kel_upgrade_log.txt"}};
  const std::vector<std::pair<std::string, std::string>> after = {
      {"/var/log/", "syslog"},
      {"/etc/network/", "interfaces"},
      {"/etc/NetworkManager/", "NetworkManager.conf"},
      {"/etc/NetworkManager/", "nm-system-settings.conf"},
      {"/usr/share/kel/", "kel_config.xml"},
      {"/usr/share/kel/", "pre_config.xml"},
      {"/usr/share/kel/", "pre_vpn_service_config.xml"},
      {user, "config.xml"},
      {user, "vpn_service_config.xml"}};
  std::vector<std::pair<std::string, std::string>> out;  // (source path, member name)
  for (const auto &[dir, file] : before)
    if (Exists(dir + file)) out.emplace_back(dir + file, file);
  for (const char *suffix : {".dmesg", ".ipaddr", ".iproute", ".uname", ".ifconfig"})
    out.emplace_back("", stamp + suffix);
  for (const auto &[dir, file] : after)
    if (Exists(dir + file)) out.emplace_back(dir + file, file);
  return out;
}

// Lists and extracts the archive with tar and compares it with the sources.
void CheckArchive(const Layout &l, const std::string &archive, const std::string &stamp, bool gzipped) {
  int status = -1;
  std::vector<std::string> listed = Lines(RunProgram({"tar", gzipped ? "-tzf" : "-tf", archive}, &status));
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

  // The snapshots are gone from the log directory.
  for (const auto &e : fs::directory_iterator(l.logDir))
    EXPECT_NE(e.path().filename().string().rfind(stamp, 0), 0u) << "left behind: " << e.path();
}

// Runs fn in a forked child (one log engine per process) and expects it to pass.
void ExpectInChild(const std::function<void()> &fn) {
  EXPECT_EQ(RunInChild([&] {
              fn();
              kel::test::ExpectNoLeaks();
            }),
            0)
      << "failures above";
}

class ArchiveSandbox : public SandboxTest {
 protected:
  std::string home_ = GENERIC_get_home_dir() != nullptr ? GENERIC_get_home_dir() : "";
};

TEST_F(ArchiveSandbox, PacksLogsSnapshotsAndConfiguration) {
  const Layout l{"/tmp/kel logs", "/tmp/out", home_};
  const time_t when = LocalTime(2024, 12, 31, 23, 59, 58);
  const std::string stamp = "2025_12_31_235958";
  ExpectInChild([&] {
    Prepare(l);
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, l.logDir.c_str()), 0u);
    LOG_printf(LOG_LEVEL_INFO, "test", "main", 1, "before the archive\r\n");
    char *name = nullptr;
    ASSERT_EQ(kel::archive::create_archive(l.outDir.c_str(), &name, when), 0u);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, ("kel_logs_" + stamp + ".tar.gz").c_str());
    EXPECT_FALSE(Exists(l.outDir + "/kel_logs_" + stamp + ".tar")) << "gzip replaced the tar file";
    CheckArchive(l, l.outDir + "/" + name, stamp, true);
    std::free(name);

    std::string log = ReadFile(l.logDir + "/app-kel.log");
    const std::string tar = l.outDir + "/kel_logs_" + stamp + ".tar";
    for (const std::string &line : std::vector<std::string>{
             "WARN LOG_append_to_archive():log:",
             "] File /usr/share/kel/logs//app-bsec.log not found\r\n",
             "] File " + l.logDir + "//app-kel-old.log not found\r\n",
             "INFO LOG_create_archive():log:",
             "] Archive filename: kel_logs_" + stamp + ".tar\r\n",
             "] Archive path with filename: " + tar + "\r\n",
             "] Kel app path: " + l.logDir + "/\r\n",
             "] Kel home dir: " + l.home + "/.kel/\r\n",
             "] Command gzip: gzip '" + tar + "'\r\n",
             "] Command create log info file: dmesg > '" + l.logDir + "/" + stamp + ".dmesg'\r\n",
             "] Command delete log info file: rm -f '" + l.logDir + "/" + stamp + ".uname'\r\n",
             "] Command append to archive: tar -rf '" + tar + "' --directory='/usr/share/kel/logs/' 'app-vpn.log'\r\n",
         })
      EXPECT_NE(log.find(line), std::string::npos) << line << "\nin\n" << log;
    EXPECT_EQ(log.find("ERROR"), std::string::npos) << log;
    LOG_deinit();
  });
}

TEST_F(ArchiveSandbox, HostileNamesWorkAndRunNothing) {
  const Layout l{"/tmp/a b;touch pwned", "/tmp/o'q\" $(touch pwned2) `touch pwned3`\n;touch pwned4 $HOME\\", home_};
  ExpectInChild([&] {
    Prepare(l);
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, l.logDir.c_str()), 0u);
    const time_t when = LocalTime(2024, 6, 15, 9, 5, 7);
    char *name = nullptr;
    ASSERT_EQ(kel::archive::create_archive(l.outDir.c_str(), &name, when), 0u);
    CheckArchive(l, l.outDir + "/" + name, "2024_06_15_090507", true);
    std::free(name);
    // The directories themselves carry "pwned" in their names: look for
    // files that a command would have made.
    auto made = [](const fs::path &p) { return p.filename().string().rfind("pwned", 0) == 0; };
    for (const char *root : {"/tmp", "/usr/share/kel", "/home"})
      for (const auto &e : fs::recursive_directory_iterator(root)) EXPECT_FALSE(made(e.path())) << e.path();
    for (const auto &e : fs::directory_iterator(l.home)) EXPECT_FALSE(made(e.path())) << e.path();
    LOG_deinit();
  });
}

TEST_F(ArchiveSandbox, WithoutGzipTheTarStays) {
  const Layout l{"/tmp/cli", "/tmp/out", home_};
  ExpectInChild([&] {
    // Only the tools the archive needs besides gzip, found where they are now.
    std::vector<std::string> tools;
    for (const char *tool : {"tar", "rm", "dmesg", "uname"}) {
      int status = -1;
      std::string where = RunProgram({"sh", "-c", std::string("command -v ") + tool}, &status);
      ASSERT_EQ(status, 0) << tool;
      tools.push_back(where.substr(0, where.find('\n')));
    }
    Prepare(l);
    ASSERT_EQ(GENERIC_make_path("/tmp/bin"), 0u);
    for (const std::string &t : tools)
      ASSERT_EQ(symlink(t.c_str(), ("/tmp/bin/" + fs::path(t).filename().string()).c_str()), 0) << t;
    const std::string path = getenv("PATH");
    setenv("PATH", "/tmp/bin", 1);
    ASSERT_EQ(LOG_init(LOG_APP_CLI, nullptr, l.logDir.c_str()), 0u);
    char *name = nullptr;
    const time_t when = LocalTime(2025, 3, 4, 5, 6, 7);
    // The shell ran, so compression counts as done though gzip was not found.
    EXPECT_EQ(kel::archive::create_archive(l.outDir.c_str(), &name, when), 0u);
    setenv("PATH", path.c_str(), 1);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, "kel_logs_2025_03_04_050607.tar.gz");
    EXPECT_FALSE(Exists(l.outDir + "/" + name));
    CheckArchive(l, l.outDir + "/kel_logs_2025_03_04_050607.tar", "2025_03_04_050607", false);
    std::free(name);
    LOG_deinit();
  });
}

TEST_F(ArchiveSandbox, OnlyTheKelApplicationsMayArchive) {
  const char *files[] = {"", "app-vpn.log", "app-bsec.log", "app-pam.log", "app-vpn-plugin.log"};
  for (uint32_t app = 1; app <= 4; ++app) {
    ExpectInChild([&] {
      ASSERT_EQ(LOG_init(app, nullptr, "/tmp"), 0u);
      char *name = strdup("stale");
      EXPECT_EQ(LOG_create_archive("/usr/share/kel", &name), 1u);
      EXPECT_EQ(name, nullptr);
      std::string log = ReadFile(std::string("/usr/share/kel/logs//") + files[app]);
      EXPECT_NE(log.find("ERROR LOG_create_archive():log:"), std::string::npos) << log;
      EXPECT_NE(log.find("] Failed to create archive. Only for kel application.\r\n"), std::string::npos);
      LOG_deinit();
    });
  }
  for (const auto &e : fs::directory_iterator("/usr/share/kel"))
    EXPECT_EQ(e.path().filename().string().rfind("kel_logs_", 0), std::string::npos) << e.path();
}

TEST_F(ArchiveSandbox, FailuresBeforeTheArchiveExists) {
  const Layout l{"/tmp/logs", "/tmp/out", home_};
  ExpectInChild([&] {
    Prepare(l);
    ASSERT_TRUE(MountTmpfs("/tmp/ro"));
    ASSERT_TRUE(kel::test::RemountReadOnly("/tmp/ro", true));
    char *name = nullptr;
    EXPECT_EQ(LOG_create_archive(l.outDir.c_str(), &name), 1u) << "no engine, no log file name";
    EXPECT_EQ(name, nullptr);
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, l.logDir.c_str()), 0u);
    const time_t when = LocalTime(2024, 6, 15, 9, 5, 7);
    for (const char *dir : {"/tmp/nowhere", "/tmp/ro"}) {
      name = strdup("stale");
      EXPECT_EQ(kel::archive::create_archive(dir, &name, when), 1u) << dir;
      EXPECT_EQ(name, nullptr);
    }
    EXPECT_EQ(LOG_create_archive(nullptr, &name), 1u);
    EXPECT_EQ(LOG_create_archive(l.outDir.c_str(), nullptr), 1u);
    EXPECT_EQ(kel::archive::create_archive(l.outDir.c_str(), &name, std::numeric_limits<time_t>::max()), 1u);
    EXPECT_EQ(name, nullptr);
    EXPECT_TRUE(fs::is_empty(l.outDir));

    std::string log = ReadFile(l.logDir + "/app-kel.log");
    EXPECT_NE(log.find("] Failed to create empty archive file /tmp/nowhere/kel_logs_2024_06_15_090507.tar.\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("] Failed to create empty archive file /tmp/ro/kel_logs_2024_06_15_090507.tar.\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("ERROR LOG_create_archive():log:"), std::string::npos);
    EXPECT_NE(log.find("] Path is NULL!\r\n"), std::string::npos);
    EXPECT_NE(log.find("] Failed to get time.\r\n"), std::string::npos);
    LOG_deinit();
  });
}

TEST_F(ArchiveSandbox, HelpersRefuseNullAndIgnoreExitStatus) {
  const Layout l{"/tmp/logs", "/tmp/out", home_};
  ExpectInChild([&] {
    Prepare(l);
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, l.logDir.c_str()), 0u);
    using namespace kel::archive;
    const char *a = "/tmp/out/a.tar";
    EXPECT_EQ(LOG_run_command(nullptr), 6u);
    EXPECT_EQ(LOG_run_command("exit 3"), 0u);
    EXPECT_EQ(LOG_append_to_archive(nullptr, "/tmp", "x"), 6u);
    EXPECT_EQ(LOG_append_to_archive(a, nullptr, "x"), 6u);
    EXPECT_EQ(LOG_append_to_archive(a, "/tmp", nullptr), 6u);
    EXPECT_EQ(LOG_append_to_archive(a, "/tmp", "missing"), 0u);
    EXPECT_FALSE(Exists(a));
    for (int i = 0; i < 5; ++i) {
      const char *args[5] = {a, "uname -a >", "/tmp/logs/", "s", ".x"};
      args[i] = nullptr;
      EXPECT_EQ(LOG_get_system_data(args[0], args[1], args[2], args[3], args[4]), 6u) << i;
    }
    // A single snapshot goes in and its file goes away.
    EXPECT_EQ(LOG_get_system_data(a, "uname -a >", "/tmp/logs/", "s", ".x"), 0u);
    EXPECT_FALSE(Exists("/tmp/logs/s.x"));
    EXPECT_EQ(Lines(RunProgram({"tar", "-tf", a})), std::vector<std::string>{"s.x"});
    // Relative names that begin with "-" are not taken for options.
    ASSERT_EQ(GENERIC_make_path("/tmp/cwd/-d"), 0u);
    EXPECT_EQ(LOG_get_system_data("-a.tar", "uname >", "-d/", "s", ".y"), 0u);
    EXPECT_FALSE(Exists("/tmp/cwd/-d/s.y")) << "rm took the path for an option";
    EXPECT_EQ(Lines(RunProgram({"tar", "-tf", "/tmp/cwd/-a.tar"})), std::vector<std::string>{"s.y"});

    std::string log = ReadFile(l.logDir + "/app-kel.log");
    EXPECT_NE(log.find("ERROR LOG_run_command():log:"), std::string::npos) << log;
    EXPECT_NE(log.find("ERROR LOG_append_to_archive():log:"), std::string::npos);
    EXPECT_NE(log.find("ERROR LOG_get_system_data():log:"), std::string::npos);
    EXPECT_NE(log.find("] Input data is NULL!\r\n"), std::string::npos);
    EXPECT_NE(log.find("WARN LOG_append_to_archive():log:"), std::string::npos);
    EXPECT_NE(log.find("] File /tmp/missing not found\r\n"), std::string::npos);
    LOG_deinit();
  });
}

}  // namespace
