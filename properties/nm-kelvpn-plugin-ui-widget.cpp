// The KelVpn editor: the widget the connection editor shows for a KelVpn
// connection, built from the Glade dialog, and the refusal of every update.
//
// libglade is the host's, and only GTK 2 hosts have it. Its two functions are
// looked up at run time rather than linked: in a GTK 3 or 4 editor they are
// absent, and creating an editor then fails with an error instead of the
// library failing to load.
#include "properties/nm-kelvpn-plugin-ui.h"

#include <dlfcn.h>
#include <glade/glade-xml.h>

namespace {

constexpr char kLogFile[] = "properties/nm-kelvpn-plugin-ui-widget";

using GladeXmlNew = decltype(&glade_xml_new);
using GladeXmlGetWidget = decltype(&glade_xml_get_widget);

// Looked up on every call: the host may bring libglade in after loading us.
template <class Fn>
Fn HostFunction(const char *name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_DEFAULT, name));
}

}  // namespace

typedef struct {
  GladeXML *xml;      // the dialog file, owned
  GtkWidget *widget;  // its "KelVpn-vbox", owned (sunk)
} KelVpnEditorPrivate;

static void kelvpn_editor_interface_init(NMVpnEditorInterface *iface);

G_DEFINE_TYPE_EXTENDED(KelVpnEditor, kelvpn_editor, G_TYPE_OBJECT, 0,
                       G_ADD_PRIVATE(KelVpnEditor)
                       G_IMPLEMENT_INTERFACE(NM_TYPE_VPN_EDITOR, kelvpn_editor_interface_init))

// Safe to run more than once: each reference is dropped once and forgotten.
static void kel_widget_dispose(GObject *object) {
  KEL_PLUGIN_LOG(LOG_LEVEL_DEBUG, "\r\n");
  auto *priv = static_cast<KelVpnEditorPrivate *>(kelvpn_editor_get_instance_private((KelVpnEditor *)object));
  if (priv->widget != nullptr) {
    g_object_unref(priv->widget);
    priv->widget = nullptr;
  }
  if (priv->xml != nullptr) {
    g_object_unref(priv->xml);
    priv->xml = nullptr;
  }
  G_OBJECT_CLASS(kelvpn_editor_parent_class)->dispose(object);
  KEL_PLUGIN_LOG(LOG_LEVEL_INFO, "KelVpn plugin UI widget object destroyed\r\n");
}

// The private record is registered with the type (G_ADD_PRIVATE) just before
// this runs.
static void kelvpn_editor_class_init(KelVpnEditorClass *klass) {
  KEL_PLUGIN_LOG(LOG_LEVEL_INFO, "KelVpn plugin UI widget loaded\r\n");
  G_OBJECT_CLASS(klass)->dispose = kel_widget_dispose;
}

static void kelvpn_editor_init(KelVpnEditor *) {
  KEL_PLUGIN_LOG(LOG_LEVEL_INFO, "KelVpn plugin UI widget object created\r\n");
}

// No new reference: the editor keeps the widget as long as it lives.
static GObject *kel_widget_get_widget(NMVpnEditor *editor) {
  KEL_PLUGIN_LOG(LOG_LEVEL_DEBUG, "\r\n");
  auto *priv = static_cast<KelVpnEditorPrivate *>(kelvpn_editor_get_instance_private((KelVpnEditor *)editor));
  return G_OBJECT(priv->widget);
}

// KelVpn connections are kel-ui's: the connection is never touched.
static gboolean kel_widget_update_connection(NMVpnEditor *, NMConnection *, GError **error) {
  KEL_PLUGIN_LOG(LOG_LEVEL_DEBUG, "\r\n");
  g_set_error_literal(error, KELVPN_EDITOR_PLUGIN_ERROR, 0, kel::plugin::kEditRefused);
  return FALSE;
}

// The editor never emits "changed": nothing in it can change.
static void kelvpn_editor_interface_init(NMVpnEditorInterface *iface) {
  KEL_PLUGIN_LOG(LOG_LEVEL_DEBUG, "\r\n");
  iface->get_widget = kel_widget_get_widget;
  iface->update_connection = kel_widget_update_connection;
}

NMVpnEditor *nm_vpn_editor_interface_new(NMConnection *, GError **error) {
  KEL_PLUGIN_LOG(LOG_LEVEL_DEBUG, "\r\n");
  KEL_PLUGIN_RETURN_NULL_IF_ERROR_SET(error);

  auto *object = static_cast<KelVpnEditor *>(g_object_new(KELVPN_TYPE_EDITOR, nullptr));
  if (object == nullptr) {
    KEL_PLUGIN_LOG(LOG_LEVEL_WARN, "Failed to create KelVpn UI widget object\r\n");
    g_set_error_literal(error, KELVPN_EDITOR_PLUGIN_ERROR, 0, "Failed to create KelVpn UI widget object");
    return nullptr;
  }
  auto *priv = static_cast<KelVpnEditorPrivate *>(kelvpn_editor_get_instance_private(object));

  // Without libglade in the host this fails like a dialog file that cannot
  // be read: there is nothing to show either way.
  auto xml_new = HostFunction<GladeXmlNew>("glade_xml_new");
  auto get_widget = HostFunction<GladeXmlGetWidget>("glade_xml_get_widget");
  if (xml_new != nullptr && get_widget != nullptr)
    priv->xml = xml_new(kel::plugin::kDialogFile, kel::plugin::kTopWidget, nullptr);
  if (priv->xml == nullptr) {
    KEL_PLUGIN_LOG(LOG_LEVEL_WARN, "Failed to load resources from '%s'\r\n", kel::plugin::kDialogFile);
    g_set_error(error, KELVPN_EDITOR_PLUGIN_ERROR, 0, "Failed to load resources from '%s'", kel::plugin::kDialogFile);
    g_object_unref(object);
    return nullptr;
  }

  priv->widget = get_widget(priv->xml, kel::plugin::kTopWidget);
  if (priv->widget == nullptr) {
    KEL_PLUGIN_LOG(LOG_LEVEL_WARN, "Failed to load UI widget\r\n");
    g_set_error_literal(error, KELVPN_EDITOR_PLUGIN_ERROR, 0, "Failed to load UI widget");
    g_object_unref(object);
    return nullptr;
  }
  g_object_ref_sink(priv->widget);
  return NM_VPN_EDITOR(object);
}
