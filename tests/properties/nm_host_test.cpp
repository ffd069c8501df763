// The plugin inside an editor without libglade (every GTK 3 or 4 editor):
// GLib and libnm only. The plugin still loads and describes itself; asking
// for an editor fails with an error, and the host carries on.
#include <dlfcn.h>

#include <filesystem>

#include "properties/host.h"

using namespace kel::test;
using namespace kel::test::host;

namespace {

class HostWithoutLibglade : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(InstallDialog());  // the file is there: only libglade is missing
    ASSERT_TRUE(SilenceSystemLog());
    nameFile_ = WriteNameFile();
    ASSERT_FALSE(nameFile_.empty());
  }
  void TearDown() override {
    if (!nameFile_.empty()) std::filesystem::remove_all(std::filesystem::path(nameFile_).parent_path());
  }
  std::string nameFile_;
};

TEST_F(HostWithoutLibglade, EditorFailsWithAnErrorAndTheHostLivesOn) {
  EXPECT_EQ(RunHost([&] {
              ASSERT_EQ(dlsym(RTLD_DEFAULT, "glade_xml_new"), nullptr) << "this host must not have libglade";
              setenv("HOME", "/home/editor", 1);
              NMVpnPluginInfo *info = nullptr;
              NMVpnEditorPlugin *plugin = LoadThroughPluginInfo(nameFile_, &info);
              ASSERT_NE(plugin, nullptr);

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
