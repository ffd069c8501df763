// What an install under /usr lays out, and helpers shared by the install and
// package tests.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

namespace kel::test {

inline const std::string kPluginDir = std::string("usr/") + KEL_LIBDIR + "/NetworkManager";
inline const std::string kLibrary = kPluginDir + "/libnm-kelvpn-properties.so";
inline const std::string kNameFile = std::string(KEL_VPN_SERVICE_DIR).substr(1) + "/nm-kelvpn-service.name";

// Every file and folder, relative to the root, with its permission bits:
// folders 0755, the program 0755, everything else (the plugin included:
// libnm refuses anything group- or other-writable) 0644.
inline std::map<std::string, unsigned> ExpectedInstall() {
  std::map<std::string, unsigned> files = {
      {"usr/bin/kelctl", 0755},
      {kLibrary, 0644},
      {kNameFile, 0644},
      {std::string("usr/") + KEL_LIBDIR + "/pkgconfig/kelvpn.pc", 0644},
      {"usr/share/gnome-vpn-properties/kelvpn/nm-kelvpn-dialog.glade", 0644},
      {"usr/share/man/man1/kelctl.1.gz", 0644},
      {"usr/share/bash-completion/completions/kelctl", 0644},
      {"usr/share/doc/kelvpn/copyright", 0644},
      {"usr/share/doc/kelvpn/changelog.gz", 0644},
  };
  for (const auto &h : std::filesystem::directory_iterator(KEL_SOURCE_DIR "/include/kel"))
    files["usr/include/kel/" + h.path().filename().string()] = 0644;
  std::map<std::string, unsigned> all = files;
  for (const auto &[path, mode] : files)
    for (auto dir = std::filesystem::path(path).parent_path(); !dir.empty(); dir = dir.parent_path())
      all[dir.string()] = 0755;
  return all;
}

// The tree under root as the map above gives it.
inline std::map<std::string, unsigned> TreeOf(const std::string &root) {
  std::map<std::string, unsigned> tree;
  for (const auto &e : std::filesystem::recursive_directory_iterator(root)) {
    struct stat st {};
    if (lstat(e.path().c_str(), &st) == 0)
      tree[std::filesystem::relative(e.path(), root).string()] = st.st_mode & 07777;
  }
  return tree;
}

struct ShellRun {
  int exit = -1;
  std::string out;  // standard output and error together
};

inline ShellRun Sh(const std::string &command) {
  ShellRun r;
  if (FILE *p = popen(("(" + command + ") 2>&1").c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    const int st = pclose(p);
    r.exit = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  return r;
}

// Installs the build under /usr into DESTDIR root; "" when that worked,
// else cmake's output.
inline std::string InstallInto(const std::string &root) {
  const ShellRun r = Sh("DESTDIR='" + root + "' '" KEL_CMAKE "' --install '" KEL_BINARY_DIR "' --prefix /usr");
  return r.exit == 0 ? "" : r.out;
}

// The example client built with the given pkg-config environment, in dir;
// "" when it built, else the compiler's output.
inline std::string BuildExample(const std::string &dir, const std::string &pkgConfigEnv) {
  const ShellRun r = Sh(pkgConfigEnv + " make -s -C '" + dir + "' -f '" KEL_SOURCE_DIR "/examples/Makefile' SRC='" +
                        KEL_SOURCE_DIR "/examples' CFLAGS='-O2 -Wall -Wextra -Werror -std=c99'");
  return r.exit == 0 ? "" : r.out;
}

}  // namespace kel::test
