// The plugin inside an editor without libglade (every GTK 3 or 4 editor):
// GLib and libnm only. The build is installed under /usr in the sandbox and
// libnm loads the plugin from there, through the installed description. The
// plugin still loads and describes itself; asking for an editor fails with
// an error, and the host carries on.
#include <dlfcn.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "properties/host.h"

using namespace kel::test;
using namespace kel::test::host;

namespace {

class HostWithoutLibglade : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!EnterSandbox(&why, /*writableUsr=*/true)) GTEST_SKIP() << "no sandbox: " << why;
    ASSERT_TRUE(SilenceSystemLog());
    const std::string log = "/tmp/kel-nm-install-" + std::to_string(getpid()) + ".log";
    const std::string install = "'" KEL_CMAKE "' --install '" KEL_BINARY_DIR "' --prefix /usr >" + log + " 2>&1";
    ASSERT_EQ(std::system(install.c_str()), 0) << ReadFile(log);
    std::remove(log.c_str());
  }
  const std::string nameFile_ = KEL_VPN_SERVICE_DIR "/nm-kelvpn-service.name";
};

TEST_F(HostWithoutLibglade, EditorFailsWithAnErrorAndTheHostLivesOn) {
  EXPECT_EQ(RunHost([&] {
              ASSERT_EQ(dlsym(RTLD_DEFAULT, "glade_xml_new"), nullptr) << "this host must not have libglade";
              setenv("HOME", "/home/editor", 1);
              NMVpnPluginInfo *info = nullptr;
              NMVpnEditorPlugin *plugin = LoadThroughPluginInfo(nameFile_, &info);
              ASSERT_NE(plugin, nullptr);
              Dl_info loaded{};
              ASSERT_NE(dladdr(Entry("nm_vpn_editor_plugin_factory"), &loaded), 0);
              EXPECT_STREQ(loaded.dli_fname, KEL_INSTALLED_LIBRARY);
              EXPECT_STREQ(nm_vpn_plugin_info_get_plugin(info), KEL_INSTALLED_LIBRARY);

              LiveInstances editors(LibraryType("kelvpn_editor_get_type"));
              GError *error = nullptr;
              EXPECT_EQ(nm_vpn_editor_plugin_get_editor(plugin, nullptr, &error), nullptr);
              ASSERT_NE(error, nullptr);
              EXPECT_STREQ(g_quark_to_string(error->domain), kErrorDomain);
              EXPECT_STREQ(error->message, kNoResources);
              g_clear_error(&error);
              EXPECT_EQ(editors.made(), 1);
              EXPECT_EQ(editors.live(), 0);

              // Still a working plugin afterwards.
              EXPECT_EQ(nm_vpn_editor_plugin_get_capabilities(plugin), NM_VPN_EDITOR_PLUGIN_CAPABILITY_NONE);
              g_object_unref(info);
              bool warned = false;
              for (const auto &t : ReadTrace()) warned |= t.level == "WARN" && t.message == kNoResources;
              EXPECT_TRUE(warned) << ReadFile(kLogPath);
            }),
            0);
}

}  // namespace
