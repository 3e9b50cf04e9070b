// The settings file's text: any bytes parse; rewriting without changes is a fixed point that
// keeps every value; setting one key to any value reads back and leaves every other line as
// it was; the first of several lines of a key counts.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "fuzz_check.h"
#include "prefs/settings_text.h"

namespace {

const std::string_view kKeys[] = {"srcWCamId",      "srcWCamName",      "srcAudioInId",
                                  "srcAudioInName", "srcAudioInOption", "IsDisabled",
                                  "EnableAInWasapi"};

// Whether a line holds key, by the file format's rule: the text before the first '=', blanks
// around it dropped, in any ASCII letter case; no comment, and a CR that ends it ignored.
bool HoldsKey(std::string_view line, std::string_view key) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty() || line[0] == '#' || line[0] == ';' || line.find('=') == line.npos) return false;
  std::string_view name = line.substr(0, line.find('='));
  while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.remove_prefix(1);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
  if (name.size() != key.size()) return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(name[i])) != std::tolower(key[i])) return false;
  }
  return true;
}

// The file's lines (the last one also without a newline) but those of key.
std::vector<std::string_view> OtherLines(std::string_view file, std::string_view key) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < file.size();) {
    const std::size_t end = std::min(file.find('\n', start), file.size());
    const std::string_view line = file.substr(start, end - start);
    if (!HoldsKey(line, key)) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string_view key = kKeys[input.ConsumeIntegralInRange<std::size_t>(0, 6)];
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

  const std::string later = normal + std::string(key) + "=later\n";
  if (const auto first = SettingsText::FindValue(normal, key)) {
    FUZZ_CHECK(SettingsText::FindValue(later, key) == first);
  }
  return 0;
}
