// A KESTREL_LOG value, any bytes: a known level (error, info or debug in any letter case, up
// to the first colon) with the rest as its path, or nothing at all; a value that names no
// level opens no file.
#include <strings.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "fuzz_check.h"
#include "log/log_output.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char folder[] = "/tmp/kestrel-log-fuzz.XXXXXX";  // where a relative path's file would be
  FUZZ_CHECK(mkdtemp(folder) != nullptr && chdir(folder) == 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string value(reinterpret_cast<const char*>(data), size);
  const std::string word = value.substr(0, value.find(':'));
  const int level = strcasecmp(word.c_str(), "error") == 0  ? 2
                    : strcasecmp(word.c_str(), "info") == 0 ? 6
                                                            : 31;
  const bool known =
      word.find('\0') == word.npos && (level < 31 || strcasecmp(word.c_str(), "debug") == 0);
  const LogSetting setting = ParseLogSetting(value);
  FUZZ_CHECK(setting.maxLevel == (known ? level : -1));
  FUZZ_CHECK(setting.hasPath == (known && word.size() < value.size()));
  FUZZ_CHECK(!setting.hasPath || setting.pathStart == word.size() + 1);
  if (!known && value.find('\0') == value.npos) {
    LogApplySetting(value.c_str());
    FUZZ_CHECK(std::filesystem::is_empty("."));
    LogApplySetting(nullptr);
  }
  return 0;
}
