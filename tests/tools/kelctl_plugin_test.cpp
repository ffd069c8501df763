// kelctl plugin against a description of the built library, as a GTK 2 editor
// (under xvfb-run) and a GTK 3/4 one, and with descriptions libnm refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/sandbox.h"

namespace {

using namespace kel::test;
const std::string kService = "org.freedesktop.NetworkManager.KelVpn";

// The shipped dialog in place and a description of the built library.
class KelctlPlugin : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(InstallDialog() && SilenceSystemLog());
    ASSERT_EQ(WriteNameFile(dir_.path()), name_);
  }
  // The report with this run's paths named by what they are.
  std::string Report(const Outcome &r) {
    std::string out = r.out;
    for (const auto &[from, to] : {std::pair{name_, std::string("NAME_FILE")}, {std::string(KEL_LIBRARY_PATH), std::string("LIBRARY")}})
      for (size_t at; (at = out.find(from)) != std::string::npos;) out.replace(at, from.size(), to);
    return "exit " + std::to_string(r.exitCode) + "\n" + out;
  }
  TempDir dir_;
  const std::string name_ = dir_ / "nm-kelvpn-service.name";
};

TEST_F(KelctlPlugin, ReportsAsAGtk2EditorWithoutGladeAndWithoutDisplay) {
  ExpectGolden("kelctl_plugin_gtk2", Report(Shell("HOME=/home/editor xvfb-run -a " + kKelctl + " plugin --name " + name_)));
  const std::string log = ReadFile("/usr/share/kel/logs//app-vpn-plugin.log");  // the session, loading to unloading
  for (const char *line : {"] KelVpn plugin UI v.4.0.0 (2004190) loaded\r\n", "] get property #2\r\n",
                           " get_capabilities():properties/nm-kelvpn-plugin-ui:", " kel_editor_plugin_dispose():"})
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  ExpectGolden("kelctl_plugin_no_glade", Report(Kelctl("plugin --without-glade --name=" + name_)));
  ExpectGolden("kelctl_plugin_no_display", Report(Shell("env -u DISPLAY " + kKelctl + " plugin --name " + name_)));
}

TEST_F(KelctlPlugin, FindsItsDescriptionAsNetworkManagerDoesOrFails) {
  // Without --name: what libnm finds in its plugin directories (NM_VPN_PLUGIN_DIR adds one).
  const std::string lookup = "NM_VPN_PLUGIN_DIR=" + dir_.path() + " " + kKelctl + " plugin --without-glade";
  const std::string named = "plugin --without-glade --name ";
  auto expect = [](const Outcome &r, int exitCode, const std::string &says) {
    EXPECT_EQ(r.exitCode, exitCode) << r.out;
    EXPECT_NE(r.out.find(says), std::string::npos) << r.out;
  };
  expect(Shell(lookup), 0, "plugin file:  " + name_ + "\n");
  ASSERT_EQ(chmod(name_.c_str(), 0664), 0);  // libnm passes over a description others may write
  expect(Shell(lookup), 1, "kelctl plugin: NetworkManager has no VPN plugin for " + kService);
  ASSERT_EQ(chmod(name_.c_str(), 0644), 0);
  expect(Shell("cd " + dir_.path() + " && " + kKelctl + " " + named + "nm-kelvpn-service.name"), 0,
         "plugin file:  " + name_ + "\n");  // a relative path is made absolute first
  expect(Kelctl(named + dir_ / "none.name"), 1, "kelctl plugin: " + dir_ / "none.name: ");
  ASSERT_TRUE(WriteFile(name_, "[VPN Connection]\nname=kelvpn\nservice=" + kService + "\n\n"
                               "[libnm]\nplugin=" + dir_ / "libnm-kelvpn-properties.so\n"));
  expect(Kelctl(named + name_), 1, "kelctl plugin: cannot load the editor plugin: ");
}

}  // namespace
