// The text of a settings file (the format is described in settings_linux.cpp): a value
// found by its key and a file rewritten with new values (settings_text.cpp, Linux only);
// the rules by which both stores read a value as a switch or a number, and the text of a
// registry value's data (settings_values.cpp, both platforms). Plain C++, no system calls;
// texts are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace SettingsText {

// The unescaped value of the first line that holds key (keys compare without regard to
// ASCII letter case, as registry value names do); nullopt when no line holds it.
std::optional<std::string> FindValue(std::string_view file, std::string_view key);

struct Change {
  std::string_view key;
  std::string_view value;  // unescaped
};
// The file with each change's key set to its value: in place of the key's first line,
// its later lines dropped, appended when no line holds it. Every other line is kept as
// it is; every line of the result ends with a newline.
std::string Rewrite(std::string_view file, const Change* changes, std::size_t count);

// "true" in any letter case; otherwise the leading decimal number, true when not 0.
bool ParseSwitch(std::string_view text);
// The leading decimal number (after white space, with an optional sign), held to the
// signed 32-bit range and taken as unsigned: "-1" is 4294967295; no digits give 0.
std::uint32_t ParseNumber(std::string_view text);
// The number as a signed 32-bit decimal, which ParseNumber reads back unchanged.
std::string FormatNumber(std::uint32_t value);

// The text of a registry value's data of byteCount bytes, as the Windows store takes any
// value's data: UTF-16 code units, least significant byte first, up to the first NUL or
// the data's end (a last odd byte is no code unit).
std::u16string RegistryValueText(const unsigned char* data, std::size_t byteCount);

}  // namespace SettingsText
