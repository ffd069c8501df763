// The plugin inside a GTK 2 connection editor on a private X server, loaded by
// libnm from its .name file or straight from the library; one child process per
// case (the plugin's class and its log start once). The GTK 3/4 editor's case,
// without libglade, is kelctl plugin --without-glade (tests/tools).
#include <NetworkManager.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <glade/glade.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>

#include "support/sandbox.h"

using namespace kel::test;

namespace {

constexpr char kService[] = "org.freedesktop.NetworkManager.KelVpn";
constexpr char kLogPath[] = "/usr/share/kel/logs//app-vpn-plugin.log";

// An entry point of the copy libnm loaded (built or installed), by soname.
void *Entry(const char *name) {
  void *handle = dlopen("libnm-kelvpn-properties.so", RTLD_NOW | RTLD_NOLOAD);
  void *fn = handle ? dlsym(handle, name) : nullptr;
  if (handle) dlclose(handle);
  return fn;
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
std::string Trace() {
  return std::regex_replace(ReadFile(kLogPath), std::regex(R"([A-Z][a-z]{2} [0-9]{2} [0-9:]{8}\.[0-9]{3} (\[[^\]]*):[0-9]+\])"), "$1]");
}

guint RefCount(gpointer object) { return g_atomic_int_get(&G_OBJECT(object)->ref_count); }

// The sandbox with the dialog in place, a .name file for the built library,
// and Xvfb on a display of its own (the editor waits until it answers).
class EditorHost : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(InstallDialog() && SilenceSystemLog());
    nameFile_ = WriteNameFile(dir_.path());
    // A display from Xvfb's process id: one just given up may still be going away.
    auto display = [](pid_t pid) { return ":" + std::to_string(100 + pid % 20000); };
    if ((xvfb_ = fork()) == 0) {
      int null = open("/dev/null", O_RDWR);
      dup2(null, 0), dup2(null, 1), dup2(null, 2);
      execlp("Xvfb", "Xvfb", display(getpid()).c_str(), "-nolisten", "tcp", nullptr);
      _exit(127);
    }
    setenv("DISPLAY", display(xvfb_).c_str(), 1);
  }
  void TearDown() override {
    if (xvfb_ > 0) kill(xvfb_, SIGTERM), waitpid(xvfb_, nullptr, 0);
  }
  // One editor process: GTK up on the private display, then body.
  void Editor(const std::function<void()> &body) {
    EXPECT_EQ(0, RunInChild([&] {
      // Xvfb may take a while on a busy machine: ten seconds' grace.
      bool up = gtk_init_check(nullptr, nullptr);
      for (int i = 0; i < 100 && !up; ++i) up = (usleep(100000), gtk_init_check(nullptr, nullptr));
      ASSERT_TRUE(up);
      body();
    }));
  }
  NMVpnEditorPlugin *LoadDirectly() {
    GError *error = nullptr;
    auto *plugin = nm_vpn_editor_plugin_load_from_file(KEL_LIBRARY_PATH, kService, getuid(), nullptr, nullptr, &error);
    if (plugin == nullptr) ADD_FAILURE() << error->message;
    return plugin;
  }
  TempDir dir_;
  std::string nameFile_;
  pid_t xvfb_ = -1;
};

// A dialog without the editor's vbox (an unreadable one is the session's and
// the libglade-less host's case), or an error already set: nothing is kept.
TEST_F(EditorHost, UnusableDialogOrAnErrorAlreadySetLeaveNothingBehind) {
  ASSERT_TRUE(WriteFile(kDialogPath, "<?xml version=\"1.0\"?>\n<glade-interface><widget class=\"GtkVBox\" id=\"other-vbox\"/></glade-interface>\n"));
  Editor([&] {
    setenv("HOME", "/home/editor", 1);
    NMVpnEditorPlugin *plugin = LoadDirectly();
    auto factory = reinterpret_cast<NMVpnEditorPlugin *(*)(GError **)>(Entry("nm_vpn_editor_plugin_factory"));
    auto editorNew = reinterpret_cast<NMVpnEditor *(*)(NMConnection *, GError **)>(Entry("nm_vpn_editor_interface_new"));
    ASSERT_TRUE(plugin && factory && editorNew);
    GError *error = nullptr, *earlier = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_FAILED, "earlier"), *held = earlier;
    GLibLogCapture capture;  // libglade complains in its own words
    EXPECT_EQ(nm_vpn_editor_plugin_get_editor(plugin, nullptr, &error), nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(g_quark_to_string(error->domain) + (" " + std::to_string(error->code) + " ") + error->message,
              "kelvpn-editor-plugin-error-quark 0 Failed to load UI widget");
    g_clear_error(&error);
    EXPECT_TRUE(factory(&held) == nullptr && editorNew(nullptr, &held) == nullptr && held == earlier);
    // One plugin and one editor made (none with the error set), the editor gone again.
    const std::string log = ReadFile(kLogPath);
    for (const char *line : {"plugin UI object created", "widget object created", "widget object destroyed"}) {
      const size_t at = log.find(line);  // once
      EXPECT_TRUE(at != std::string::npos && log.find(line, at + 1) == std::string::npos) << line << "\n" << log;
    }
    g_error_free(held);
    g_object_unref(plugin);
  });
}

// The connection editor loads the plugin (both ways), opens an editor, tries to
// save, closes; again with the dialog gone; unloads. Without a home, no log. (What
// the plugin and its editor say of themselves: kelctl plugin's report, tests/tools.)
TEST_F(EditorHost, EditingSessionShowsRefusesAndLeavesItsTrace) {
  for (bool home : {true, false}) {
    Editor([&] {
      home ? setenv("HOME", "/home/editor", 1) : unsetenv("HOME");
      GError *error = nullptr;  // plugin info from the .name file, then the editor plugin through it
      NMVpnPluginInfo *info = nm_vpn_plugin_info_new_from_file(nameFile_.c_str(), &error);
      NMVpnEditorPlugin *plugin = info ? nm_vpn_plugin_info_load_editor_plugin(info, &error) : nullptr;
      ASSERT_NE(plugin, nullptr) << nameFile_ << ": " << error->message;
      NMVpnEditorPlugin *direct = LoadDirectly();
      ASSERT_NE(direct, nullptr);
      EXPECT_STREQ(nm_vpn_plugin_info_get_name(info), "kelvpn");
      GParamSpec *pspec = g_param_spec_ref_sink(g_param_spec_string("bogus", nullptr, nullptr, nullptr, G_PARAM_READABLE));
      GValue value = G_VALUE_INIT;
      g_value_init(&value, G_TYPE_STRING);
      {
        GLibLogCapture capture;  // an unknown property id: GLib's warning, the value unset
        G_OBJECT_GET_CLASS(direct)->get_property(G_OBJECT(direct), 4, &value, pspec);
        EXPECT_NE(capture.text.find("invalid property id 4 for \"bogus\" of type 'GParamString' in 'KelVpnEditorPlugin'"), std::string::npos) << capture.text;
      }
      EXPECT_EQ(g_value_get_string(&value), nullptr);
      g_value_unset(&value), g_param_spec_unref(pspec);
      // The editor's widget is the dialog's vbox; an edit is refused and leaves
      // the connection as it was; disposing twice releases the references once.
      // (The recorded trace has the editor's class set up before the first editor.)
      g_type_class_unref(g_type_class_ref(reinterpret_cast<GType (*)()>(Entry("kelvpn_editor_get_type"))()));
      NMConnection *connection = nm_simple_connection_new();
      NMSetting *s_vpn = nm_setting_vpn_new();
      g_object_set(s_vpn, NM_SETTING_VPN_SERVICE_TYPE, kService, nullptr);
      nm_setting_vpn_add_data_item(NM_SETTING_VPN(s_vpn), "gateway", "vpn.example.org");
      nm_connection_add_setting(connection, s_vpn);
      NMVpnEditor *editor = nm_vpn_editor_plugin_get_editor(plugin, connection, &error);
      ASSERT_NE(editor, nullptr) << error->message;
      GObject *widget = nm_vpn_editor_get_widget(editor);
      ASSERT_TRUE(GTK_IS_VBOX(widget));
      EXPECT_EQ(gtk_widget_get_parent(GTK_WIDGET(widget)), nullptr);
      EXPECT_EQ(RefCount(widget), 1u) << "the editor keeps the only reference";
      NMConnection *before = nm_simple_connection_new_clone(connection);
      EXPECT_FALSE(nm_vpn_editor_update_connection(editor, connection, nullptr));
      EXPECT_TRUE(nm_connection_compare(connection, before, NM_SETTING_COMPARE_FLAG_EXACT));
      g_object_unref(before);
      GladeXML *xml = GLADE_XML(g_object_ref(glade_get_widget_tree(GTK_WIDGET(g_object_ref(widget)))));
      const guint widgetRefs = RefCount(widget), xmlRefs = RefCount(xml);
      g_object_run_dispose(G_OBJECT(editor));
      EXPECT_EQ(nm_vpn_editor_get_widget(editor), nullptr);
      g_object_run_dispose(G_OBJECT(editor));
      g_object_unref(editor);  // disposes a third time
      EXPECT_TRUE(RefCount(widget) == widgetRefs - 1 && RefCount(xml) == xmlRefs - 1);
      g_object_unref(widget), g_object_unref(xml);
      unlink(kDialogPath);
      {
        GLibLogCapture libglade;
        EXPECT_EQ(nm_vpn_editor_plugin_get_editor(plugin, connection, nullptr), nullptr);
      }
      g_object_unref(connection);
      g_object_unref(info);  // the last reference to the plugin: its log ends here
      g_object_unref(direct);
      if (home)
        ExpectGolden("plugin_trace", Trace());  // one dispose line: the plugin's log ended with the first
      else
        EXPECT_TRUE(std::filesystem::is_empty("/usr/share/kel")) << "without a home nothing is logged";
    });
    ASSERT_TRUE(InstallDialog());
    std::filesystem::remove_all("/usr/share/kel/logs");
  }
}

}  // namespace

// GLib must see its debug environment before it loads: in sanitizer builds
// the program starts itself again with GTK's own leaks suppressed.
int main(int argc, char **argv) {
#ifdef KEL_SANITIZED
  if (getenv("G_SLICE") == nullptr) {
    setenv("LSAN_OPTIONS", "suppressions=" KEL_SOURCE_DIR "/tests/properties/gtk.supp:print_suppressions=0", 1);
    setenv("G_SLICE", "always-malloc", 1);
    setenv("G_DEBUG", "gc-friendly", 1);
    execv("/proc/self/exe", argv);
    return 2;
  }
#endif
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
