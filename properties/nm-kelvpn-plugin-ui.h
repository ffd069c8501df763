// Shared by the editor plugin and its editor widget: the GObject types, the
// trace macro and the plugin's fixed texts. Internal to the library.
#pragma once

#include <NetworkManager.h>
#include <glib-object.h>

#include "kel/log.h"
#include "kel/vpn_plugin.h"

#define KELVPN_TYPE_EDITOR_PLUGIN (kelvpn_editor_plugin_get_type())
#define KELVPN_TYPE_EDITOR (kelvpn_editor_get_type())
#define KELVPN_EDITOR_PLUGIN_ERROR (kelvpn_editor_plugin_error_quark())

// Both types add nothing to GObject's records; the editor keeps its Glade
// objects in private data.
typedef struct {
  GObject parent;
} KelVpnEditorPlugin;
typedef struct {
  GObjectClass parent;
} KelVpnEditorPluginClass;

typedef struct {
  GObject parent;
} KelVpnEditor;
typedef struct {
  GObjectClass parent;
} KelVpnEditorClass;

// Every trace line carries the calling function's bare name, the source file
// named by kLogFile in the including file, and the line of the call.
#define KEL_PLUGIN_LOG(level, ...) LOG_printf((level), kLogFile, __func__, __LINE__, __VA_ARGS__)

// GLib's precondition warning with the bare function name: g_return_val_if_fail
// would print C++'s decorated signature.
#define KEL_PLUGIN_RETURN_NULL_IF_ERROR_SET(error)                          \
  do {                                                                      \
    if ((error) != NULL && *(error) != NULL) {                              \
      g_return_if_fail_warning(G_LOG_DOMAIN, __func__, "NULL == *error");   \
      return NULL;                                                          \
    }                                                                       \
  } while (0)

namespace kel::plugin {

inline constexpr char kName[] = "Tarvo KEL";
inline constexpr char kDescription[] = "Tarvo KEL VPN plugin.";
inline constexpr char kService[] = "org.freedesktop.NetworkManager.KelVpn";
inline constexpr char kDialogFile[] = "/usr/share/gnome-vpn-properties/kelvpn/nm-kelvpn-dialog.glade";
inline constexpr char kTopWidget[] = "KelVpn-vbox";
inline constexpr char kEditRefused[] = "KEL connection must not be edited directly. Use kel-ui instead.";

}  // namespace kel::plugin
