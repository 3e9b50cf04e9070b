// The settings files, read and written here directly: "key=value" lines of plain texts (no
// value of these tests needs an escape). From before the first test to after the last,
// XDG_CONFIG_HOME and the machine file's path point into a folder of the test program's
// own, so no test reaches the real files.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "prefs/settings_linux.h"
#include "support/settings_scope.h"

namespace kestrel_test {
namespace {

namespace fs = std::filesystem;

struct SettingsFolder : testing::Environment {
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "kestrel-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    folder = name;
    machine = (folder / "machine.conf").string();
    setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    UserPrefsUtil::SetMachineSettingsPathForTesting(machine.c_str());
  }
  void TearDown() override {
    UserPrefsUtil::SetMachineSettingsPathForTesting(nullptr);
    fs::remove_all(folder);
  }
  fs::path folder;
  std::string machine;
};

auto* const g_settings =
    static_cast<SettingsFolder*>(testing::AddGlobalTestEnvironment(new SettingsFolder));

fs::path File(Store store) {
  return store == Store::Machine ? fs::path(g_settings->machine)
                                 : g_settings->folder / "config/corvane/meridel/kestrel.conf";
}

std::vector<std::string> Lines(Store store) {
  std::ifstream in(File(store));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The file without name's line, then with value's.
void Rewrite(Store store, const char* name, const std::string& value) {
  const std::string key = std::string(name) + '=';
  const std::vector<std::string> lines = Lines(store);
  fs::create_directories(File(store).parent_path());
  std::ofstream out(File(store), std::ios::trunc);
  for (const std::string& line : lines) {
    if (line.rfind(key, 0) != 0) out << line << '\n';
  }
  out << key << value << '\n';
  EXPECT_TRUE(out.flush()) << File(store);
}

}  // namespace

void SettingsScope::Clear() {
  for (Store store : {Store::User, Store::Machine}) fs::remove(File(store));
}

void SettingsScope::PutText(Store store, const char* name, const std::string& text) {
  EXPECT_TRUE(text.find_first_of("\\\n\t") == std::string::npos && text.rfind(' ', 0) != 0)
      << "a text to escape: " << text;
  Rewrite(store, name, text);
}

void SettingsScope::PutNumber(Store store, const char* name, std::uint32_t value) {
  Rewrite(store, name, std::to_string(value));
}

std::optional<std::string> SettingsScope::Read(Store store, const char* name) {
  const std::string key = std::string(name) + '=';
  for (const std::string& line : Lines(store)) {
    if (line.rfind(key, 0) == 0) return line.substr(key.size());
  }
  return std::nullopt;
}

}  // namespace kestrel_test
