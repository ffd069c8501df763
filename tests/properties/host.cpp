#include "properties/host.h"

#include <dlfcn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

extern "C" int __lsan_do_recoverable_leak_check(void) __attribute__((weak));

namespace kel::test::host {

bool InstallDialog() {
  std::filesystem::create_directories(kDialogDir);
  std::string dialog = ReadFile(KEL_SOURCE_DIR "/properties/nm-kelvpn-dialog.glade");
  return !dialog.empty() && WriteFile(kDialogPath, dialog);
}

bool SilenceSystemLog() {
  if (!Exists("/dev/log")) return true;
  return mount("/dev/null", "/dev/log", nullptr, MS_BIND, nullptr) == 0;
}

std::string WriteNameFile() {
  std::string text = ReadFile(KEL_SOURCE_DIR "/properties/nm-kelvpn-service.name.in");
  const std::string key = "@KEL_PLUGIN_LIBRARY@";
  size_t at = text.find(key);
  if (at == std::string::npos) {
    ADD_FAILURE() << "the .name template has no " << key;
    return {};
  }
  text.replace(at, key.size(), KEL_LIBRARY_PATH);
  char dir[] = "/tmp/kel-plugin-name-XXXXXX";
  if (mkdtemp(dir) == nullptr) return {};
  std::string path = std::string(dir) + "/nm-kelvpn-service.name";
  if (!WriteFile(path, text) || chmod(path.c_str(), 0644) != 0 || chown(path.c_str(), 0, 0) != 0) return {};
  return path;
}

int RunHost(const std::function<void()> &fn) {
  return RunInChild([&] {
    fn();
    if (__lsan_do_recoverable_leak_check != nullptr && __lsan_do_recoverable_leak_check() != 0)
      ADD_FAILURE() << "LeakSanitizer found leaks (see above)";
  });
}

NMVpnEditorPlugin *LoadThroughPluginInfo(const std::string &nameFile, NMVpnPluginInfo **info) {
  GError *error = nullptr;
  *info = nm_vpn_plugin_info_new_from_file(nameFile.c_str(), &error);
  if (*info == nullptr) {
    ADD_FAILURE() << "plugin info from " << nameFile << ": " << error->message;
    g_error_free(error);
    return nullptr;
  }
  NMVpnEditorPlugin *plugin = nm_vpn_plugin_info_load_editor_plugin(*info, &error);
  if (plugin == nullptr) {
    ADD_FAILURE() << "editor plugin: " << error->message;
    g_error_free(error);
  }
  return plugin;
}

NMConnection *NewKelVpnConnection() {
  NMConnection *connection = nm_simple_connection_new();
  NMSetting *s_con = nm_setting_connection_new();
  char *uuid = nm_utils_uuid_generate();
  g_object_set(s_con, NM_SETTING_CONNECTION_ID, "Office", NM_SETTING_CONNECTION_UUID, uuid,
               NM_SETTING_CONNECTION_TYPE, NM_SETTING_VPN_SETTING_NAME, nullptr);
  g_free(uuid);
  nm_connection_add_setting(connection, s_con);
  NMSetting *s_vpn = nm_setting_vpn_new();
  g_object_set(s_vpn, NM_SETTING_VPN_SERVICE_TYPE, kService, nullptr);
  nm_setting_vpn_add_data_item(NM_SETTING_VPN(s_vpn), "gateway", "vpn.example.org");
  nm_setting_vpn_add_data_item(NM_SETTING_VPN(s_vpn), "profile", "office");
  nm_connection_add_setting(connection, s_vpn);
  return connection;
}

void *Entry(const char *name) {
  // By its soname: the built copy or an installed one, whichever libnm loaded.
  void *handle = dlopen("libnm-kelvpn-properties.so", RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return nullptr;
  void *fn = dlsym(handle, name);
  dlclose(handle);
  return fn;
}

GType LibraryType(const char *getter) {
  auto fn = reinterpret_cast<GType (*)(void)>(Entry(getter));
  return fn ? fn() : 0;
}

namespace {

struct Counted {
  void (*constructed)(GObject *);
  void (*finalize)(GObject *);
  int made, finalized;
};
std::map<GType, Counted> counted;

void CountConstructed(GObject *object) {
  Counted &c = counted.at(G_OBJECT_TYPE(object));
  ++c.made;
  if (c.constructed) c.constructed(object);
}

void CountFinalize(GObject *object) {
  Counted &c = counted.at(G_OBJECT_TYPE(object));
  ++c.finalized;
  c.finalize(object);
}

void Collect(const gchar *, GLogLevelFlags level, const gchar *message, gpointer data) {
  auto *self = static_cast<GLibLogCapture *>(data);
  self->messages.emplace_back(static_cast<GLogLevelFlags>(level & G_LOG_LEVEL_MASK), message ? message : "");
}

}  // namespace

LiveInstances::LiveInstances(GType type) : type_(type) {
  auto *klass = static_cast<GObjectClass *>(g_type_class_ref(type));
  counted[type] = {klass->constructed, klass->finalize, 0, 0};
  klass->constructed = CountConstructed;
  klass->finalize = CountFinalize;
}

LiveInstances::~LiveInstances() {
  auto *klass = static_cast<GObjectClass *>(g_type_class_peek(type_));
  klass->constructed = counted[type_].constructed;
  klass->finalize = counted[type_].finalize;
  g_type_class_unref(klass);
  counted.erase(type_);
}

int LiveInstances::made() const { return counted.at(type_).made; }
int LiveInstances::live() const { return counted.at(type_).made - counted.at(type_).finalized; }

GLibLogCapture::GLibLogCapture() : previous_(g_log_set_default_handler(Collect, this)) {}
GLibLogCapture::~GLibLogCapture() { g_log_set_default_handler(previous_, nullptr); }

bool GLibLogCapture::Contains(GLogLevelFlags level, const std::string &text) const {
  for (const auto &[l, m] : messages)
    if (l == level && m == text) return true;
  return false;
}

std::string GLibLogCapture::All() const {
  std::string all;
  for (const auto &m : messages) all += "\n  " + m.second;
  return all;
}

std::vector<TraceLine> ReadTrace(const std::string &path) {
  // "Dec 05 18:42:48.123 [VPN_PLUGIN INFO function():properties/file:42] text\r\n"
  static const std::regex kLine(
      R"(^[A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} \[VPN_PLUGIN ([A-Z]+) ([A-Za-z_0-9]+)\(\):([a-z/-]+):([0-9]+)\] (.*)\r$)");
  std::vector<TraceLine> lines;
  std::istringstream in(ReadFile(path));
  for (std::string raw; std::getline(in, raw);) {
    std::smatch m;
    if (!std::regex_match(raw, m, kLine)) {
      ADD_FAILURE() << "not a plugin log line: \"" << raw << '"';
      continue;
    }
    lines.push_back({m[1], m[2], m[3], m[5]});
  }
  return lines;
}

void PrepareEnvironment(char **argv) {
#ifdef KEL_SANITIZED
  // GLib's slice allocator would hide GObject instances from LeakSanitizer.
  const char *lsan = std::getenv("LSAN_OPTIONS");
  const char *slice = std::getenv("G_SLICE");
  if (lsan == nullptr || std::strstr(lsan, "suppressions=") == nullptr || slice == nullptr ||
      std::strcmp(slice, "always-malloc") != 0) {
    std::string options = std::string(lsan ? lsan : "") + (lsan && *lsan ? ":" : "") +
                          "suppressions=" KEL_SOURCE_DIR "/tests/properties/gtk.supp:print_suppressions=0";
    setenv("LSAN_OPTIONS", options.c_str(), 1);
    setenv("G_SLICE", "always-malloc", 1);
    setenv("G_DEBUG", "gc-friendly", 1);
    execv("/proc/self/exe", argv);
    std::perror("re-exec");
    std::exit(2);
  }
#else
  (void)argv;
#endif
}

}  // namespace kel::test::host
