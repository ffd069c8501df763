// What the editor-plugin tests share: they play NetworkManager's connection
// editor, loading the built library through libnm from a .name file, inside
// the sandbox, one fresh child process per case (the plugin's class and its
// log start once per process).
#pragma once

#include <NetworkManager.h>

#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "support/sandbox.h"

namespace kel::test::host {

inline constexpr char kService[] = "org.freedesktop.NetworkManager.KelVpn";
inline constexpr char kDialogDir[] = "/usr/share/gnome-vpn-properties/kelvpn";
inline constexpr char kDialogPath[] = "/usr/share/gnome-vpn-properties/kelvpn/nm-kelvpn-dialog.glade";
inline constexpr char kLogPath[] = "/usr/share/kel/logs//app-vpn-plugin.log";
inline constexpr char kEditRefused[] = "KEL connection must not be edited directly. Use kel-ui instead.";
inline constexpr char kErrorDomain[] = "kelvpn-editor-plugin-error-quark";
inline constexpr char kNoResources[] =
    "Failed to load resources from '/usr/share/gnome-vpn-properties/kelvpn/nm-kelvpn-dialog.glade'";

// Copies the shipped dialog file to its fixed path (call inside the sandbox).
bool InstallDialog();

// The plugin also writes to the system log: inside the sandbox, lays
// /dev/null over /dev/log (when there is one) so no line reaches the real
// system log. Returns false when that fails.
bool SilenceSystemLog();

// Writes the shipped .name template, configured for the built library, into
// a fresh directory as a root-owned 0644 file (what libnm accepts) and
// returns its absolute path.
std::string WriteNameFile();

// Runs fn in a fresh child; in sanitizer builds the child also checks for
// leaks before it exits. Returns 0 when fn passed.
int RunHost(const std::function<void()> &fn);

// Loads the plugin the way the connection editor does: plugin info from the
// .name file, then the editor plugin through it. Fails the test (and returns
// null) when libnm refuses.
NMVpnEditorPlugin *LoadThroughPluginInfo(const std::string &nameFile, NMVpnPluginInfo **info);

// A KelVpn VPN connection with a few settings, as NetworkManager keeps one.
NMConnection *NewKelVpnConnection();

// The library's entry point name in the copy libnm has loaded, or null.
void *Entry(const char *name);

// A type of the library's, registered through its getter (e.g.
// "kelvpn_editor_get_type"); 0 when the library is not loaded.
GType LibraryType(const char *getter);

// Counts the instances of a GObject type made and finalized from now on, by
// wrapping its class's constructed and finalize handlers (GLib's own
// instance counter is compiled out of release builds).
class LiveInstances {
 public:
  explicit LiveInstances(GType type);
  ~LiveInstances();
  LiveInstances(const LiveInstances &) = delete;
  LiveInstances &operator=(const LiveInstances &) = delete;
  int made() const;
  int live() const;

 private:
  GType type_;
};

// Collects every GLib log message (all domains) while it lives.
class GLibLogCapture {
 public:
  GLibLogCapture();
  ~GLibLogCapture();
  GLibLogCapture(const GLibLogCapture &) = delete;
  GLibLogCapture &operator=(const GLibLogCapture &) = delete;
  bool Contains(GLogLevelFlags level, const std::string &text) const;
  std::string All() const;
  std::vector<std::pair<GLogLevelFlags, std::string>> messages;

 private:
  GLogFunc previous_;
};

// One line of the plugin's log file, split at its header.
struct TraceLine {
  std::string level, function, file, message;
  bool operator==(const TraceLine &o) const {
    return level == o.level && function == o.function && file == o.file && message == o.message;
  }
};
inline std::ostream &operator<<(std::ostream &os, const TraceLine &t) {
  return os << t.level << ' ' << t.function << "():" << t.file << " \"" << t.message << '"';
}

// The lines of the log file at path; a line that does not have the plugin's
// header shape fails the test.
std::vector<TraceLine> ReadTrace(const std::string &path = kLogPath);

// In sanitizer builds, points LeakSanitizer at the suppressions for GTK's
// own leaks, re-executing the program when the environment had to change.
void PrepareEnvironment(char **argv);

}  // namespace kel::test::host
