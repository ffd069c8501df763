// `cmake --install` with DESTDIR: the library, headers, dialog file and the
// VPN plugin description land where NetworkManager and the plugin look, and
// libnm accepts the description as installed.
#include <NetworkManager.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/sandbox.h"

namespace {

using kel::test::Exists;
using kel::test::ReadFile;

TEST(PluginInstall, PutsEveryFileInPlaceAsLibnmWantsIt) {
  char dir[] = "/tmp/kel-install-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string stage = dir, prefix = "/opt/kelvpn";
  const std::string cmd = "DESTDIR='" + stage + "' '" KEL_CMAKE "' --install '" KEL_BINARY_DIR "' --prefix " + prefix +
                          " >'" + stage + "/install.log' 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << ReadFile(stage + "/install.log");

  const std::string nameFile = stage + KEL_VPN_SERVICE_DIR "/nm-kelvpn-service.name";
  struct stat st {};
  ASSERT_EQ(stat(nameFile.c_str(), &st), 0) << ReadFile(stage + "/install.log");
  EXPECT_EQ(st.st_mode & 07777, 0644u);

  GError *error = nullptr;
  NMVpnPluginInfo *info = nm_vpn_plugin_info_new_from_file(nameFile.c_str(), &error);
  ASSERT_NE(info, nullptr) << error->message;
  EXPECT_STREQ(nm_vpn_plugin_info_get_service(info), "org.freedesktop.NetworkManager.KelVpn");
  const std::string library = nm_vpn_plugin_info_get_plugin(info);
  g_object_unref(info);
  EXPECT_EQ(library.rfind(prefix + "/", 0), 0u) << library;  // absolute, under the prefix, without DESTDIR
  EXPECT_EQ(std::filesystem::path(library).filename(), "libnm-kelvpn-properties.so");
  ASSERT_EQ(stat((stage + library).c_str(), &st), 0) << library;
  EXPECT_EQ(st.st_mode & 022, 0u);  // libnm refuses a library others can write

  EXPECT_EQ(ReadFile(stage + "/usr/share/gnome-vpn-properties/kelvpn/nm-kelvpn-dialog.glade"),
            ReadFile(KEL_SOURCE_DIR "/properties/nm-kelvpn-dialog.glade"));
  EXPECT_TRUE(Exists(stage + prefix + "/include/kel/vpn_plugin.h"));
  std::filesystem::remove_all(stage);
}

}  // namespace
