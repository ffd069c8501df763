// The plugin tests play NetworkManager's connection editor in the sandbox, one
// child process per case (the plugin's class and its log start once).
#pragma once

#include <NetworkManager.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>

#include "support/sandbox.h"

namespace kel::test::host {

inline constexpr char kService[] = "org.freedesktop.NetworkManager.KelVpn";
inline constexpr char kDialogPath[] = "/usr/share/gnome-vpn-properties/kelvpn/nm-kelvpn-dialog.glade";
inline constexpr char kLogPath[] = "/usr/share/kel/logs//app-vpn-plugin.log";
inline constexpr char kNoResources[] =
    "Failed to load resources from '/usr/share/gnome-vpn-properties/kelvpn/nm-kelvpn-dialog.glade'";

inline bool InstallDialog() {
  std::filesystem::create_directories(std::filesystem::path(kDialogPath).parent_path());
  return WriteFile(kDialogPath, ReadFile(KEL_SOURCE_DIR "/properties/nm-kelvpn-dialog.glade"));
}

// The plugin writes to the system log too: keep its lines off the real one.
inline bool SilenceSystemLog() { return !Exists("/dev/log") || mount("/dev/null", "/dev/log", nullptr, MS_BIND, nullptr) == 0; }

// The shipped .name template for the built library, root-owned 0644 (what libnm accepts).
inline std::string WriteNameFile(const std::string &dir) {
  std::string text = ReadFile(KEL_SOURCE_DIR "/properties/nm-kelvpn-service.name.in");
  text.replace(text.find("@KEL_PLUGIN_LIBRARY@"), 20, KEL_LIBRARY_PATH);
  const std::string path = dir + "/nm-kelvpn-service.name";
  return WriteFile(path, text) && chmod(path.c_str(), 0644) == 0 && chown(path.c_str(), 0, 0) == 0 ? path : "";
}

inline void ExpectPluginError(GError *error, const std::string &message) {
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(g_quark_to_string(error->domain) + (" " + std::to_string(error->code) + " ") + error->message,
            "kelvpn-editor-plugin-error-quark 0 " + message);
  g_error_free(error);
}

// Plugin info from the .name file, then the editor plugin through it.
inline NMVpnEditorPlugin *LoadThroughPluginInfo(const std::string &nameFile, NMVpnPluginInfo **info) {
  GError *error = nullptr;
  *info = nm_vpn_plugin_info_new_from_file(nameFile.c_str(), &error);
  NMVpnEditorPlugin *plugin = *info ? nm_vpn_plugin_info_load_editor_plugin(*info, &error) : nullptr;
  if (plugin == nullptr) ADD_FAILURE() << nameFile << ": " << error->message;
  return plugin;
}

// An entry point of the copy libnm loaded (built or installed), by soname.
inline void *Entry(const char *name) {
  void *handle = dlopen("libnm-kelvpn-properties.so", RTLD_NOW | RTLD_NOLOAD);
  void *fn = handle ? dlsym(handle, name) : nullptr;
  if (handle) dlclose(handle);
  return fn;
}

// How many times text occurs in the plugin's log.
inline int Logged(const std::string &text) {
  const std::string log = ReadFile(kLogPath);
  int n = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
  return n;
}

// Collects every GLib log message while it lives.
struct GLibLogCapture {
  GLibLogCapture() : previous(g_log_set_default_handler(Collect, this)) {}
  ~GLibLogCapture() { g_log_set_default_handler(previous, nullptr); }
  static void Collect(const gchar *, GLogLevelFlags level, const gchar *message, gpointer self) {
    static_cast<GLibLogCapture *>(self)->text += std::to_string(level & G_LOG_LEVEL_MASK) + " " + message + "\n";
  }
  GLogFunc previous;
  std::string text;
};

// The plugin's log with time stamps and line numbers taken out.
inline std::string Trace() {
  return std::regex_replace(ReadFile(kLogPath), std::regex(R"([A-Z][a-z]{2} [0-9]{2} [0-9:]{8}\.[0-9]{3} (\[[^\]]*):[0-9]+\])"), "$1]");
}

}  // namespace kel::test::host
