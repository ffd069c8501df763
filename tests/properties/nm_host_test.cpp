// The plugin inside an editor without libglade (every GTK 3 or 4 editor):
// libnm loads the built library through its .name file; asking for an
// editor fails and the host lives on.
#include "properties/host.h"

using namespace kel::test;
using namespace kel::test::host;

TEST_F(SandboxTest, HostWithoutLibgladeGetsAnErrorAndLivesOn) {
  ASSERT_TRUE(SilenceSystemLog());
  TempDir dir;
  const std::string nameFile = WriteNameFile(dir.path());
  EXPECT_EQ(0, RunInChild([&] {
    ASSERT_EQ(dlsym(RTLD_DEFAULT, "glade_xml_new"), nullptr) << "this host must not have libglade";
    setenv("HOME", "/home/editor", 1);
    NMVpnPluginInfo *info = nullptr;
    NMVpnEditorPlugin *plugin = LoadThroughPluginInfo(nameFile, &info);
    ASSERT_NE(plugin, nullptr);
    GError *error = nullptr;
    EXPECT_EQ(nm_vpn_editor_plugin_get_editor(plugin, nullptr, &error), nullptr);
    ExpectPluginError(error, kNoResources);
    g_object_unref(info);
  }));
}
