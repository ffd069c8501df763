/* The KelVpn editor plugin for NetworkManager's connection editor: the
 * entry points the editor looks up in the library, the two GObject types
 * behind them, the plugin's error domain and the version strings.
 *
 * GLib, GObject, libnm and libglade are the host's: this header names their
 * types by struct tag only, so it needs none of their headers. GType is
 * GLib's gsize and GQuark its guint32. */
#ifndef KEL_VPN_PLUGIN_H
#define KEL_VPN_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

#include "kel/export.h"

KEL_BEGIN_DECLS

struct _GError;
struct _NMConnection;
struct _NMVpnEditor;
struct _NMVpnEditorPlugin;

/* Version of the plugin: "4.0.0", release "2004190", revision "2004190". */
KEL_API extern const char *APP_VERSION;
KEL_API extern const char *APP_RELEASE;
KEL_API extern const char *APP_GIT_REVISION;

/* nm_vpn_editor_plugin_factory returns a new KelVpnEditorPlugin (the
 * caller owns the reference). error may be NULL; when *error already holds an
 * error, GLib's precondition warning for "NULL == *error" is emitted and
 * NULL returned. The first plugin created starts the plugin's log. */
KEL_API struct _NMVpnEditorPlugin *nm_vpn_editor_plugin_factory(struct _GError **error);

/* nm_vpn_editor_interface_new returns a new KelVpnEditor (the caller owns
 * the reference) whose widget is "KelVpn-vbox" of the dialog file
 * "/usr/share/gnome-vpn-properties/kelvpn/nm-kelvpn-dialog.glade". The
 * connection is not used. On failure it returns NULL and sets *error (when
 * error is not NULL) in kelvpn_editor_plugin_error_quark, code 0: "Failed to
 * load resources from '<path>'" when the file cannot be loaded or the host
 * has no libglade, "Failed to load UI widget" when the widget is missing. */
KEL_API struct _NMVpnEditor *nm_vpn_editor_interface_new(struct _NMConnection *connection, struct _GError **error);

/* The GType of KelVpnEditorPlugin and of KelVpnEditor, registered on first
 * call (thread-safe). */
KEL_API size_t kelvpn_editor_plugin_get_type(void);
KEL_API size_t kelvpn_editor_get_type(void);

/* The GQuark of the domain of every error the plugin sets (all code 0). */
KEL_API uint32_t kelvpn_editor_plugin_error_quark(void);

KEL_END_DECLS

#endif /* KEL_VPN_PLUGIN_H */
