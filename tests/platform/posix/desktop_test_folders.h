// A desktop of its own for the tests of the freedesktop association: config
// home "cfg", config dir "etc", data home "home", data dirs "sys1" and "sys2"
// below a scratch folder, and a registry file in "registry", so that neither
// the machine's desktop nor the user's registry can answer.
#ifndef QUILLANE_TESTS_PLATFORM_POSIX_DESKTOP_TEST_FOLDERS_H_
#define QUILLANE_TESTS_PLATFORM_POSIX_DESKTOP_TEST_FOLDERS_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/text.h"
#include "platform/posix/desktop_opener.h"
#include "platform/posix/mime_apps.h"
#include "platform/posix/registry.h"
#include "support/test_util.h"

namespace quillane::test {

class DesktopTest : public ::testing::Test {
 protected:
  DesktopTest() {
    env_.Set("XDG_CONFIG_HOME", Folder("cfg"));
    env_.Set("XDG_CONFIG_DIRS", Folder("etc"));
    env_.Set("XDG_DATA_HOME", Folder("home"));
    env_.Set("XDG_DATA_DIRS", Folder("sys1") + ":" + Folder("sys2"));
    env_.Set("XDG_CURRENT_DESKTOP", "");
    env_.Set("QUILLANE_REGISTRY", Folder("registry") + "/registry.reg");
  }

  std::string Folder(const std::string& name) const { return scratch_.File(name); }

  // Writes `text` to `relative` below the scratch folder. The process keeps
  // what it read of the desktop and the registry file, so both are dropped.
  void Write(const std::string& relative, const std::string& text) {
    platform::posix::ForgetDesktopReads();
    platform::posix::ForgetRegistryReads();
    const std::filesystem::path path = scratch_.Path() / relative;
    std::filesystem::create_directories(path.parent_path());
    WriteFileBytes(path, text);
  }

  // An application entry in the applications folder of data folder `data`.
  void App(const std::string& data, const std::string& file, const std::string& exec,
           const std::string& mimeTypes = "", const std::string& extra = "") {
    Write(data + "/applications/" + file, "[Desktop Entry]\nType=Application\nName=" + file +
                                              "\nExec=" + exec + "\nMimeType=" + mimeTypes + "\n" +
                                              extra);
  }

  // The default application for application/pdf, the files read afresh.
  static Text Default() {
    return DefaultDesktopApplication(XdgDirectories::FromEnvironment(), "application/pdf");
  }

  ScratchDir scratch_;
  ScopedEnvironment env_;
};

}  // namespace quillane::test

#endif  // QUILLANE_TESTS_PLATFORM_POSIX_DESKTOP_TEST_FOLDERS_H_
