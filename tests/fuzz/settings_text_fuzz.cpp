// The settings text, any bytes: rewriting without a change is a fixed point that keeps every
// value; setting a key to any value reads back and leaves every other line as it was; the
// first of several lines of a key counts.
#include <fuzzer/FuzzedDataProvider.h>

#include <regex>
#include <sstream>
#include <vector>

#include "fuzz_check.h"
#include "prefs/settings_text.h"

namespace {

const std::string_view kKeys[] = {"srcWCamId", "srcAudioInName", "srcAudioInOption", "IsDisabled"};

// The lines (the last one also without its newline, each without a CR that ends it) but
// those whose key, by the format's rule, is key: the text before the first '=' without
// blanks around it, in any letter case.
std::vector<std::string> OtherLines(const std::string& file, std::string_view key) {
  const std::regex keyLine("^[ \\t]*" + std::string(key) + "[ \\t]*=", std::regex::icase);
  std::vector<std::string> lines;
  std::istringstream in(file);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!std::regex_search(line, keyLine)) lines.push_back(line);
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string_view key = kKeys[input.ConsumeIntegralInRange<std::size_t>(0, 3)];
  const std::string value = input.ConsumeRandomLengthString(4096);
  const std::string file = input.ConsumeRemainingBytesAsString();
  const std::string normal = SettingsText::Rewrite(file, nullptr, 0);
  FUZZ_CHECK(SettingsText::Rewrite(normal, nullptr, 0) == normal);
  for (const std::string_view each : kKeys) {
    FUZZ_CHECK(SettingsText::FindValue(normal, each) == SettingsText::FindValue(file, each));
  }
  const SettingsText::Change change{key, value};
  const std::string changed = SettingsText::Rewrite(file, &change, 1);
  FUZZ_CHECK(SettingsText::FindValue(changed, key) == value);
  FUZZ_CHECK(OtherLines(changed, key) == OtherLines(file, key));
  const auto first = SettingsText::FindValue(normal, key);
  FUZZ_CHECK(!first ||
             SettingsText::FindValue(normal + std::string(key) + "=later\n", key) == first);
  return 0;
}
