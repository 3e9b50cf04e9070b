// A registry value's data and a value's text as both stores read them, any bytes: the text
// is the data's code units up to the first NUL; a number is the leading decimal one (after
// white space, with a sign) held to the signed 32-bit range, as strtoll reads it; a switch is
// "true" in any letter case or a number other than 0; a written number reads back.
#include <strings.h>

#include <algorithm>
#include <cstdlib>

#include "fuzz_check.h"
#include "prefs/settings_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string units = SettingsText::RegistryValueText(data, size);
  FUZZ_CHECK(units.size() <= size / 2 && units.find(u'\0') == units.npos);
  for (std::size_t i = 0; i < units.size(); ++i)
    FUZZ_CHECK(units[i] == (data[2 * i] | data[2 * i + 1] << 8));
  FUZZ_CHECK(units.size() == size / 2 ||
             (data[2 * units.size()] | data[2 * units.size() + 1]) == 0);

  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::uint32_t number = SettingsText::ParseNumber(text);
  const auto expected = static_cast<std::int32_t>(
      std::clamp<long long>(std::strtoll(text.c_str(), nullptr, 10), INT32_MIN, INT32_MAX));
  FUZZ_CHECK(number == static_cast<std::uint32_t>(expected));
  FUZZ_CHECK(SettingsText::ParseSwitch(text) ==
             ((text.size() == 4 && strcasecmp(text.c_str(), "true") == 0) || number != 0));
  FUZZ_CHECK(SettingsText::ParseNumber(SettingsText::FormatNumber(number)) == number);
  return 0;
}
