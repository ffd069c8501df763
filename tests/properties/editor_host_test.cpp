// The plugin inside a GTK 2 connection editor: GLib, libnm, GTK 2 and
// libglade in the process, an X server, the plugin loaded by libnm from its
// .name file.
#include <dlfcn.h>
#include <glade/glade.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <regex>

#include "properties/editor_host.h"

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

std::string LabelText(GtkWidget *widget) {
  if (GTK_IS_LABEL(widget)) return gtk_label_get_text(GTK_LABEL(widget));
  std::string text;
  if (GTK_IS_CONTAINER(widget)) {
    GList *children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList *c = children; c; c = c->next) text += LabelText(GTK_WIDGET(c->data));
    g_list_free(children);
  }
  return text;
}

TEST_F(EditorHost, DescribesItselfThroughItsPluginInfo) {
  Editor([&] {
    NMVpnPluginInfo *info = nullptr;
    NMVpnEditorPlugin *plugin = LoadThroughPluginInfo(nameFile_, &info);
    ASSERT_NE(plugin, nullptr);
    EXPECT_STREQ(nm_vpn_plugin_info_get_name(info), "kelvpn");
    EXPECT_STREQ(nm_vpn_plugin_info_get_service(info), kService);
    EXPECT_STREQ(nm_vpn_plugin_info_get_plugin(info), KEL_LIBRARY_PATH);
    EXPECT_EQ(nm_vpn_plugin_info_get_editor_plugin(info), plugin);
    EXPECT_TRUE(g_type_is_a(G_OBJECT_TYPE(plugin), NM_TYPE_VPN_EDITOR_PLUGIN));
    EXPECT_STREQ(G_OBJECT_TYPE_NAME(plugin), "KelVpnEditorPlugin");

    EXPECT_EQ(StringProperty(plugin, NM_VPN_EDITOR_PLUGIN_NAME), "Tarvo KEL");
    EXPECT_EQ(StringProperty(plugin, NM_VPN_EDITOR_PLUGIN_DESCRIPTION), "Tarvo KEL VPN plugin.");
    EXPECT_EQ(StringProperty(plugin, NM_VPN_EDITOR_PLUGIN_SERVICE), kService);
    EXPECT_EQ(nm_vpn_editor_plugin_get_capabilities(plugin), NM_VPN_EDITOR_PLUGIN_CAPABILITY_NONE);

    // No import or export: libnm answers for the plugin.
    GError *error = nullptr;
    EXPECT_EQ(nm_vpn_editor_plugin_import(plugin, nameFile_.c_str(), &error), nullptr);
    EXPECT_NE(error, nullptr);
    g_clear_error(&error);
    g_object_unref(info);
  });
}

TEST_F(EditorHost, LoadsStraightFromTheLibraryForItsServiceOnly) {
  Editor([&] {
    NMVpnEditorPlugin *plugin = LoadDirectly();
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(StringProperty(plugin, NM_VPN_EDITOR_PLUGIN_NAME), "Tarvo KEL");
    EXPECT_EQ(StringProperty(plugin, NM_VPN_EDITOR_PLUGIN_SERVICE), kService);
    g_object_unref(plugin);

    // libnm compares the plugin's "service" with the one it was asked for.
    GError *error = nullptr;
    EXPECT_EQ(nm_vpn_editor_plugin_load_from_file(KEL_LIBRARY_PATH, "org.freedesktop.NetworkManager.openvpn",
                                                  getuid(), nullptr, nullptr, &error),
              nullptr);
    EXPECT_NE(error, nullptr);
    g_clear_error(&error);
  });
}

TEST_F(EditorHost, UnknownPropertyIdWarnsAndLeavesTheValueUnset) {
  Editor([&] {
    NMVpnEditorPlugin *plugin = LoadDirectly();
    ASSERT_NE(plugin, nullptr);
    GParamSpec *pspec = g_param_spec_string("bogus", nullptr, nullptr, nullptr, G_PARAM_READABLE);
    g_param_spec_ref_sink(pspec);
    GValue value = G_VALUE_INIT;
    g_value_init(&value, G_TYPE_STRING);
    {
      GLibLogCapture capture;
      G_OBJECT_GET_CLASS(plugin)->get_property(G_OBJECT(plugin), 4, &value, pspec);
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
    g_object_unref(plugin);
  });
}

TEST_F(EditorHost, EditorWidgetIsTheDialogsVbox) {
  Editor([&] {
    NMVpnEditorPlugin *plugin = LoadDirectly();
    ASSERT_NE(plugin, nullptr);
    LiveInstances editors(LibraryType("kelvpn_editor_get_type"));
    NMConnection *connection = NewKelVpnConnection();
    GError *error = nullptr;
    NMVpnEditor *editor = nm_vpn_editor_plugin_get_editor(plugin, connection, &error);
    ASSERT_NE(editor, nullptr) << error->message;
    EXPECT_STREQ(G_OBJECT_TYPE_NAME(editor), "KelVpnEditor");

    GObject *widget = nm_vpn_editor_get_widget(editor);
    ASSERT_TRUE(GTK_IS_VBOX(widget));
    EXPECT_STREQ(glade_get_widget_name(GTK_WIDGET(widget)), "KelVpn-vbox");
    EXPECT_FALSE(g_object_is_floating(widget));
    EXPECT_EQ(gtk_widget_get_parent(GTK_WIDGET(widget)), nullptr);  // only the vbox was built
    EXPECT_NE(LabelText(GTK_WIDGET(widget)).find("kel-ui"), std::string::npos) << LabelText(GTK_WIDGET(widget));

    // The editor keeps the only reference and hands out none.
    EXPECT_EQ(RefCount(widget), 1u);
    EXPECT_EQ(nm_vpn_editor_get_widget(editor), widget);
    EXPECT_EQ(RefCount(widget), 1u);

    g_object_unref(editor);
    EXPECT_EQ(editors.made(), 1);
    EXPECT_EQ(editors.live(), 0);
    g_object_unref(connection);
    g_object_unref(plugin);
  });
}

TEST_F(EditorHost, UpdateIsRefusedAndTheConnectionStaysAsItWas) {
  Editor([&] {
    NMVpnEditorPlugin *plugin = LoadDirectly();
    ASSERT_NE(plugin, nullptr);
    NMConnection *connection = NewKelVpnConnection();
    NMVpnEditor *editor = nm_vpn_editor_plugin_get_editor(plugin, connection, nullptr);
    ASSERT_NE(editor, nullptr);
    GVariant *before = nm_connection_to_dbus(connection, NM_CONNECTION_SERIALIZE_ALL);

    GError *error = nullptr;
    EXPECT_FALSE(nm_vpn_editor_update_connection(editor, connection, &error));
    ExpectPluginError(error, kEditRefused);
    g_clear_error(&error);
    EXPECT_FALSE(nm_vpn_editor_update_connection(editor, connection, nullptr));  // no error location

    GVariant *after = nm_connection_to_dbus(connection, NM_CONNECTION_SERIALIZE_ALL);
    EXPECT_TRUE(g_variant_equal(before, after));
    g_variant_unref(before);
    g_variant_unref(after);
    g_object_unref(editor);
    g_object_unref(connection);
    g_object_unref(plugin);
  });
}

TEST_F(EditorHost, UnusableDialogFailsTheEditorAndLeavesNothingBehind) {
  const struct {
    const char *what, *content, *message;
  } cases[] = {
      {"missing", nullptr, "Failed to load resources from '/usr/share/gnome-vpn-properties/kelvpn/nm-kelvpn-dialog.glade'"},
      {"not XML", "KelVpn-vbox\n", "Failed to load resources from '/usr/share/gnome-vpn-properties/kelvpn/nm-kelvpn-dialog.glade'"},
      {"no KelVpn-vbox",
       "<?xml version=\"1.0\"?>\n<glade-interface>\n<widget class=\"GtkVBox\" id=\"other-vbox\"/>\n</glade-interface>\n",
       "Failed to load UI widget"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    unlink(kDialogPath);
    if (c.content) {
      ASSERT_TRUE(WriteFile(kDialogPath, c.content));
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
      ExpectPluginError(error, c.message);
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
    using Factory = NMVpnEditorPlugin *(*)(GError **);
    using EditorNew = NMVpnEditor *(*)(NMConnection *, GError **);
    auto factory = reinterpret_cast<Factory>(Entry("nm_vpn_editor_plugin_factory"));
    auto editor_new = reinterpret_cast<EditorNew>(Entry("nm_vpn_editor_interface_new"));
    ASSERT_TRUE(factory && editor_new);
    LiveInstances plugins(LibraryType("kelvpn_editor_plugin_get_type"));
    LiveInstances editors(LibraryType("kelvpn_editor_get_type"));

    GError *earlier = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_FAILED, "earlier");
    GError *held = earlier;
    {
      GLibLogCapture capture;
      EXPECT_EQ(factory(&held), nullptr);
      EXPECT_EQ(editor_new(nullptr, &held), nullptr);
      EXPECT_TRUE(capture.Contains(G_LOG_LEVEL_CRITICAL, "nm_vpn_editor_plugin_factory: assertion 'NULL == *error' failed"))
          << capture.All();
      EXPECT_TRUE(capture.Contains(G_LOG_LEVEL_CRITICAL, "nm_vpn_editor_interface_new: assertion 'NULL == *error' failed"))
          << capture.All();
    }
    EXPECT_EQ(held, earlier);
    EXPECT_STREQ(held->message, "earlier");
    g_error_free(held);
    EXPECT_EQ(plugins.made(), 0);
    EXPECT_EQ(editors.made(), 0);

    // Without an error location both simply build their object.
    NMVpnEditorPlugin *second = factory(nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(StringProperty(second, NM_VPN_EDITOR_PLUGIN_NAME), "Tarvo KEL");
    NMVpnEditor *editor = editor_new(nullptr, nullptr);
    EXPECT_NE(editor, nullptr);
    g_clear_object(&editor);
    g_object_unref(second);
    EXPECT_EQ(plugins.made(), 1);
    EXPECT_EQ(plugins.live(), 0);
    EXPECT_EQ(editors.live(), 0);
    g_object_unref(loaded);
  });
}

TEST_F(EditorHost, DisposingAnEditorTwiceReleasesItsReferencesOnce) {
  Editor([&] {
    NMVpnEditorPlugin *plugin = LoadDirectly();
    ASSERT_NE(plugin, nullptr);
    NMVpnEditor *editor = nm_vpn_editor_plugin_get_editor(plugin, nullptr, nullptr);
    ASSERT_NE(editor, nullptr);
    GObject *widget = g_object_ref(nm_vpn_editor_get_widget(editor));
    GladeXML *xml = glade_get_widget_tree(GTK_WIDGET(widget));
    ASSERT_NE(xml, nullptr);
    g_object_ref(xml);
    const guint widgetRefs = RefCount(widget), xmlRefs = RefCount(xml);

    g_object_run_dispose(G_OBJECT(editor));
    EXPECT_EQ(RefCount(widget), widgetRefs - 1);
    EXPECT_EQ(RefCount(xml), xmlRefs - 1);
    EXPECT_EQ(nm_vpn_editor_get_widget(editor), nullptr);
    g_object_run_dispose(G_OBJECT(editor));
    g_object_unref(editor);  // disposes a third time
    EXPECT_EQ(RefCount(widget), widgetRefs - 1);
    EXPECT_EQ(RefCount(xml), xmlRefs - 1);

    g_object_unref(widget);
    g_object_unref(xml);
    g_object_unref(plugin);
  });
}

}  // namespace
