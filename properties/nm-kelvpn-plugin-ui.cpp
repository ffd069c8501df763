// The KelVpn editor plugin: what NetworkManager's connection editor creates
// through nm_vpn_editor_plugin_factory. It names itself, offers no import or
// export, and hands out editors that refuse every edit (KelVpn connections
// belong to kel-ui). It also owns the plugin's log: the first plugin object
// starts it, disposing a plugin object ends it for the rest of the process.
#include "properties/nm-kelvpn-plugin-ui.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

extern "C" {
const char *APP_VERSION = "4.0.0";
const char *APP_RELEASE = "2004190";
const char *APP_GIT_REVISION = "2004190";
}

namespace {

constexpr char kLogFile[] = "properties/nm-kelvpn-plugin-ui";

// The property ids, matching the order of the override calls.
enum : guint {
  kPropName = 1,
  kPropDescription = 2,
  kPropService = 3,
};

}  // namespace

static void kelvpn_editor_plugin_interface_init(NMVpnEditorPluginInterface *iface);

G_DEFINE_TYPE_EXTENDED(KelVpnEditorPlugin, kelvpn_editor_plugin, G_TYPE_OBJECT, 0,
                       G_IMPLEMENT_INTERFACE(NM_TYPE_VPN_EDITOR_PLUGIN, kelvpn_editor_plugin_interface_init))

// Without HOME there is no log at all: the engine stays uninitialised and
// drops every line. Application 4 writes to the engine's fixed directory
// whatever directory we pass; we still pass the user's own, as every client
// program does.
static void kelvpn_editor_plugin_log_init(void) {
  const char *home = std::getenv("HOME");
  if (home == nullptr) return;
  char directory[4096];
  std::snprintf(directory, sizeof directory, "%s/.kel", home);  // longer paths are cut
  LOG_init(LOG_APP_VPN_PLUGIN, nullptr, directory);
  LOG_set_option(LOG_OPTION_SYSLOG | LOG_OPTION_FILE);
}

// The engine refuses a second start, so after this the process logs nothing.
static void kelvpn_editor_plugin_log_deinit(void) { LOG_deinit(); }

static void kel_editor_plugin_get_property(GObject *object, guint property_id, GValue *value, GParamSpec *pspec) {
  KEL_PLUGIN_LOG(LOG_LEVEL_DEBUG, "get property #%u\r\n", property_id);
  switch (property_id) {
    case kPropName:
      g_value_set_string(value, kel::plugin::kName);
      break;
    case kPropDescription:
      g_value_set_string(value, kel::plugin::kDescription);
      break;
    case kPropService:
      g_value_set_string(value, kel::plugin::kService);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, property_id, pspec);
      break;
  }
}

static void kel_editor_plugin_dispose(GObject *object) {
  KEL_PLUGIN_LOG(LOG_LEVEL_DEBUG, "\r\n");
  kelvpn_editor_plugin_log_deinit();
  G_OBJECT_CLASS(kelvpn_editor_plugin_parent_class)->dispose(object);
}

static void kelvpn_editor_plugin_class_init(KelVpnEditorPluginClass *klass) {
  kelvpn_editor_plugin_log_init();
  KEL_PLUGIN_LOG(LOG_LEVEL_INFO, "KelVpn plugin UI v.%s (%s) loaded\r\n", APP_VERSION, APP_GIT_REVISION);

  GObjectClass *object_class = G_OBJECT_CLASS(klass);
  object_class->get_property = kel_editor_plugin_get_property;
  object_class->dispose = kel_editor_plugin_dispose;
  g_object_class_override_property(object_class, kPropName, NM_VPN_EDITOR_PLUGIN_NAME);
  g_object_class_override_property(object_class, kPropDescription, NM_VPN_EDITOR_PLUGIN_DESCRIPTION);
  g_object_class_override_property(object_class, kPropService, NM_VPN_EDITOR_PLUGIN_SERVICE);
}

static void kelvpn_editor_plugin_init(KelVpnEditorPlugin *) {
  KEL_PLUGIN_LOG(LOG_LEVEL_INFO, "KelVpn plugin UI object created\r\n");
}

static NMVpnEditor *kelvpn_editor_plugin_get_editor(NMVpnEditorPlugin *, NMConnection *connection, GError **error) {
  return nm_vpn_editor_interface_new(connection, error);
}

static NMVpnEditorPluginCapability get_capabilities(NMVpnEditorPlugin *) {
  KEL_PLUGIN_LOG(LOG_LEVEL_DEBUG, "\r\n");
  return NM_VPN_EDITOR_PLUGIN_CAPABILITY_NONE;
}

// Import, export, file names and the extended table stay empty: KelVpn
// connections are neither imported nor exported here.
static void kelvpn_editor_plugin_interface_init(NMVpnEditorPluginInterface *iface) {
  KEL_PLUGIN_LOG(LOG_LEVEL_DEBUG, "\r\n");
  iface->get_editor = kelvpn_editor_plugin_get_editor;
  iface->get_capabilities = get_capabilities;
}

// The quark is idempotent, so a race between two first callers only
// registers the same name twice.
guint32 kelvpn_editor_plugin_error_quark(void) {
  static std::atomic<GQuark> quark{0};
  GQuark q = quark.load(std::memory_order_acquire);
  if (q == 0) {
    q = g_quark_from_static_string("kelvpn-editor-plugin-error-quark");
    quark.store(q, std::memory_order_release);
  }
  return q;
}

NMVpnEditorPlugin *nm_vpn_editor_plugin_factory(GError **error) {
  KEL_PLUGIN_RETURN_NULL_IF_ERROR_SET(error);
  return NM_VPN_EDITOR_PLUGIN(g_object_new(KELVPN_TYPE_EDITOR_PLUGIN, nullptr));
}
