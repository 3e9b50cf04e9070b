// The library's settings for one test, by value name, in the user's or the machine's store
// (the registry, or settings files in a folder the test program owns), both emptied when
// the scope starts and when it ends. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel_test {

enum class Store { User, Machine };

struct SettingsScope {
  SettingsScope() { Clear(); }
  ~SettingsScope() { Clear(); }

  static void Clear();
  static void PutText(Store store, const char* name, const std::string& text);
  static void PutNumber(Store store, const char* name, std::uint32_t value);
  // A text as the library stored it (a note in angle brackets for another form), or none.
  static std::optional<std::string> Read(Store store, const char* name);
#ifdef _WIN32
  static void Remove(Store store, const char* name);
  // Exactly these bytes as a value of this type: odd counts and texts without a NUL stay.
  static void PutBytes(Store store, const char* name, unsigned long type, const std::string& bytes);
#endif
};

}  // namespace kestrel_test
