#include "support/sandbox.h"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace kel::test {
namespace {

bool Fail(std::string *why, const std::string &what) {
  if (why) *why = what + ": " + std::strerror(errno);
  return false;
}

}  // namespace

bool MountTmpfs(const std::string &path, const std::string &options) {
  mkdir(path.c_str(), 0755);
  return mount("tmpfs", path.c_str(), "tmpfs", 0, options.empty() ? nullptr : options.c_str()) == 0;
}

bool RemountReadOnly(const std::string &path, bool readOnly) {
  unsigned long flags = MS_REMOUNT | MS_BIND | (readOnly ? MS_RDONLY : 0);
  return mount(nullptr, path.c_str(), nullptr, flags, nullptr) == 0;
}

bool EnterSandbox(std::string *why, bool writableUsr) {
  if (geteuid() != 0) {
    if (why) *why = "not root";
    return false;
  }
  if (unshare(CLONE_NEWNS) != 0) return Fail(why, "unshare");
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return Fail(why, "make-private");
  // /usr/share/kel and its sibling may not exist on the host: give /usr/share
  // a throw-away upper layer so the mount points can be made privately.
  if (writableUsr || !Exists("/usr/share/kel") || !Exists("/usr/share/gnome-vpn-properties")) {
    if (!MountTmpfs("/mnt")) return Fail(why, "tmpfs /mnt");
    mkdir("/mnt/upper", 0755);
    mkdir("/mnt/work", 0755);
    const std::string layer = writableUsr ? "/usr" : "/usr/share";
    const std::string options = "lowerdir=" + layer + ",upperdir=/mnt/upper,workdir=/mnt/work";
    if (mount("overlay", layer.c_str(), "overlay", 0, options.c_str()) != 0) return Fail(why, "overlay " + layer);
  }
  for (const char *dir : {"/usr/share/kel", "/usr/share/gnome-vpn-properties", "/home"}) {
    if (!MountTmpfs(dir, "mode=0755")) return Fail(why, std::string("tmpfs ") + dir);
  }
  return true;
}

int RunInChild(const std::function<void()> &fn) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    fn();
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
  std::string out;
  char buf[4096];
  lseek(fd, 0, SEEK_SET);
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

}  // namespace kel::test
