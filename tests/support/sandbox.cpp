#include "support/sandbox.h"

#include <fcntl.h>
#include <grp.h>
#include <malloc.h>
#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern "C" int __lsan_do_recoverable_leak_check(void) __attribute__((weak));

namespace kel::test {

bool MountTmpfs(const std::string &path, const std::string &options) {
  mkdir(path.c_str(), 0755);
  return mount("tmpfs", path.c_str(), "tmpfs", 0, options.empty() ? nullptr : options.c_str()) == 0;
}

bool RemountReadOnly(const std::string &path, bool readOnly) {
  return mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_BIND | (readOnly ? MS_RDONLY : 0), nullptr) == 0;
}

bool EnterSandbox(std::string *why) {
  auto fail = [&](const std::string &what) {
    if (why) *why = what + ": " + std::strerror(errno);
    return false;
  };
  if (geteuid() != 0) return fail("not root");
  if (unshare(CLONE_NEWNS) != 0) return fail("unshare");
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return fail("make-private");
  // The mount points may not exist on the host: a throw-away upper layer.
  if (!Exists("/usr/share/kel") || !Exists("/usr/share/gnome-vpn-properties")) {
    if (!MountTmpfs("/mnt")) return fail("tmpfs /mnt");
    mkdir("/mnt/upper", 0755);
    mkdir("/mnt/work", 0755);
    const char *options = "lowerdir=/usr/share,upperdir=/mnt/upper,workdir=/mnt/work";
    if (mount("overlay", "/usr/share", "overlay", 0, options) != 0) return fail("overlay /usr/share");
  }
  for (const char *dir : {"/usr/share/kel", "/usr/share/gnome-vpn-properties", "/home"})
    if (!MountTmpfs(dir, "mode=0755")) return fail(std::string("tmpfs ") + dir);
  return true;
}

int RunInChild(const std::function<void()> &fn) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    fn();
    // A forked child leaves with _exit, past the leak checker: ask it here.
    if (__lsan_do_recoverable_leak_check != nullptr && __lsan_do_recoverable_leak_check() != 0)
      ADD_FAILURE() << "memory leaked in the child (report above)";
    std::fflush(nullptr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int RunAsUser(uid_t uid, gid_t gid, const std::function<void()> &fn) {
  return RunInChild([&] {
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) {
      ADD_FAILURE() << "cannot switch to uid " << uid << ": " << std::strerror(errno);
      return;
    }
    fn();
  });
}

std::string CaptureStdout(const std::function<void()> &fn) {
  std::fflush(stdout);
  char path[] = "/tmp/kel-stdout-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return {};
  unlink(path);
  int saved = dup(1);
  dup2(fd, 1);
  fn();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  lseek(fd, 0, SEEK_SET);
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  close(fd);
  return out;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool WriteFile(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out);
}

bool Exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> SplitLines(const std::string &text) {
  std::vector<std::string> lines;
  for (size_t pos = 0, nl; pos < text.size(); pos = nl + 1) {
    nl = std::min(text.find('\n', pos), text.size());
    lines.push_back(text.substr(pos, nl - pos));
  }
  return lines;
}

std::vector<std::string> DirNames(const std::string &dir) {
  std::vector<std::string> names;
  for (const auto &e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TempDir::TempDir(const std::string &base) {
  std::string pattern = base + "/kel-test-XXXXXX";
  path_ = mkdtemp(pattern.data()) != nullptr ? pattern : "";
  EXPECT_FALSE(path_.empty()) << "mkdtemp under " << base;
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

Outcome Shell(const std::string &command) {
  Outcome r;
  if (FILE *p = popen((command + " 2>&1").c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    int status = pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return r;
}

std::string RunProgram(const std::vector<std::string> &argv, int *status) {
  std::vector<char *> args;
  for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string out;
  char buf[4096];
  for (ssize_t n; rc == 0 && (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int st = -1;
  if (rc == 0) waitpid(pid, &st, 0);
  if (status != nullptr) *status = rc == 0 && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return out;
}

Footprint FootprintNow() {
  const size_t fds = static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
#ifdef KEL_SANITIZED
  return {0, fds};
#else
  return {mallinfo2().uordblks, fds};
#endif
}

// Opened before any test hides /tmp or the home directory behind a tmpfs, so
// that a checkout below either stays reachable from inside the namespace.
const int kGoldenDir = open(KEL_GOLDEN_DIR, O_PATH | O_DIRECTORY | O_CLOEXEC);

void ExpectGolden(const std::string &name, const std::string &text) {
  const std::string path = kGoldenDir < 0 ? std::string(KEL_GOLDEN_DIR) + "/" + name + ".exp"
                                          : "/proc/self/fd/" + std::to_string(kGoldenDir) + "/" + name + ".exp";
  const char *update = std::getenv("KEL_UPDATE_GOLDEN");
  if (update != nullptr && std::strcmp(update, "1") == 0) {
    EXPECT_TRUE(WriteFile(path, text)) << path;
    return;
  }
  const std::string shown = std::string(KEL_GOLDEN_DIR) + "/" + name + ".exp";
  ASSERT_TRUE(Exists(path)) << shown << " is missing: run with KEL_UPDATE_GOLDEN=1";
  EXPECT_EQ(text, ReadFile(path)) << "differs from " << shown << " (KEL_UPDATE_GOLDEN=1 rewrites it)";
}

}  // namespace kel::test
