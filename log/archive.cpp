// The diagnostic archive: support's one file. It is built in a private
// directory (mode 0700) made beside its destination: tar appends one member
// at a time (changing into the member's directory first, so members carry
// bare names), snapshots of the system's state are written there, packed and
// deleted, gzip compresses the result, and the finished archive is moved to
// its name only if nothing is there yet. Every file it creates is new (never
// opened through a planted link) and readable by its owner only, since it
// collects the system log.
//
// The tools run from the system's own directories with an argument vector
// and a fixed environment: no shell, no $PATH, and no file name is ever read
// as anything but a file name. The log shows each command shell-quoted.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

// Snapshots of the system, each the output of a tool saved as stamp + suffix.
struct Snapshot {
  const char *tool;
  const char *argument;  // or null
  const char *suffix;
};
constexpr Snapshot kSnapshots[] = {
    {"dmesg", nullptr, ".dmesg"},
    {"ip", "addr", ".ipaddr"},
    {"ip", "route", ".iproute"},
    {"uname", "-a", ".uname"},
    {"ifconfig", "-a", ".ifconfig"},
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

// Tools are taken from these directories only, in this order.
constexpr const char *kToolDirs[] = {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"};
// What the tools see of the environment: nothing of the caller's (TAR_OPTIONS
// or GZIP would change what they do), the C locale.
constexpr const char *kToolEnvironment[] = {"PATH=/usr/bin:/bin:/usr/sbin:/sbin", "LC_ALL=C", nullptr};

constexpr const char *kPrivatePattern = "/.kel_logs_XXXXXX";
constexpr int kNewFileFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
constexpr mode_t kArchiveMode = 0600;

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

// What one archive run allocates, released together; the private directory
// goes with everything in it.
struct Run {
  char *name = nullptr;         // "kel_logs_<stamp>.tar", then ".gz" appended
  char *archivePath = nullptr;  // directory + "/" + name: where the archive ends up
  char *appLogDir = nullptr;
  char *userClientDir = nullptr;
  char *privateDir = nullptr;  // directory + "/.kel_logs_XXXXXX", made by mkdtemp
  char *tarPath = nullptr;     // privateDir + "/" + name
  ~Run() {
    if (privateDir != nullptr) remove_private_dir(privateDir);
    std::free(name);
    std::free(archivePath);
    std::free(appLogDir);
    std::free(userClientDir);
    std::free(privateDir);
    std::free(tarPath);
  }
  // Only this process writes in the directory (mode 0700), and only files.
  static void remove_private_dir(const char *path) {
    if (DIR *d = opendir(path)) {
      while (const struct dirent *e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) unlinkat(dirfd(d), e->d_name, 0);
      closedir(d);
    }
    rmdir(path);
  }
};

const char *member_dir(const Member &m, const Run &r) {
  switch (m.where) {
    case Dir::kAppLog: return r.appLogDir;
    case Dir::kUserClient: return r.userClientDir;
    case Dir::kFixed: break;
  }
  return m.directory;
}

// A new file for this process only; false if anything is at the path.
bool create_new(const char *path, int *fd) {
  *fd = open(path, kNewFileFlags, kArchiveMode);
  return *fd >= 0;
}

// Moves from to to unless something (a file, a link) is there already.
bool move_without_replacing(const char *from, const char *to) {
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without the flag: a hard link fails on any existing name too.
  if (link(from, to) != 0) return false;
  unlink(from);
  return true;
}

}  // namespace

char *prefix_before_last(const char *haystack, const char *needle) {
  const char *found = nullptr;
  for (const char *at = std::strstr(haystack, needle); at != nullptr; at = std::strstr(at + 1, needle)) found = at;
  if (found == nullptr) return nullptr;
  return strndup(haystack, static_cast<size_t>(found - haystack));
}

bool find_tool(const char *tool, char *out, size_t cap) {
  for (const char *dir : kToolDirs) {
    int n = std::snprintf(out, cap, "%s%s", dir, tool);
    if (n > 0 && static_cast<size_t>(n) < cap && access(out, X_OK) == 0) return true;
  }
  if (cap > 0) out[0] = '\0';
  return false;
}

char *command_text(const char *const *argv, const char *input, const char *output) {
  size_t count = 0;
  while (argv[count] != nullptr) ++count;
  if (count == 0) return nullptr;
  char *words = kel::log::shell_command(argv[0], argv + 1, count - 1);
  if (words == nullptr || (input == nullptr && output == nullptr)) return words;
  const char *redirections[] = {input, output};
  const char *signs[] = {" < ", " > "};
  size_t length = std::strlen(words) + 1;
  for (int i = 0; i < 2; ++i)
    if (redirections[i] != nullptr) length += 3 + kel::log::shell_quoted_length(redirections[i]);
  auto *text = static_cast<char *>(std::realloc(words, length));
  if (text == nullptr) {
    std::free(words);
    return nullptr;
  }
  size_t at = std::strlen(text);
  for (int i = 0; i < 2; ++i) {
    if (redirections[i] == nullptr) continue;
    std::memcpy(text + at, signs[i], 3);
    at += 3;
    at += kel::log::shell_quote(redirections[i], text + at, length - at);
  }
  return text;
}

uint32_t LOG_run_command(const char *const *argv, int input, int output, int *exitStatus) {
  if (argv == nullptr || argv[0] == nullptr) {
    LOG_printf(LOG_LEVEL_ERROR, kEngineSource, __func__, __LINE__, "Input data is NULL!\r\n");
    return KEL_ERROR_BADARG;
  }
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return KEL_ERROR_NOMEMORY;
  int rc = 0;
  if (input >= 0) rc = posix_spawn_file_actions_adddup2(&actions, input, 0);
  if (rc == 0 && output >= 0) rc = posix_spawn_file_actions_adddup2(&actions, output, 1);
  pid_t pid = -1;
  if (rc == 0)
    rc = posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char *const *>(argv),
                     const_cast<char *const *>(kToolEnvironment));
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (rc == 0) {
    while (waitpid(pid, &status, 0) < 0)
      if (errno != EINTR) {
        rc = errno;
        break;
      }
  }
  if (rc != 0) {
    char *text = command_text(argv, nullptr, nullptr);
    LOG_printf(LOG_LEVEL_ERROR, kEngineSource, __func__, __LINE__, "Can`t exec command: %s\r\n",
               text != nullptr ? text : argv[0]);
    std::free(text);
    return KEL_ERROR_FAILED;
  }
  if (exitStatus != nullptr) *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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
    char tar[64];
    find_tool("tar", tar, sizeof tar);
    // tar changes into the directory first: the member gets its bare name.
    // After "--" a name that begins with "-" is still a name.
    char *changeDir = concat("--directory=", directory);
    const char *argv[] = {tar, "-rf", archivePath, changeDir, "--", file, nullptr};
    char *text = changeDir != nullptr ? command_text(argv, nullptr, nullptr) : nullptr;
    if (text == nullptr) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, __func__, __LINE__, "Memory allocation failed!\r\n");
      status = KEL_ERROR_NOMEMORY;
    } else {
      LOG_printf(LOG_LEVEL_INFO, kEngineSource, __func__, __LINE__, "Command append to archive: %s\r\n", text);
      status = LOG_run_command(argv, -1, -1, nullptr);
    }
    std::free(text);
    std::free(changeDir);
  } else {
    LOG_printf(LOG_LEVEL_WARN, kEngineSource, __func__, __LINE__, "File %s not found\r\n", fullPath);
  }
  std::free(fullPath);
  return status;
}

uint32_t LOG_get_system_data(const char *archivePath, const char *tool, const char *argument,
                             const char *directory, const char *stamp, const char *suffix) {
  if (archivePath == nullptr || tool == nullptr || directory == nullptr || stamp == nullptr || suffix == nullptr) {
    LOG_printf(LOG_LEVEL_ERROR, kEngineSource, __func__, __LINE__, "Input data is NULL!\r\n");
    return KEL_ERROR_BADARG;
  }
  char program[64];
  find_tool(tool, program, sizeof program);
  const char *argv[] = {program, argument, nullptr};
  char *file = concat(stamp, suffix);
  char *snapshotPath = file != nullptr ? concat(directory, "/", file) : nullptr;
  char *text = snapshotPath != nullptr ? command_text(argv, nullptr, snapshotPath) : nullptr;
  if (text == nullptr) {
    LOG_printf(LOG_LEVEL_ERROR, kEngineSource, __func__, __LINE__, "Memory allocation failed!\r\n");
    std::free(file);
    std::free(snapshotPath);
    return KEL_ERROR_NOMEMORY;
  }
  LOG_printf(LOG_LEVEL_INFO, kEngineSource, __func__, __LINE__, "Command create log info file: %s\r\n", text);
  std::free(text);
  uint32_t status = KEL_ERROR_FAILED;
  int fd = -1;
  if (!create_new(snapshotPath, &fd)) {
    LOG_printf(LOG_LEVEL_ERROR, kEngineSource, __func__, __LINE__, "Failed to create file %s (%s)\r\n", snapshotPath,
               std::strerror(errno));
  } else {
    status = LOG_run_command(argv, -1, fd, nullptr);
    close(fd);
    if (status == KEL_ERROR_NOERROR && LOG_append_to_archive(archivePath, directory, file) == KEL_ERROR_FAILED)
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, __func__, __LINE__, "Failed append file %s/%s to archive %s.\r\n",
                 directory, file, archivePath);
    unlink(snapshotPath);
  }
  std::free(file);
  std::free(snapshotPath);
  return status;
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

namespace {

// gzip -c < tar > tar.gz, both in the private directory; true when gzip ran
// to the end.
bool compress(const Run &r, const char *gzPath) {
  char gzip[64];
  find_tool("gzip", gzip, sizeof gzip);
  const char *argv[] = {gzip, "-c", nullptr};
  if (char *text = command_text(argv, r.tarPath, gzPath)) {
    LOG_printf(LOG_LEVEL_INFO, kEngineSource, "LOG_create_archive", __LINE__, "Command gzip: %s\r\n", text);
    std::free(text);
  }
  int in = open(r.tarPath, O_RDONLY | O_NOFOLLOW | O_CLOEXEC), out = -1;
  bool done = false;
  if (in >= 0 && create_new(gzPath, &out)) {
    int exitStatus = -1;
    done = LOG_run_command(argv, in, out, &exitStatus) == KEL_ERROR_NOERROR && exitStatus == 0;
    // A full disk may only show at close.
    done = close(out) == 0 && done;
  }
  if (in >= 0) close(in);
  return done;
}

}  // namespace

uint32_t create_archive(const char *directory, char **name, time_t now) {
  constexpr const char *kFn = "LOG_create_archive";
  if (name == nullptr) {
    LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Input data is NULL!\r\n");
    return KEL_ERROR_FAILED;
  }
  uint32_t status = KEL_ERROR_FAILED;
  Run r;
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
    r.name = static_cast<char *>(std::malloc(kNameSize));
    if (r.name == nullptr) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Memory allocation failed!\r\n");
      status = KEL_ERROR_NOMEMORY;
      break;
    }
    std::snprintf(r.name, kNameSize, "%s%s%s", "kel_logs_", stamp, ".tar");
    LOG_printf(LOG_LEVEL_INFO, kEngineSource, kFn, __LINE__, "Archive filename: %s\r\n", r.name);

    r.archivePath = concat(directory, "/", r.name);
    r.privateDir = concat(directory, kPrivatePattern);
    if (r.archivePath == nullptr || r.privateDir == nullptr) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Memory allocation failed!\r\n");
      status = KEL_ERROR_NOMEMORY;
      break;
    }
    LOG_printf(LOG_LEVEL_INFO, kEngineSource, kFn, __LINE__, "Archive path with filename: %s\r\n", r.archivePath);

    // The application log directory keeps the "/" before the file name.
    if (engine.fileName != nullptr) r.appLogDir = prefix_before_last(engine.fileName, kAppLogFile);
    if (r.appLogDir == nullptr) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Failed to get path for app kel log\r\n");
      break;
    }
    LOG_printf(LOG_LEVEL_INFO, kEngineSource, kFn, __LINE__, "Kel app path: %s\r\n", r.appLogDir);

    const char *home = GENERIC_get_home_dir();
    if (home == nullptr) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Failed to get user home directory!\r\n");
      break;
    }
    r.userClientDir = concat(home, "/.kel/");
    if (r.userClientDir == nullptr) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Memory allocation failed!\r\n");
      status = KEL_ERROR_NOMEMORY;
      break;
    }
    LOG_printf(LOG_LEVEL_INFO, kEngineSource, kFn, __LINE__, "Kel home dir: %s\r\n", r.userClientDir);

    // The archive and the snapshots are made where nobody else can reach
    // them: a new directory of mode 0700.
    int fd = -1;
    if (mkdtemp(r.privateDir) == nullptr) {
      std::free(r.privateDir);
      r.privateDir = nullptr;
    } else if ((r.tarPath = concat(r.privateDir, "/", r.name)) != nullptr && create_new(r.tarPath, &fd)) {
      close(fd);
    }
    if (fd < 0) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Failed to create empty archive file %s.\r\n",
                 r.archivePath);
      break;
    }

    // Each step logs its own trouble; none of them decides the outcome.
    for (const Member &m : kLogs) LOG_append_to_archive(r.tarPath, member_dir(m, r), m.file);
    for (const Snapshot &snap : kSnapshots)
      LOG_get_system_data(r.tarPath, snap.tool, snap.argument, r.privateDir, stamp, snap.suffix);
    for (const Member &m : kConfiguration) LOG_append_to_archive(r.tarPath, member_dir(m, r), m.file);

    std::strncat(r.name, ".gz", kNameSize - std::strlen(r.name) - 1);
    char *gzPath = concat(r.tarPath, ".gz");
    char *finalPath = concat(r.archivePath, ".gz");
    if (gzPath == nullptr || finalPath == nullptr) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Memory allocation failed!\r\n");
      status = KEL_ERROR_NOMEMORY;
    } else if (!compress(r, gzPath)) {
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Failed gzip file.\r\n");
    } else if (!move_without_replacing(gzPath, finalPath)) {
      // An archive of the same second, or anything planted at the name, stays
      // as it is: this run reports failure rather than another run's file.
      LOG_printf(LOG_LEVEL_ERROR, kEngineSource, kFn, __LINE__, "Failed to store archive %s (%s).\r\n", finalPath,
                 std::strerror(errno));
    } else {
      status = KEL_ERROR_NOERROR;
    }
    std::free(gzPath);
    std::free(finalPath);
  } while (false);

  std::free(*name);
  *name = nullptr;
  if (status == KEL_ERROR_NOERROR) {
    *name = r.name;
    r.name = nullptr;
  }
  return status;
}

}  // namespace kel::archive

uint32_t LOG_create_archive(const char *directory, char **name) {
  return kel::archive::create_archive(directory, name, std::time(nullptr));
}
