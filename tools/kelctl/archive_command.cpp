// kelctl archive: builds the diagnostic archive for support in a directory
// and reports its name, size and member count.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kel/archive.h"
#include "kel/log.h"
#include "kelctl/commands.h"
#include "kelctl/util.h"

namespace kelctl {
namespace {

constexpr const char *kUsage = "usage: kelctl archive DIR [--log-dir DIR] [--cli] [--verbose]\n";

// Counts the members with "tar -t", run directly (no shell): -1 when tar
// cannot list the file.
long CountMembers(const std::string &path, bool gzipped) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  const char *argv[] = {"tar", gzipped ? "-tzf" : "-tf", path.c_str(), nullptr};
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, "tar", &actions, nullptr, const_cast<char *const *>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  long lines = 0;
  char buf[4096];
  for (ssize_t n; rc == 0 && (n = read(fds[0], buf, sizeof buf)) > 0;)
    for (ssize_t i = 0; i < n; ++i) lines += buf[i] == '\n';
  close(fds[0]);
  int status = -1;
  if (rc != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return lines;
}

void Report(const std::string &dir, const std::string &name, bool gzipped) {
  std::string path = dir + "/" + name;
  struct stat st{};
  stat(path.c_str(), &st);
  std::printf("archive: %s\npath: %s\nsize: %lld bytes\nmembers: %ld\n", name.c_str(), path.c_str(),
              static_cast<long long>(st.st_size), CountMembers(path, gzipped));
}

}  // namespace

int RunArchive(int argc, char **argv) {
  const char *dir = nullptr;
  const char *logDir = nullptr;
  uint32_t app = LOG_APP_KEL;
  bool verbose = false;
  enum { kLogDir, kCli, kVerbose };
  static constexpr Option kOptions[] = {
      {"--log-dir", nullptr, true}, {"--cli", nullptr, false}, {"--verbose", nullptr, false}};
  Args a("archive", kUsage, argc, argv, kOptions);
  while (a.Next()) {
    switch (a.id) {
      case kLogDir: logDir = a.value; break;
      case kCli: app = LOG_APP_CLI; break;
      case kVerbose: verbose = true; break;
      default:
        if (dir != nullptr) return a.Fail("unexpected argument '%s'", a.value);
        dir = a.value;
    }
  }
  if (a.exit >= 0) return a.exit;
  if (dir == nullptr) return a.Fail("which directory?");
  struct stat st{};
  const int notUsable = stat(dir, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  if (notUsable != 0) {
    std::fprintf(stderr, "kelctl archive: %s: %s\n", dir, std::strerror(notUsable));
    return kExitFailed;
  }

  if (LOG_init(app, nullptr, logDir) != KEL_ERROR_NOERROR) {
    std::fprintf(stderr, "kelctl archive: the log engine could not start\n");
    return kExitFailed;
  }
  if (verbose) LOG_set_option(LOG_OPTION_FILE | LOG_OPTION_STDOUT);
  char *name = nullptr;
  uint32_t code = LOG_create_archive(dir, &name);
  LOG_deinit();
  if (code != KEL_ERROR_NOERROR) {
    std::fprintf(stderr, "kelctl archive: no archive (%s); see %s/app-kel.log\n", LOG_error_str(code),
                 logDir != nullptr ? logDir : "/usr/share/kel/logs/");
    return kExitFailed;
  }

  // The library stores the archive only once it is complete.
  std::string archive = name;
  std::free(name);
  Report(dir, archive, true);
  return kExitOk;
}

}  // namespace kelctl
