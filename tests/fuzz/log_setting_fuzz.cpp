// A KESTREL_LOG value: any bytes give a known level (error, info or debug, in any letter
// case, up to the first colon) with the rest as its path, or nothing at all, and a value
// that names no level opens no file.
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <string>

#include "fuzz_check.h"
#include "log/log_output.h"

namespace {

bool IsLevel(std::string_view word, std::string_view level) {
  if (word.size() != level.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(word[i])) != level[i]) return false;
  }
  return true;
}

bool FolderIsEmpty() {
  DIR* folder = opendir(".");
  int entries = 0;
  while (folder != nullptr && readdir(folder) != nullptr) ++entries;  // "." and ".."
  if (folder != nullptr) closedir(folder);
  return entries == 2;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char folder[] = "/tmp/kestrel-log-fuzz.XXXXXX";  // relative paths land here, to be seen
  FUZZ_CHECK(mkdtemp(folder) != nullptr && chdir(folder) == 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string value(reinterpret_cast<const char*>(data), size);
  const LogSetting setting = ParseLogSetting(value);
  const std::string_view word = std::string_view(value).substr(0, value.find(':'));
  const bool known = IsLevel(word, "error") || IsLevel(word, "info") || IsLevel(word, "debug");
  FUZZ_CHECK(known == (setting.maxLevel >= 0));
  const int expected = IsLevel(word, "error") ? 2 : IsLevel(word, "info") ? 6 : 31;  // debug: all
  FUZZ_CHECK(!known || setting.maxLevel == expected);
  FUZZ_CHECK(setting.hasPath == (known && word.size() < value.size()));
  FUZZ_CHECK(!setting.hasPath || setting.pathStart == word.size() + 1);
  if (!known && value.find('\0') == std::string::npos) {
    LogApplySetting(value.c_str());
    FUZZ_CHECK(FolderIsEmpty());
    LogApplySetting(nullptr);
  }
  return 0;
}
