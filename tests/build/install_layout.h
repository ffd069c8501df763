// What an install under /usr lays out, shared by the install and package tests.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>

#include "support/sandbox.h"

namespace kel::test {

inline const std::string kPluginDir = std::string("usr/") + KEL_LIBDIR + "/NetworkManager";
inline const std::string kLibrary = kPluginDir + "/libnm-kelvpn-properties.so";
inline const std::string kNameFile = std::string(KEL_VPN_SERVICE_DIR).substr(1) + "/nm-kelvpn-service.name";

// Every file and folder relative to the root, with its permission bits:
// folders and kelctl 0755, the rest 0644 (the plugin too: libnm refuses one
// that group or others may write).
inline std::map<std::string, unsigned> ExpectedInstall() {
  std::map<std::string, unsigned> all = {
      {"usr/bin/kelctl", 0755}, {kLibrary, 0644}, {kNameFile, 0644},
      {std::string("usr/") + KEL_LIBDIR + "/pkgconfig/kelvpn.pc", 0644},
      {"usr/share/gnome-vpn-properties/kelvpn/nm-kelvpn-dialog.glade", 0644},
      {"usr/share/man/man1/kelctl.1.gz", 0644}, {"usr/share/bash-completion/completions/kelctl", 0644},
      {"usr/share/doc/kelvpn/copyright", 0644}, {"usr/share/doc/kelvpn/changelog.gz", 0644}};
  for (const auto &h : std::filesystem::directory_iterator(KEL_SOURCE_DIR "/include/kel"))
    all["usr/include/kel/" + h.path().filename().string()] = 0644;
  for (const auto &[path, mode] : std::map(all))
    for (auto dir = std::filesystem::path(path).parent_path(); !dir.empty(); dir = dir.parent_path())
      all[dir.string()] = 0755;
  return all;
}

inline std::map<std::string, unsigned> TreeOf(const std::string &root) {
  std::map<std::string, unsigned> tree;
  for (const auto &e : std::filesystem::recursive_directory_iterator(root)) {
    struct stat st {};
    if (lstat(e.path().c_str(), &st) == 0) tree[std::filesystem::relative(e.path(), root)] = st.st_mode & 07777;
  }
  return tree;
}

// The example client built in dir with the given pkg-config environment;
// "" when it built, else the compiler's words.
inline std::string BuildExample(const std::string &dir, const std::string &pkgConfigEnv) {
  const Outcome r = Shell(pkgConfigEnv + " make -s -C '" + dir + "' -f '" KEL_SOURCE_DIR "/examples/Makefile' SRC='" +
                          KEL_SOURCE_DIR "/examples' CFLAGS='-O2 -Wall -Wextra -Werror -std=c99'");
  return r.exitCode == 0 ? "" : r.out;
}

}  // namespace kel::test
