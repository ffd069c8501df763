// The diagnostic archive: support's one file. tar appends one member at a
// time (changing into the member's directory first, so members carry bare
// names), snapshots of the system's state are written next to the client's
// log, packed and deleted, and gzip compresses the result. Every path that
// reaches the shell is quoted, so names with blanks, quotes, $, ;, backticks
// or line feeds work and never run anything.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "kel/archive.h"
#include "kel/generic.h"
#include "kel/log.h"
#include "log/archive_internal.h"
#include "log/log_engine.h"
#include "log/shell_quote.h"

namespace kel::archive {
namespace {

using kel::log::kEngineSource;

constexpr const char *kFixedLogDir = "/usr/share/kel/logs/";
constexpr const char *kFixedClientDir = "/usr/share/kel/";
constexpr const char *kAppLogFile = "app-kel.log";

// Where a member comes from: a fixed directory, the directory of this
// application's log, or the user's client directory.
enum class Dir { kFixed, kAppLog, kUserClient };

struct Member {
  Dir where;
  const char *directory;  // for Dir::kFixed
  const char *file;
};

// Rows appended before the snapshots, in this order.
constexpr Member kLogs[] = {
    {Dir::kFixed, kFixedLogDir, "app-vpn.log"},
    {Dir::kFixed, kFixedLogDir, "app-vpn-old.log"},
    {Dir::kFixed, kFixedLogDir, "app-bsec.log"},
    {Dir::kFixed, kFixedLogDir, "app-bsec-old.log"},
    {Dir::kFixed, kFixedLogDir, "app-pam.log"},
    {Dir::kFixed, kFixedLogDir, "app-pam-old.log"},
    {Dir::kFixed, kFixedLogDir, "app-vpn-plugin.log"},
    {Dir::kFixed, kFixedLogDir, "app-vpn-plugin-old.log"},
    {Dir::kAppLog, nullptr, "app-kel.log"},
    {Dir::kAppLog, nullptr, "app-kel-old.log"},
    {Dir::kAppLog, nullptr, "install.log"},
    {Dir::kFixed, kFixedLogDir, "kel_upgrade_log.txt"},
};

// Snapshots of the system, each written to the application log directory as
// stamp + suffix by a command whose output is redirected there.
struct Snapshot {
  const char *command;
  const char *suffix;
};
constexpr Snapshot kSnapshots[] = {
    {"dmesg >", ".dmesg"},
    {"/sbin/ip addr >", ".ipaddr"},
    {"/sbin/ip route >", ".iproute"},
    {"uname -a >", ".uname"},
    {"/sbin/ifconfig -a >", ".ifconfig"},
};

// Rows appended after the snapshots.
constexpr Member kConfiguration[] = {
    {Dir::kFixed, "/var/log/", "syslog"},
    {Dir::kFixed, "/etc/network/", "interfaces"},
    {Dir::kFixed, "/etc/NetworkManager", "NetworkManager.conf"},
    {Dir::kFixed, "/etc/NetworkManager", "nm-system-settings.conf"},
    {Dir::kFixed, kFixedClientDir, "kel_config.xml"},
    {Dir::kFixed, kFixedClientDir, "pre_config.xml"},
    {Dir::kFixed, kFixedClientDir, "pre_vpn_service_config.xml"},
    {Dir::kUserClient, nullptr, "config.xml"},
    {Dir::kUserClient, nullptr, "vpn_service_config.xml"},
};

// One piece of a command line: shell text taken as it is, or a path that the
// shell must take literally. A quoted path that starts with "-" gets "./" in
// front so that no command reads it as an option.
struct Piece {
  const char *text;
  bool path;
};

char *build_command(std::initializer_list<Piece> pieces) {
  size_t length = 1;
  for (const Piece &p : pieces)
    length += p.path ? kel::log::shell_quoted_length(p.text) + (p.text[0] == '-' ? 2 : 0) : std::strlen(p.text);
  auto *out = static_cast<char *>(std::malloc(length));
  if (out == nullptr) return nullptr;
  size_t at = 0;
  for (const Piece &p : pieces) {
    if (!p.path) {
      size_t n = std::strlen(p.text);
      std::memcpy(out + at, p.text, n);
      at += n;
      continue;
    }
    if (p.text[0] == '-') {
      std::memcpy(out + at, "./", 2);
      at += 2;
    }
    at += kel::log::shell_quote(p.text, out + at, length - at);
  }
  out[at] = '\0';
  return out;
}

// a + b + c in a new string (malloc), or null.
char *concat(const char *a, const char *b, const char *c = "") {
  size_t la = std::strlen(a), lb = std::strlen(b), lc = std::strlen(c);
  auto *out = static_cast<char *>(std::malloc(la + lb + lc + 1));
  if (out == nullptr) return nullptr;
  std::memcpy(out, a, la);
  std::memcpy(out + la, b, lb);
  std::memcpy(out + la + lb, c, lc + 1);
  return out;
}

// The strings one archive run allocates, released together.
struct Strings {
  char *name = nullptr;
  char *archivePath = nullptr;
  char *appLogDir = nullptr;
  char *userClientDir = nullptr;
  char *gzipCommand = nullptr;
  ~Strings() {
    std::free(name);
    std::free(archivePath);
    std::free(appLogDir);
    std::free(userClientDir);
    std::free(gzipCommand);
  }
};

const char *member_dir(const Member &m, const Strings &s) {
  switch (m.where) {
    case Dir::kAppLog: return s.appLogDir;
    case Dir::kUserClient: return s.userClientDir;
    case Dir::kFixed: break;
  }
  return m.directory;
}

// The text of haystack before the last place where needle begins, or null.
char *prefix_before_last(const char *haystack, const char *needle) {
  const char *found = nullptr;
  for (const char *at = std::strstr(haystack, needle); at != nullptr; at = std::strstr(at + 1, needle)) found = at;
  if (found == nullptr) return nullptr;
  return strndup(haystack, static_cast<size_t>(found - haystack));
}

}  // namespace

uint32_t LOG_run_command(const char *command) {
  if (command == nullptr) {
    LOG_printf(LOG_LEVEL_ERROR, kEngineSource, __func__, __LINE__, "Input data is NULL!\r\n");
    return KEL_ERROR_BADARG;
  }
  // Only a shell that cannot be started counts: the command's own exit
  // status is not looked at.
  if (std::system(command) == -1) {
    LOG_printf(LOG_LEVEL_ERROR, kEngineSource, __func__, __LINE__, "Can`t exec command: %s\r\n", command);
    return KEL_ERROR_FAILED;
  }
  return KEL_ERROR_NOERROR;
}

uint32_t LOG_append_to_archive(const char *archivePath, const char *directory, const char *file) {
  if (archivePath == nullptr || directory == nullptr || file == nullptr) {
    LOG_printf(LOG_LEVEL_ERROR, kEngineSource, __func__, __LINE__, "Input data is NULL!\r\n");
    return KEL_ERROR_BADARG;
  }
  char *fullPath = concat(directory, "/", file);
  if (fullPath == nullptr) {
    LOG_printf(LOG_LEVEL_ERROR, kEngineSource, __func__, __LINE__, "Memory allocation failed!\r\n");
    return KEL_ERROR_NOMEMORY;
  }
  uint32_t status = KEL_ERROR_NOERROR;
  if (GENERIC_check_file_exists(fullPath) == KEL_ERROR_NOERROR) {
    // tar changes into the directory first: the member gets its bare name.
    char *command = build_command(
        {{"tar -rf ", false}, {archivePath, true}, {" --directory=", false}, {directory, true}, {" ", false},
         {file, true}});
    if (command == nullptr) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, __func__, __LINE__, "Memory allocation failed!\r\n");
      status = KEL_ERROR_NOMEMORY;
    } else {
      LOG_printf(LOG_LEVEL_INFO, kEngineSource, __func__, __LINE__, "Command append to archive: %s\r\n", command);
      status = LOG_run_command(command);
      std::free(command);
    }
  } else {
    LOG_printf(LOG_LEVEL_WARN, kEngineSource, __func__, __LINE__, "File %s not found\r\n", fullPath);
  }
  std::free(fullPath);
  return status;
}

uint32_t LOG_get_system_data(const char *archivePath, const char *command, const char *directory,
                             const char *stamp, const char *suffix) {
  if (archivePath == nullptr || command == nullptr || directory == nullptr || stamp == nullptr ||
      suffix == nullptr) {
    LOG_printf(LOG_LEVEL_ERROR, kEngineSource, __func__, __LINE__, "Input data is NULL!\r\n");
    return KEL_ERROR_BADARG;
  }
  char *snapshotPath = concat(directory, stamp, suffix);
  char *create = snapshotPath != nullptr ? build_command({{command, false}, {" ", false}, {snapshotPath, true}})
                                         : nullptr;
  if (create == nullptr) {
    LOG_printf(LOG_LEVEL_ERROR, kEngineSource, __func__, __LINE__, "Memory allocation failed!\r\n");
    std::free(snapshotPath);
    return KEL_ERROR_NOMEMORY;
  }
  LOG_printf(LOG_LEVEL_INFO, kEngineSource, __func__, __LINE__, "Command create log info file: %s\r\n", create);
  uint32_t ran = LOG_run_command(create);
  std::free(create);
  if (ran == KEL_ERROR_FAILED) {
    std::free(snapshotPath);
    return KEL_ERROR_FAILED;
  }

  if (char *file = concat(stamp, suffix); file == nullptr) {
    LOG_printf(LOG_LEVEL_ERROR, kEngineSource, __func__, __LINE__, "Memory allocation failed!\r\n");
  } else {
    if (LOG_append_to_archive(archivePath, directory, file) == KEL_ERROR_FAILED)
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, __func__, __LINE__, "Failed append file %s/%s to archive %s.\r\n",
                 directory, file, archivePath);
    std::free(file);
  }

  char *remove = build_command({{"rm -f ", false}, {snapshotPath, true}});
  std::free(snapshotPath);
  if (remove == nullptr) {
    LOG_printf(LOG_LEVEL_ERROR, kEngineSource, __func__, __LINE__, "Memory allocation failed!\r\n");
    return KEL_ERROR_NOMEMORY;
  }
  LOG_printf(LOG_LEVEL_INFO, kEngineSource, __func__, __LINE__, "Command delete log info file: %s\r\n", remove);
  ran = LOG_run_command(remove);
  std::free(remove);
  return ran == KEL_ERROR_FAILED ? KEL_ERROR_FAILED : KEL_ERROR_NOERROR;
}

size_t format_stamp(time_t now, char *out, size_t cap) {
  struct tm local;
  if (cap == 0) return 0;
  out[0] = '\0';
  if (localtime_r(&now, &local) == nullptr) return 0;
  // %G: the ISO 8601 week-based year, which differs from the calendar year
  // in the days around New Year (31 December 2024 lies in week 1 of 2025).
  return std::strftime(out, cap, "%G_%m_%d_%H%M%S", &local);
}

uint32_t create_archive(const char *directory, char **name, time_t now) {
  constexpr const char *kFn = "LOG_create_archive";
  if (name == nullptr) {
    LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Input data is NULL!\r\n");
    return KEL_ERROR_FAILED;
  }
  uint32_t status = KEL_ERROR_FAILED;
  Strings s;
  // Steps in order; the first failure leaves the loop with status unchanged.
  do {
    const kel::log::LogEngine &engine = kel::log::logEngine;
    if (engine.app != LOG_APP_KEL && engine.app != LOG_APP_CLI) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Failed to create archive. Only for kel application.\r\n");
      break;
    }
    if (directory == nullptr) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Path is NULL!\r\n");
      break;
    }
    char stamp[2 * kStampSize];
    size_t stampLength = format_stamp(now, stamp, sizeof stamp);
    if (stampLength == 0) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Failed to get time.\r\n");
      break;
    }
    if (stampLength >= kStampSize) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Buffer overflow.\r\n");
      break;
    }
    s.name = static_cast<char *>(std::malloc(kNameSize));
    if (s.name == nullptr) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Memory allocation failed!\r\n");
      status = KEL_ERROR_NOMEMORY;
      break;
    }
    std::snprintf(s.name, kNameSize, "%s%s%s", "kel_logs_", stamp, ".tar");
    LOG_printf(LOG_LEVEL_INFO, kEngineSource, kFn, __LINE__, "Archive filename: %s\r\n", s.name);

    s.archivePath = concat(directory, "/", s.name);
    if (s.archivePath == nullptr) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Memory allocation failed!\r\n");
      status = KEL_ERROR_NOMEMORY;
      break;
    }
    LOG_printf(LOG_LEVEL_INFO, kEngineSource, kFn, __LINE__, "Archive path with filename: %s\r\n", s.archivePath);

    // The application log directory keeps the "/" before the file name.
    if (engine.fileName != nullptr) s.appLogDir = prefix_before_last(engine.fileName, kAppLogFile);
    if (s.appLogDir == nullptr) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Failed to get path for app kel log\r\n");
      break;
    }
    LOG_printf(LOG_LEVEL_INFO, kEngineSource, kFn, __LINE__, "Kel app path: %s\r\n", s.appLogDir);

    const char *home = GENERIC_get_home_dir();
    if (home == nullptr) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Failed to get user home directory!\r\n");
      break;
    }
    s.userClientDir = concat(home, "/.kel/");
    if (s.userClientDir == nullptr) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Memory allocation failed!\r\n");
      status = KEL_ERROR_NOMEMORY;
      break;
    }
    LOG_printf(LOG_LEVEL_INFO, kEngineSource, kFn, __LINE__, "Kel home dir: %s\r\n", s.userClientDir);

    s.gzipCommand = build_command({{"gzip ", false}, {s.archivePath, true}});
    if (s.gzipCommand == nullptr) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Memory allocation failed!\r\n");
      status = KEL_ERROR_NOMEMORY;
      break;
    }
    LOG_printf(LOG_LEVEL_INFO, kEngineSource, kFn, __LINE__, "Command gzip: %s\r\n", s.gzipCommand);

    FILE *empty = std::fopen(s.archivePath, "w");
    if (empty == nullptr) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Failed to create empty archive file %s.\r\n",
                 s.archivePath);
      break;
    }
    std::fclose(empty);

    // Each step logs its own trouble; none of them decides the outcome.
    for (const Member &m : kLogs) LOG_append_to_archive(s.archivePath, member_dir(m, s), m.file);
    for (const Snapshot &snap : kSnapshots)
      LOG_get_system_data(s.archivePath, snap.command, s.appLogDir, stamp, snap.suffix);
    for (const Member &m : kConfiguration) LOG_append_to_archive(s.archivePath, member_dir(m, s), m.file);

    if (LOG_run_command(s.gzipCommand) == KEL_ERROR_FAILED) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Failed gzip file.\r\n");
      break;
    }
    // gzip has replaced the ".tar" file by "<name>.gz".
    std::strncat(s.name, ".gz", kNameSize - std::strlen(s.name) - 1);
    status = KEL_ERROR_NOERROR;
  } while (false);

  std::free(*name);
  *name = nullptr;
  if (status == KEL_ERROR_NOERROR) {
    *name = s.name;
    s.name = nullptr;
  }
  return status;
}

}  // namespace kel::archive

uint32_t LOG_create_archive(const char *directory, char **name) {
  return kel::archive::create_archive(directory, name, std::time(nullptr));
}
