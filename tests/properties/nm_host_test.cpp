// The plugin inside an editor without libglade (every GTK 3 or 4 editor):
// GLib and libnm only. The plugin still loads and describes itself; asking
// for an editor fails with an error, and the host carries on.
#include <dlfcn.h>

#include <filesystem>

#include <thread>
#include <vector>

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
              EXPECT_EQ(error->code, 0);
              EXPECT_STREQ(error->message,
                           "Failed to load resources from "
                           "'/usr/share/gnome-vpn-properties/kelvpn/nm-kelvpn-dialog.glade'");
              g_clear_error(&error);
              EXPECT_EQ(editors.made(), 1);
              EXPECT_EQ(editors.live(), 0);

              // Still a working plugin afterwards.
              EXPECT_EQ(nm_vpn_editor_plugin_get_capabilities(plugin), NM_VPN_EDITOR_PLUGIN_CAPABILITY_NONE);
              char *name = nullptr;
              g_object_get(plugin, NM_VPN_EDITOR_PLUGIN_NAME, &name, nullptr);
              EXPECT_STREQ(name, "Tarvo KEL");
              g_free(name);
              g_object_unref(info);

              bool warned = false;
              for (const auto &t : ReadTrace())
                warned |= t.level == "WARN" && t.function == "nm_vpn_editor_interface_new" &&
                          t.message == "Failed to load resources from "
                                       "'/usr/share/gnome-vpn-properties/kelvpn/nm-kelvpn-dialog.glade'";
              EXPECT_TRUE(warned) << ReadFile(kLogPath);
            }),
            0);
}

// Several threads asking at once for the types and the error domain all get
// the one registration.
TEST_F(HostWithoutLibglade, TypesAndDomainRegisterOnceUnderConcurrentFirstUse) {
  EXPECT_EQ(RunHost([&] {
              void *handle = dlopen(KEL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
              ASSERT_NE(handle, nullptr) << dlerror();
              auto plugin_type = reinterpret_cast<GType (*)(void)>(dlsym(handle, "kelvpn_editor_plugin_get_type"));
              auto editor_type = reinterpret_cast<GType (*)(void)>(dlsym(handle, "kelvpn_editor_get_type"));
              auto quark = reinterpret_cast<GQuark (*)(void)>(dlsym(handle, "kelvpn_editor_plugin_error_quark"));
              ASSERT_TRUE(plugin_type && editor_type && quark);
              constexpr int kThreads = 8;
              std::vector<GType> plugins(kThreads), editors(kThreads);
              std::vector<GQuark> quarks(kThreads);
              std::vector<std::thread> threads;
              for (int i = 0; i < kThreads; ++i)
                threads.emplace_back([&, i] {
                  plugins[i] = plugin_type();
                  editors[i] = editor_type();
                  quarks[i] = quark();
                });
              for (auto &t : threads) t.join();
              for (int i = 0; i < kThreads; ++i) {
                EXPECT_EQ(plugins[i], g_type_from_name("KelVpnEditorPlugin"));
                EXPECT_EQ(editors[i], g_type_from_name("KelVpnEditor"));
                EXPECT_EQ(quarks[i], g_quark_try_string("kelvpn-editor-plugin-error-quark"));
              }
              EXPECT_NE(plugins[0], 0u);
              EXPECT_TRUE(g_type_is_a(plugins[0], NM_TYPE_VPN_EDITOR_PLUGIN));
              EXPECT_TRUE(g_type_is_a(editors[0], NM_TYPE_VPN_EDITOR));
              EXPECT_NE(quarks[0], 0u);
            }),
            0);
}

}  // namespace
