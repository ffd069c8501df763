// kelctl plugin, run as its users run it: the built binary against a plugin
// description for the built library, in a GTK 2 editor's role (under
// xvfb-run) and in a GTK 3/4 editor's, and with descriptions libnm refuses.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/sandbox.h"
#include "support/sandbox.h"

namespace {

using namespace kel::test;

constexpr char kDialog[] = "/usr/share/gnome-vpn-properties/kelvpn/nm-kelvpn-dialog.glade";

// The shipped dialog in place and a description of the built library.
class KelctlPlugin : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    // The plugin writes to the system log too: keep its lines off the real one.
    if (Exists("/dev/log")) {
      ASSERT_EQ(mount("/dev/null", "/dev/log", nullptr, MS_BIND, nullptr), 0);
    }
    std::filesystem::create_directories("/usr/share/gnome-vpn-properties/kelvpn");
    ASSERT_TRUE(WriteFile(kDialog, ReadFile(KEL_SOURCE_DIR "/properties/nm-kelvpn-dialog.glade")));
    char dir[] = "/tmp/kelctl-plugin-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    name_ = dir_ + "/nm-kelvpn-service.name";
    std::string text = ReadFile(KEL_SOURCE_DIR "/properties/nm-kelvpn-service.name.in");
    text.replace(text.find("@KEL_PLUGIN_LIBRARY@"), 20, KEL_LIBRARY_PATH);
    ASSERT_TRUE(WriteFile(name_, text));
    ASSERT_EQ(chmod(name_.c_str(), 0644), 0);
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  std::string dir_, name_;
};

constexpr char kDescribed[] =
    "name:         Tarvo KEL\n"
    "description:  Tarvo KEL VPN plugin.\n"
    "service:      org.freedesktop.NetworkManager.KelVpn\n"
    "capabilities: 0 (none: no import, no export)\n";

TEST_F(KelctlPlugin, AsAGtk2EditorShowsTheDialogAndTheRefusedEdit) {
  Outcome r = Shell("HOME=/home/editor xvfb-run -a " + kKelctl + " plugin --name " + name_);
  ASSERT_EQ(r.exitCode, 0) << r.out;
  for (const std::string &part : {
           "plugin file:  " + name_ + "\nlibrary:      " KEL_LIBRARY_PATH "\n" + kDescribed,
           std::string("editor:       KelVpnEditor showing \"KelVpn-vbox\" (GtkVBox)\n"),
           std::string("edit:         refused: KEL connection must not be edited directly. Use kel-ui instead.\n"
                       "              (error domain kelvpn-editor-plugin-error-quark, code 0)\n"
                       "connection:   unchanged\n"),
       })
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\nin\n" << r.out;
  // The plugin's log has the session, from loading to unloading.
  std::string log = ReadFile("/usr/share/kel/logs//app-vpn-plugin.log");
  EXPECT_NE(log.find("] KelVpn plugin UI v.4.0.0 (2004190) loaded\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" kel_editor_plugin_dispose():properties/nm-kelvpn-plugin-ui:"), std::string::npos);
}

TEST_F(KelctlPlugin, WithoutGladeOrDisplayThereIsNoEditor) {
  Outcome r = Kelctl("plugin --without-glade --name=" + name_);
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find(std::string(kDescribed) +
                       "editor:       none: Failed to load resources from '/usr/share/gnome-vpn-properties/kelvpn/"
                       "nm-kelvpn-dialog.glade'\n"
                       "              (error domain kelvpn-editor-plugin-error-quark, code 0)\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("edit:"), std::string::npos) << r.out;

  r = Shell("env -u DISPLAY " + kKelctl + " plugin --name " + name_);
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find(std::string(kDescribed) + "editor:       not asked for: GTK 2 cannot open the X display"),
            std::string::npos)
      << r.out;
}

TEST_F(KelctlPlugin, FindsItsDescriptionAsNetworkManagerDoesOrFails) {
  // Without --name: the description libnm finds for the service in its plugin
  // directories (NM_VPN_PLUGIN_DIR adds one, as for a user's own plugins).
  const std::string lookup = "NM_VPN_PLUGIN_DIR=" + dir_ + " " + kKelctl + " plugin --without-glade";
  Outcome found = Shell(lookup);
  EXPECT_EQ(found.exitCode, 0) << found.out;
  EXPECT_NE(found.out.find("plugin file:  " + name_ + "\n"), std::string::npos) << found.out;

  // libnm passes over a description others may write.
  ASSERT_EQ(chmod(name_.c_str(), 0664), 0);
  Outcome writable = Shell(lookup);
  EXPECT_EQ(writable.exitCode, 1) << writable.out;
  EXPECT_NE(writable.out.find("kelctl plugin: NetworkManager has no VPN plugin for "
                              "org.freedesktop.NetworkManager.KelVpn"),
            std::string::npos)
      << writable.out;
  ASSERT_EQ(chmod(name_.c_str(), 0644), 0);

  // A relative path is made absolute first, as a person would expect.
  EXPECT_EQ(Shell("cd " + dir_ + " && " + kKelctl + " plugin --without-glade --name nm-kelvpn-service.name").exitCode,
            0);
  Outcome missing = Kelctl("plugin --without-glade --name " + dir_ + "/none.name");
  EXPECT_EQ(missing.exitCode, 1) << missing.out;
  EXPECT_NE(missing.out.find("kelctl plugin: " + dir_ + "/none.name: "), std::string::npos) << missing.out;

  // The library it names is gone.
  ASSERT_TRUE(WriteFile(name_, "[VPN Connection]\nname=kelvpn\nservice=org.freedesktop.NetworkManager.KelVpn\n\n"
                               "[libnm]\nplugin=" + dir_ + "/libnm-kelvpn-properties.so\n"));
  Outcome noLibrary = Kelctl("plugin --without-glade --name " + name_);
  EXPECT_EQ(noLibrary.exitCode, 1) << noLibrary.out;
  EXPECT_NE(noLibrary.out.find("kelctl plugin: cannot load the editor plugin: "), std::string::npos) << noLibrary.out;
  EXPECT_EQ(Kelctl("plugin --bogus").exitCode, 2);
}

}  // namespace
