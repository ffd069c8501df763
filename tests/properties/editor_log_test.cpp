// The plugin's trace lines, as an editing session in the connection editor
// leaves them in the plugin's log.
#include <filesystem>
#include <vector>

#include "properties/editor_host.h"

using namespace kel::test;
using namespace kel::test::host;

namespace {

constexpr char kPluginFile[] = "properties/nm-kelvpn-plugin-ui";
constexpr char kWidgetFile[] = "properties/nm-kelvpn-plugin-ui-widget";

// What the connection editor does with a KelVpn connection: load the plugin,
// read its description, open an editor, try to save, close; then try again
// with the dialog file gone; then unload the plugin.
void EditingSession(const std::string &nameFile) {
  NMVpnPluginInfo *info = nullptr;
  NMVpnEditorPlugin *plugin = LoadThroughPluginInfo(nameFile, &info);
  ASSERT_NE(plugin, nullptr);
  StringProperty(plugin, NM_VPN_EDITOR_PLUGIN_NAME);
  StringProperty(plugin, NM_VPN_EDITOR_PLUGIN_DESCRIPTION);
  nm_vpn_editor_plugin_get_capabilities(plugin);

  NMConnection *connection = NewKelVpnConnection();
  NMVpnEditor *editor = nm_vpn_editor_plugin_get_editor(plugin, connection, nullptr);
  ASSERT_NE(editor, nullptr);
  nm_vpn_editor_get_widget(editor);
  GError *error = nullptr;
  EXPECT_FALSE(nm_vpn_editor_update_connection(editor, connection, &error));
  g_clear_error(&error);
  g_object_unref(editor);

  unlink(kDialogPath);
  {
    GLibLogCapture libglade;
    EXPECT_EQ(nm_vpn_editor_plugin_get_editor(plugin, connection, nullptr), nullptr);
  }
  g_object_unref(connection);
  g_object_unref(info);  // the last reference to the plugin
}

TEST_F(EditorHost, EveryOperationLeavesItsTraceLineInThePluginLog) {
  Editor([&] {
    setenv("HOME", "/home/editor", 1);
    EditingSession(nameFile_);

    const std::string loaded = "KelVpn plugin UI v.4.0.0 (2004190) loaded";
    const std::vector<TraceLine> expected = {
        {"INFO", "kelvpn_editor_plugin_class_init", kPluginFile, loaded},
        {"DEBUG", "kelvpn_editor_plugin_interface_init", kPluginFile, ""},
        {"INFO", "kelvpn_editor_plugin_init", kPluginFile, "KelVpn plugin UI object created"},
        // libnm's loader reads the name and checks the service
        {"DEBUG", "kel_editor_plugin_get_property", kPluginFile, "get property #1"},
        {"DEBUG", "kel_editor_plugin_get_property", kPluginFile, "get property #3"},
        {"DEBUG", "kel_editor_plugin_get_property", kPluginFile, "get property #1"},
        {"DEBUG", "kel_editor_plugin_get_property", kPluginFile, "get property #2"},
        {"DEBUG", "get_capabilities", kPluginFile, ""},
        {"DEBUG", "nm_vpn_editor_interface_new", kWidgetFile, ""},
        {"INFO", "kelvpn_editor_class_init", kWidgetFile, "KelVpn plugin UI widget loaded"},
        {"DEBUG", "kelvpn_editor_interface_init", kWidgetFile, ""},
        {"INFO", "kelvpn_editor_init", kWidgetFile, "KelVpn plugin UI widget object created"},
        {"DEBUG", "kel_widget_get_widget", kWidgetFile, ""},
        {"DEBUG", "kel_widget_update_connection", kWidgetFile, ""},
        {"DEBUG", "kel_widget_dispose", kWidgetFile, ""},
        {"INFO", "kel_widget_dispose", kWidgetFile, "KelVpn plugin UI widget object destroyed"},
        {"DEBUG", "nm_vpn_editor_interface_new", kWidgetFile, ""},
        {"INFO", "kelvpn_editor_init", kWidgetFile, "KelVpn plugin UI widget object created"},
        {"WARN", "nm_vpn_editor_interface_new", kWidgetFile, kNoResources},
        {"DEBUG", "kel_widget_dispose", kWidgetFile, ""},
        {"INFO", "kel_widget_dispose", kWidgetFile, "KelVpn plugin UI widget object destroyed"},
        {"DEBUG", "kel_editor_plugin_dispose", kPluginFile, ""},
    };
    const std::vector<TraceLine> trace = ReadTrace();
    EXPECT_EQ(trace, expected);
  });
}

TEST_F(EditorHost, WithoutHomeNothingIsLogged) {
  Editor([&] {
    unsetenv("HOME");
    EditingSession(nameFile_);
    EXPECT_TRUE(std::filesystem::is_empty("/usr/share/kel"));
  });
}

// The log engine starts once per process: a plugin made after the first one
// is gone writes nothing, whatever it is asked.
TEST_F(EditorHost, AfterThePluginIsDisposedNothingMoreIsLogged) {
  Editor([&] {
    setenv("HOME", "/home/editor", 1);
    EditingSession(nameFile_);
    const std::string before = ReadFile(kLogPath);
    ASSERT_FALSE(before.empty());

    ASSERT_TRUE(InstallDialog());
    auto factory = reinterpret_cast<NMVpnEditorPlugin *(*)(GError **)>(Entry("nm_vpn_editor_plugin_factory"));
    ASSERT_NE(factory, nullptr);
    NMVpnEditorPlugin *again = factory(nullptr);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(StringProperty(again, NM_VPN_EDITOR_PLUGIN_SERVICE), kService);
    NMVpnEditor *editor = nm_vpn_editor_plugin_get_editor(again, nullptr, nullptr);
    ASSERT_NE(editor, nullptr);
    g_object_unref(editor);
    g_object_unref(again);
    EXPECT_EQ(ReadFile(kLogPath), before);
  });
}

}  // namespace
