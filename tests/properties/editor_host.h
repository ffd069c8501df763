// The fixture of the GTK 2 editor-host tests: the sandbox with the dialog
// file in place, a .name file for the built library, a private X server, and
// one editor process per case.
#pragma once

#include <gtk/gtk.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "properties/host.h"
#include "properties/xvfb.h"

namespace kel::test::host {

class EditorHost : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(InstallDialog());
    ASSERT_TRUE(SilenceSystemLog());
    nameFile_ = WriteNameFile();
    ASSERT_FALSE(nameFile_.empty());
    xvfb_ = std::make_unique<Xvfb>();
    ASSERT_FALSE(xvfb_->display().empty()) << xvfb_->why();
  }
  void TearDown() override {
    if (!nameFile_.empty()) std::filesystem::remove_all(std::filesystem::path(nameFile_).parent_path());
  }

  // One editor process: GTK up on the private display, then body.
  void Editor(const std::function<void()> &body) {
    EXPECT_EQ(RunHost([&] {
                ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
                body();
              }),
              0);
  }

  // The plugin as libnm loads it straight from the library file.
  NMVpnEditorPlugin *LoadDirectly() {
    GError *error = nullptr;
    NMVpnEditorPlugin *plugin =
        nm_vpn_editor_plugin_load_from_file(KEL_LIBRARY_PATH, kService, getuid(), nullptr, nullptr, &error);
    if (plugin == nullptr) {
      ADD_FAILURE() << error->message;
      g_error_free(error);
    }
    return plugin;
  }

  std::string nameFile_;
  std::unique_ptr<Xvfb> xvfb_;
};

inline std::string StringProperty(gpointer object, const char *name) {
  char *value = nullptr;
  g_object_get(object, name, &value, nullptr);
  std::string s = value ? value : "(null)";
  g_free(value);
  return s;
}

}  // namespace kel::test::host
