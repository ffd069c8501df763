// kelctl plugin: loads the installed KelVpn editor plugin the way
// NetworkManager's connection editor does (the .name description through
// libnm, then the library it names), and prints what the editor learns: the
// plugin's name, description, service and capabilities, the dialog an editor
// shows and the answer an edit gets.
#include <NetworkManager.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kel/log.h"
#include "kelctl/commands.h"
#include "kelctl/util.h"

#ifndef KEL_VPN_SERVICE_DIR
#define KEL_VPN_SERVICE_DIR "/usr/lib/NetworkManager/VPN"
#endif

namespace kelctl {
namespace {

constexpr char kInstalledNameFile[] = KEL_VPN_SERVICE_DIR "/nm-kelvpn-service.name";
constexpr char kReexecMark[] = "KELCTL_PLUGIN_REEXEC";

#define KEL_SERVICE "org.freedesktop.NetworkManager.KelVpn"
constexpr char kService[] = KEL_SERVICE;
constexpr char kUsage[] =
    "usage: kelctl plugin [--name FILE] [--without-glade]\n"
    "\n"
    "Loads the KelVpn editor plugin as NetworkManager's connection editor does:\n"
    "reads the VPN plugin description FILE with libnm, loads the library it names,\n"
    "and prints the plugin's name, description, service and capabilities, the\n"
    "dialog its editor shows and the answer an attempt to save a connection gets.\n"
    "\n"
    "  --name FILE      the plugin description to read; by default the one that\n"
    "                   NetworkManager finds for " KEL_SERVICE "\n"
    "                   in its plugin directories (installed as\n"
    "                   " KEL_VPN_SERVICE_DIR "/nm-kelvpn-service.name)\n"
    "  --without-glade  act as a GTK 3 or 4 editor, which has no libglade\n"
    "\n"
    "The dialog is a GTK 2 one: without --without-glade it needs an X display\n"
    "(DISPLAY, or run under xvfb-run).\n"
    "\n"
    "exit codes: 0 the plugin loaded and answered, 1 it could not be loaded or\n"
    "gave no editor, 2 bad usage\n";

// The GTK 2 side of the connection editor, brought in at run time so that
// kelctl itself does not depend on GTK 2.
struct Gtk2 {
  void *glade = nullptr;
  bool ready = false;
  const char *(*widget_name)(void *widget) = nullptr;
  GList *(*children)(void *container) = nullptr;
  const char *(*label_text)(void *label) = nullptr;

  // Returns an explanation when GTK 2 cannot be used.
  std::string Start() {
    glade = dlopen("libglade-2.0.so.0", RTLD_NOW | RTLD_GLOBAL);
    if (glade == nullptr) return "libglade (GTK 2) is not installed";
    auto init = reinterpret_cast<gboolean (*)(int *, char ***)>(dlsym(glade, "gtk_init_check"));
    if (init == nullptr || !init(nullptr, nullptr)) return "GTK 2 cannot open the X display (set DISPLAY or use xvfb-run)";
    widget_name = reinterpret_cast<const char *(*)(void *)>(dlsym(glade, "glade_get_widget_name"));
    children = reinterpret_cast<GList *(*)(void *)>(dlsym(glade, "gtk_container_get_children"));
    label_text = reinterpret_cast<const char *(*)(void *)>(dlsym(glade, "gtk_label_get_text"));
    ready = widget_name && children && label_text;
    return ready ? "" : "libglade lacks its functions";
  }

  // The texts of every label in the widget tree, in order.
  void CollectText(GObject *widget, std::string *text) const {
    const GType label = g_type_from_name("GtkLabel"), container = g_type_from_name("GtkContainer");
    if (label && g_type_is_a(G_OBJECT_TYPE(widget), label)) {
      if (!text->empty()) *text += "\n";
      *text += label_text(widget);
    } else if (container && g_type_is_a(G_OBJECT_TYPE(widget), container)) {
      GList *list = children(widget);
      for (GList *c = list; c; c = c->next) CollectText(G_OBJECT(c->data), text);
      g_list_free(list);
    }
  }
};

// kelctl links the library itself (for its other commands). If the plugin
// named by the description is another file, the loader would bring in a
// second copy whose exported functions resolve to kelctl's copy: start once
// more with the plugin's directory first on the search path instead.
void UseThePluginsCopy(char **argv, const char *plugin) {
  Dl_info own{};
  struct stat a, b;
  if (dladdr(reinterpret_cast<void *>(&LOG_init), &own) == 0 || own.dli_fname == nullptr) return;
  if (stat(own.dli_fname, &a) != 0 || stat(plugin, &b) != 0) return;
  if (a.st_dev == b.st_dev && a.st_ino == b.st_ino) return;
  if (std::getenv(kReexecMark) != nullptr ||
      std::strcmp(std::strrchr(own.dli_fname, '/') ? std::strrchr(own.dli_fname, '/') + 1 : own.dli_fname,
                  std::strrchr(plugin, '/') + 1) != 0) {
    std::fprintf(stderr, "kelctl plugin: note: kelctl runs with %s, the plugin is %s\n", own.dli_fname, plugin);
    return;
  }
  std::string dir(plugin, std::strrchr(plugin, '/') - plugin);
  const char *old = std::getenv("LD_LIBRARY_PATH");
  std::string path = old && *old ? dir + ":" + old : dir;
  setenv("LD_LIBRARY_PATH", path.c_str(), 1);
  setenv(kReexecMark, "1", 1);
  execv("/proc/self/exe", argv - 1);  // argv[-1] is kelctl's own name
}

std::string Property(NMVpnEditorPlugin *plugin, const char *name) {
  char *value = nullptr;
  g_object_get(plugin, name, &value, nullptr);
  std::string s = value ? value : "(none)";
  g_free(value);
  return s;
}

std::string Capabilities(NMVpnEditorPluginCapability caps) {
  if (caps == NM_VPN_EDITOR_PLUGIN_CAPABILITY_NONE) return "0 (none: no import, no export)";
  std::string s = std::to_string(static_cast<unsigned>(caps)) + " (";
  if (caps & NM_VPN_EDITOR_PLUGIN_CAPABILITY_IMPORT) s += " import";
  if (caps & NM_VPN_EDITOR_PLUGIN_CAPABILITY_EXPORT) s += " export";
  if (caps & NM_VPN_EDITOR_PLUGIN_CAPABILITY_IPV6) s += " ipv6";
  return s + " )";
}

// A KelVpn connection as NetworkManager would hand it to the editor.
NMConnection *SampleConnection(const char *service) {
  NMConnection *connection = nm_simple_connection_new();
  NMSetting *s_con = nm_setting_connection_new();
  char *uuid = nm_utils_uuid_generate();
  g_object_set(s_con, NM_SETTING_CONNECTION_ID, "KelVpn", NM_SETTING_CONNECTION_UUID, uuid,
               NM_SETTING_CONNECTION_TYPE, NM_SETTING_VPN_SETTING_NAME, nullptr);
  g_free(uuid);
  nm_connection_add_setting(connection, s_con);
  NMSetting *s_vpn = nm_setting_vpn_new();
  g_object_set(s_vpn, NM_SETTING_VPN_SERVICE_TYPE, service, nullptr);
  nm_connection_add_setting(connection, s_vpn);
  return connection;
}

// "label:        text", continuation lines indented under the text.
void PrintIndented(const char *label, const std::string &text) {
  std::printf("%-14s", label);
  bool indent = false;
  for (char c : text) {
    if (indent && c != '\n') std::printf("%-14s", "");
    indent = c == '\n';
    std::putchar(c);
  }
  std::putchar('\n');
}

std::string ErrorText(const GError *error) {
  return std::string(error->message) + "\n(error domain " + g_quark_to_string(error->domain) + ", code " +
         std::to_string(error->code) + ")";
}

// Editor and edit: returns false when no editor could be had.
bool Edit(NMVpnEditorPlugin *plugin, const char *service, const Gtk2 &gtk) {
  NMConnection *connection = SampleConnection(service);
  GError *error = nullptr;
  NMVpnEditor *editor = nm_vpn_editor_plugin_get_editor(plugin, connection, &error);
  if (editor == nullptr) {
    PrintIndented("editor:", "none: " + ErrorText(error));
    g_clear_error(&error);
    g_object_unref(connection);
    return false;
  }
  GObject *widget = nm_vpn_editor_get_widget(editor);
  std::string shown = widget ? std::string("\"") + (gtk.ready ? gtk.widget_name(widget) : "?") + "\" (" +
                                   G_OBJECT_TYPE_NAME(widget) + ")"
                             : "no widget";
  PrintIndented("editor:", std::string(G_OBJECT_TYPE_NAME(editor)) + " showing " + shown);
  if (widget && gtk.ready) {
    std::string text;
    gtk.CollectText(widget, &text);
    PrintIndented("dialog text:", text);
  }
  GVariant *before = nm_connection_to_dbus(connection, NM_CONNECTION_SERIALIZE_ALL);
  gboolean saved = nm_vpn_editor_update_connection(editor, connection, &error);
  GVariant *after = nm_connection_to_dbus(connection, NM_CONNECTION_SERIALIZE_ALL);
  if (saved)
    PrintIndented("edit:", "accepted");
  else
    PrintIndented("edit:", "refused: " + (error ? ErrorText(error) : std::string("(no reason given)")));
  PrintIndented("connection:", g_variant_equal(before, after) ? "unchanged" : "CHANGED by the editor");
  g_variant_unref(before);
  g_variant_unref(after);
  g_clear_error(&error);
  g_object_unref(editor);
  g_object_unref(connection);
  return true;
}

}  // namespace

// The description for our service among those NetworkManager finds in its
// plugin directories, as the connection editor looks it up; or the one file
// given. Returns null after saying why.
NMVpnPluginInfo *FindPlugin(const char *nameFile) {
  GError *error = nullptr;
  if (nameFile != nullptr) {
    // libnm accepts absolute paths only; a person may well type a relative one.
    char *absolute = g_canonicalize_filename(nameFile, nullptr);
    NMVpnPluginInfo *info = nm_vpn_plugin_info_new_from_file(absolute, &error);
    if (info == nullptr) {
      std::fprintf(stderr, "kelctl plugin: %s: %s\n", absolute, error->message);
      g_error_free(error);
    }
    g_free(absolute);
    return info;
  }
  GSList *all = nm_vpn_plugin_info_list_load();
  NMVpnPluginInfo *info = nm_vpn_plugin_info_list_find_by_service(all, kService);
  if (info != nullptr)
    g_object_ref(info);
  else
    std::fprintf(stderr, "kelctl plugin: NetworkManager has no VPN plugin for %s (is %s installed?)\n", kService,
                 kInstalledNameFile);
  g_slist_free_full(all, g_object_unref);
  return info;
}

int RunPlugin(int argc, char **argv) {
  const char *nameFile = nullptr;
  bool withoutGlade = false;
  static constexpr Option kOptions[] = {{"--name", nullptr, true}, {"--without-glade", nullptr, false}};
  Args a("plugin", kUsage, argc, argv, kOptions);
  while (a.Next()) {
    if (a.id == Args::kOperand) return a.Fail("unexpected argument '%s'", a.value);
    if (a.id == 0)
      nameFile = a.value;
    else
      withoutGlade = true;
  }
  if (a.exit >= 0) return a.exit;

  NMVpnPluginInfo *info = FindPlugin(nameFile);
  if (info == nullptr) return kExitFailed;
  const char *library = nm_vpn_plugin_info_get_plugin(info);
  if (library != nullptr && library[0] == '/') UseThePluginsCopy(argv, library);

  Gtk2 gtk;
  std::string gtkProblem = withoutGlade ? "" : gtk.Start();

  PrintIndented("plugin file:", nm_vpn_plugin_info_get_filename(info));
  PrintIndented("library:", library ? library : "(none)");
  GError *error = nullptr;
  NMVpnEditorPlugin *plugin = nm_vpn_plugin_info_load_editor_plugin(info, &error);
  if (plugin == nullptr) {
    std::fprintf(stderr, "kelctl plugin: cannot load the editor plugin: %s\n", error->message);
    g_error_free(error);
    g_object_unref(info);
    return kExitFailed;
  }
  const std::string service = Property(plugin, NM_VPN_EDITOR_PLUGIN_SERVICE);
  PrintIndented("name:", Property(plugin, NM_VPN_EDITOR_PLUGIN_NAME));
  PrintIndented("description:", Property(plugin, NM_VPN_EDITOR_PLUGIN_DESCRIPTION));
  PrintIndented("service:", service);
  PrintIndented("capabilities:", Capabilities(nm_vpn_editor_plugin_get_capabilities(plugin)));

  bool edited = false;
  if (!gtkProblem.empty())
    PrintIndented("editor:", "not asked for: " + gtkProblem);
  else
    edited = Edit(plugin, service.c_str(), gtk);

  g_object_unref(info);  // the last reference to the plugin
  return edited || withoutGlade ? kExitOk : kExitFailed;
}

}  // namespace kelctl
