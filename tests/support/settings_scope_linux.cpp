// The settings files, read and written here directly in the store's own format
// (prefs/settings_text.h). From before the first test to after the last, XDG_CONFIG_HOME
// and the machine file's path point into a folder of the test program's own, so that no
// test reaches the real files.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "prefs/settings_linux.h"
#include "prefs/settings_text.h"
#include "support/settings_scope.h"

namespace kestrel_test {
namespace {

namespace fs = std::filesystem;

struct SettingsFolder : testing::Environment {
  void SetUp() override {
    ASSERT_NE(mkdtemp(folder.data()), nullptr);
    machine = folder + "/machine.conf";
    setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
    UserPrefsUtil::SetMachineSettingsPathForTesting(machine.c_str());
  }
  void TearDown() override {
    UserPrefsUtil::SetMachineSettingsPathForTesting(nullptr);
    fs::remove_all(folder);
  }
  std::string folder = fs::temp_directory_path() / "kestrel-test-XXXXXX", machine;
};

auto* const g_settings =
    static_cast<SettingsFolder*>(testing::AddGlobalTestEnvironment(new SettingsFolder));

fs::path File(Store store) {
  return store == Store::Machine ? g_settings->machine
                                 : g_settings->folder + "/config/corvane/meridel/kestrel.conf";
}

std::string Contents(Store store) {
  std::ifstream in(File(store));
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

void SettingsScope::Clear() {
  for (Store store : {Store::User, Store::Machine}) fs::remove(File(store));
}

void SettingsScope::PutText(Store store, const char* name, const std::string& text) {
  const SettingsText::Change change{name, text};
  const std::string contents = SettingsText::Rewrite(Contents(store), &change, 1);
  fs::create_directories(File(store).parent_path());
  EXPECT_TRUE(std::ofstream(File(store)) << contents << std::flush) << File(store);
}

void SettingsScope::PutNumber(Store store, const char* name, std::uint32_t value) {
  PutText(store, name, SettingsText::FormatNumber(value));
}

std::optional<std::string> SettingsScope::Read(Store store, const char* name) {
  return SettingsText::FindValue(Contents(store), name);
}

}  // namespace kestrel_test
