// The registry fixtures must leave the registry as they found it, or tests would
// leak state into each other.
#include "support/registry_scratch.h"

#include <gtest/gtest.h>

namespace kestrel_test {
namespace {

constexpr wchar_t kScratchPath[] = L"Software\\Corvane\\Meridel\\Kestrel\\ScratchTest\\Deeper";
constexpr wchar_t kScratchParent[] = L"Software\\Corvane\\Meridel\\Kestrel\\ScratchTest";

TEST(RegistryScratch, RestoresPreviousValuesAndRemovesTheKeysItCreated) {
  ScopedRegistryKeyAbsent clean(HKEY_CURRENT_USER, kScratchParent);
  {
    ScopedRegistryValue outer(HKEY_CURRENT_USER, L"v", kScratchPath);
    const std::uint8_t odd[] = {1, 0, 2};
    outer.SetRaw(REG_BINARY, odd, sizeof odd);
    {
      ScopedRegistryValue inner(HKEY_CURRENT_USER, L"v", kScratchPath);
      inner.SetString(L"replaced");
      ScopedRegistryValue other(HKEY_CURRENT_USER, L"w", kScratchPath);
      other.SetQword(7);
    }
    std::optional<RegistryValueData> restored =
        ReadRegistryValue(HKEY_CURRENT_USER, kScratchPath, L"v");
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(restored->bytes, std::vector<std::uint8_t>(odd, odd + sizeof odd));
    EXPECT_FALSE(ReadRegistryValue(HKEY_CURRENT_USER, kScratchPath, L"w"));
  }
  EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, kScratchParent));
}

TEST(RegistryScratch, KeyAbsentScopeRestoresTheTree) {
  ScopedRegistryKeyAbsent clean(HKEY_CURRENT_USER, kScratchParent);
  ScopedRegistryValue top(HKEY_CURRENT_USER, L"top", kScratchParent);
  top.SetString(L"kept");
  ScopedRegistryValue deep(HKEY_CURRENT_USER, L"deep", kScratchPath);
  deep.SetDword(9);
  {
    ScopedRegistryKeyAbsent gone(HKEY_CURRENT_USER, kScratchParent);
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, kScratchParent));
    ScopedRegistryValue during(HKEY_CURRENT_USER, L"during", kScratchPath);
    during.SetDword(1);
  }
  std::optional<RegistryValueData> topValue =
      ReadRegistryValue(HKEY_CURRENT_USER, kScratchParent, L"top");
  std::optional<RegistryValueData> deepValue =
      ReadRegistryValue(HKEY_CURRENT_USER, kScratchPath, L"deep");
  ASSERT_TRUE(topValue);
  ASSERT_TRUE(deepValue);
  EXPECT_EQ(topValue->bytes.size(), 10u);
  EXPECT_EQ(deepValue->bytes[0], 9);
  EXPECT_FALSE(ReadRegistryValue(HKEY_CURRENT_USER, kScratchPath, L"during"));
}

}  // namespace
}  // namespace kestrel_test
