// The plugin inside a GTK 2 connection editor: GLib, libnm, GTK 2 and
// libglade in the process, an X server, the plugin loaded by libnm from its
// .name file or straight from the library.
#include "properties/editor_host.h"

#include <glade/glade.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <regex>

using namespace kel::test;
using namespace kel::test::host;

namespace {

guint RefCount(gpointer object) { return g_atomic_int_get(&G_OBJECT(object)->ref_count); }

void ExpectPluginError(const GError *error, const std::string &message) {
  ASSERT_NE(error, nullptr);
  EXPECT_STREQ(g_quark_to_string(error->domain), kErrorDomain);
  EXPECT_EQ(error->code, 0);
  EXPECT_EQ(error->message, message);
}

TEST_F(EditorHost, LoadsThroughBothPathsAndDescribesItself) {
  Editor([&] {
    NMVpnPluginInfo *info = nullptr;
    NMVpnEditorPlugin *viaInfo = LoadThroughPluginInfo(nameFile_, &info);
    NMVpnEditorPlugin *direct = LoadDirectly();
    ASSERT_TRUE(viaInfo && direct);
    EXPECT_STREQ(nm_vpn_plugin_info_get_name(info), "kelvpn");
    EXPECT_STREQ(nm_vpn_plugin_info_get_plugin(info), KEL_LIBRARY_PATH);
    for (NMVpnEditorPlugin *plugin : {viaInfo, direct}) {
      EXPECT_STREQ(G_OBJECT_TYPE_NAME(plugin), "KelVpnEditorPlugin");
      EXPECT_EQ(StringProperty(plugin, NM_VPN_EDITOR_PLUGIN_NAME), "Tarvo KEL");
      EXPECT_EQ(StringProperty(plugin, NM_VPN_EDITOR_PLUGIN_DESCRIPTION), "Tarvo KEL VPN plugin.");
      EXPECT_EQ(StringProperty(plugin, NM_VPN_EDITOR_PLUGIN_SERVICE), kService);
      EXPECT_EQ(nm_vpn_editor_plugin_get_capabilities(plugin), NM_VPN_EDITOR_PLUGIN_CAPABILITY_NONE);
    }
    // An unknown property id: GLib's warning, and the value stays unset.
    GParamSpec *pspec =
        g_param_spec_ref_sink(g_param_spec_string("bogus", nullptr, nullptr, nullptr, G_PARAM_READABLE));
    GValue value = G_VALUE_INIT;
    g_value_init(&value, G_TYPE_STRING);
    {
      GLibLogCapture capture;
      G_OBJECT_GET_CLASS(direct)->get_property(G_OBJECT(direct), 4, &value, pspec);
      ASSERT_EQ(capture.messages.size(), 1u) << capture.All();
      EXPECT_EQ(capture.messages[0].first, G_LOG_LEVEL_WARNING);
      EXPECT_TRUE(std::regex_match(capture.messages[0].second,
                                   std::regex("properties/nm-kelvpn-plugin-ui\\.cpp:[0-9]+: invalid property id 4 for "
                                              "\"bogus\" of type 'GParamString' in 'KelVpnEditorPlugin'")))
          << capture.messages[0].second;
    }
    EXPECT_EQ(g_value_get_string(&value), nullptr);
    g_value_unset(&value);
    g_param_spec_unref(pspec);
    g_object_unref(direct);
    g_object_unref(info);
  });
}

// The editor's widget is the dialog's vbox; an edit is refused and leaves
// the connection as it was; disposing twice releases the references once.
TEST_F(EditorHost, EditorShowsTheVboxRefusesUpdatesAndDisposesOnce) {
  Editor([&] {
    NMVpnEditorPlugin *plugin = LoadDirectly();
    ASSERT_NE(plugin, nullptr);
    LiveInstances editors(LibraryType("kelvpn_editor_get_type"));
    NMConnection *connection = NewKelVpnConnection();
    GError *error = nullptr;
    NMVpnEditor *editor = nm_vpn_editor_plugin_get_editor(plugin, connection, &error);
    ASSERT_NE(editor, nullptr) << error->message;
    GObject *widget = nm_vpn_editor_get_widget(editor);
    ASSERT_TRUE(GTK_IS_VBOX(widget));
    EXPECT_STREQ(glade_get_widget_name(GTK_WIDGET(widget)), "KelVpn-vbox");
    EXPECT_EQ(gtk_widget_get_parent(GTK_WIDGET(widget)), nullptr);  // only the vbox was built
    EXPECT_EQ(RefCount(widget), 1u) << "the editor keeps the only reference and hands out none";

    GVariant *before = nm_connection_to_dbus(connection, NM_CONNECTION_SERIALIZE_ALL);
    EXPECT_FALSE(nm_vpn_editor_update_connection(editor, connection, &error));
    ExpectPluginError(error, kEditRefused);
    g_clear_error(&error);
    EXPECT_FALSE(nm_vpn_editor_update_connection(editor, connection, nullptr));  // no error location
    GVariant *after = nm_connection_to_dbus(connection, NM_CONNECTION_SERIALIZE_ALL);
    EXPECT_TRUE(g_variant_equal(before, after));
    g_variant_unref(before);
    g_variant_unref(after);

    GladeXML *xml = GLADE_XML(g_object_ref(glade_get_widget_tree(GTK_WIDGET(g_object_ref(widget)))));
    const guint widgetRefs = RefCount(widget), xmlRefs = RefCount(xml);
    g_object_run_dispose(G_OBJECT(editor));
    EXPECT_EQ(nm_vpn_editor_get_widget(editor), nullptr);
    g_object_run_dispose(G_OBJECT(editor));
    g_object_unref(editor);  // disposes a third time
    EXPECT_EQ(RefCount(widget), widgetRefs - 1);
    EXPECT_EQ(RefCount(xml), xmlRefs - 1);
    EXPECT_EQ(editors.live(), 0);
    g_object_unref(widget);
    g_object_unref(xml);
    g_object_unref(connection);
    g_object_unref(plugin);
  });
}

TEST_F(EditorHost, UnusableDialogFailsTheEditorAndLeavesNothingBehind) {
  const std::pair<const char *, std::string> cases[] = {
      {nullptr, kNoResources},  // missing
      {"KelVpn-vbox\n", kNoResources},
      {"<?xml version=\"1.0\"?>\n<glade-interface>\n<widget class=\"GtkVBox\" "
       "id=\"other-vbox\"/>\n</glade-interface>\n",
       "Failed to load UI widget"},
  };
  for (const auto &[content, message] : cases) {
    unlink(kDialogPath);
    if (content) {
      ASSERT_TRUE(WriteFile(kDialogPath, content));
    }
    Editor([&] {
      NMVpnEditorPlugin *plugin = LoadDirectly();
      ASSERT_NE(plugin, nullptr);
      LiveInstances editors(LibraryType("kelvpn_editor_get_type")), xmls(glade_xml_get_type());
      GError *error = nullptr;
      {
        GLibLogCapture libglade;  // libglade complains in its own words
        EXPECT_EQ(nm_vpn_editor_plugin_get_editor(plugin, nullptr, &error), nullptr);
      }
      ExpectPluginError(error, message);
      g_clear_error(&error);
      EXPECT_EQ(editors.made(), 1);
      EXPECT_EQ(editors.live(), 0);
      EXPECT_EQ(xmls.live(), 0);
      g_object_unref(plugin);
    });
  }
}

TEST_F(EditorHost, FactoriesRefuseAnErrorAlreadySet) {
  Editor([&] {
    NMVpnEditorPlugin *loaded = LoadDirectly();  // libnm's copy of the library
    ASSERT_NE(loaded, nullptr);
    auto factory = reinterpret_cast<NMVpnEditorPlugin *(*)(GError **)>(Entry("nm_vpn_editor_plugin_factory"));
    auto editor_new =
        reinterpret_cast<NMVpnEditor *(*)(NMConnection *, GError **)>(Entry("nm_vpn_editor_interface_new"));
    ASSERT_TRUE(factory && editor_new);
    LiveInstances plugins(LibraryType("kelvpn_editor_plugin_get_type"));
    LiveInstances editors(LibraryType("kelvpn_editor_get_type"));
    GError *earlier = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_FAILED, "earlier");
    GError *held = earlier;
    {
      GLibLogCapture capture;
      EXPECT_EQ(factory(&held), nullptr);
      EXPECT_EQ(editor_new(nullptr, &held), nullptr);
      for (const char *fn : {"nm_vpn_editor_plugin_factory", "nm_vpn_editor_interface_new"})
        EXPECT_TRUE(capture.Contains(G_LOG_LEVEL_CRITICAL, std::string(fn) + ": assertion 'NULL == *error' failed"))
            << capture.All();
    }
    EXPECT_EQ(held, earlier);
    g_error_free(held);
    EXPECT_EQ(plugins.made(), 0);
    EXPECT_EQ(editors.made(), 0);
    g_object_unref(loaded);
  });
}

}  // namespace
