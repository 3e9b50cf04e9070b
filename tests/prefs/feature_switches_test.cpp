// The switches and the audio-in option, under the library's real value names.
#include <gtest/gtest.h>

#include <optional>

#include "prefs/reg_utils.h"
#include "prefs/registry_values.h"
#include "prefs/user_prefs_util.h"
#include "support/registry_scratch.h"

namespace kestrel_test {
namespace {

class FeatureSwitchesTest : public testing::Test {
 protected:
  ScopedRegistryKeyAbsent noUserKey_{HKEY_CURRENT_USER};
  ScopedRegistryKeyAbsent noMachineKey_{HKEY_LOCAL_MACHINE};
};

TEST_F(FeatureSwitchesTest, WithoutAnyKeyTheFeatureAndTheEndpointEnumeratorAreOn) {
  EXPECT_TRUE(UserPrefsUtil::IsFeatureEnabled());
  EXPECT_TRUE(UserPrefsUtil::IsAInWasapiEnabled());
  EXPECT_EQ(UserPrefsUtil::GetAudioInOption(), 0u);
}

TEST_F(FeatureSwitchesTest, MachineSwitchesReadNumbersAndText) {
  ScopedRegistryValue isDisabled(HKEY_LOCAL_MACHINE, L"IsDisabled");
  ScopedRegistryValue wasapi(HKEY_LOCAL_MACHINE, L"EnableAInWasapi");
  const struct {
    StoredValue stored;
    bool featureEnabled;  // "IsDisabled" holds the value
    bool wasapiEnabled;   // "EnableAInWasapi" holds the value
  } cases[] = {
      {Dword(1), false, true},    {Dword(0), true, false},     {Text(L"true"), false, true},
      {Text(L"false"), true, false}, {Text(L"TRUE"), false, true}, {Text(L"0"), true, false},
      {Text(L""), true, true},    {Missing(), true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored.label);
    Store(isDisabled, c.stored);
    Store(wasapi, c.stored);
    EXPECT_EQ(UserPrefsUtil::IsFeatureEnabled(), c.featureEnabled);
    EXPECT_EQ(UserPrefsUtil::IsAInWasapiEnabled(), c.wasapiEnabled);
  }
}

TEST_F(FeatureSwitchesTest, SwitchesUnderTheUserKeyDoNotCount) {
  ScopedRegistryValue isDisabled(HKEY_CURRENT_USER, L"IsDisabled");
  ScopedRegistryValue wasapi(HKEY_CURRENT_USER, L"EnableAInWasapi");
  isDisabled.SetDword(1);
  wasapi.SetDword(0);
  EXPECT_TRUE(UserPrefsUtil::IsFeatureEnabled());
  EXPECT_TRUE(UserPrefsUtil::IsAInWasapiEnabled());
}

TEST_F(FeatureSwitchesTest, ChangesTakeEffectAtTheNextCall) {
  ScopedRegistryValue isDisabled(HKEY_LOCAL_MACHINE, L"IsDisabled");
  isDisabled.SetDword(1);
  EXPECT_FALSE(UserPrefsUtil::IsFeatureEnabled());
  isDisabled.SetDword(0);
  EXPECT_TRUE(UserPrefsUtil::IsFeatureEnabled());
  isDisabled.Remove();
  EXPECT_TRUE(UserPrefsUtil::IsFeatureEnabled());
}

TEST_F(FeatureSwitchesTest, AudioInOptionIsReadFromTheUserOnly) {
  ScopedRegistryValue option(HKEY_CURRENT_USER, L"srcAudioInOption");
  ScopedRegistryValue machineOption(HKEY_LOCAL_MACHINE, L"srcAudioInOption");
  machineOption.SetDword(5);  // there is no machine-wide fall-back for the option
  const struct {
    StoredValue stored;
    DWORD expected;
  } cases[] = {
      {Missing(), 0}, {Dword(2), 2}, {Dword(1234567), 1234567}, {Text(L"Default"), 0},
      {Text(L"2"), 2}, {Text(L""), 0}, {Text(L"x"), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored.label);
    Store(option, c.stored);
    EXPECT_EQ(UserPrefsUtil::GetAudioInOption(), c.expected);
  }
}

TEST_F(FeatureSwitchesTest, SetAudioInOptionStoresAnyNumberAndCreatesTheKey) {
  ScopedRegistryKeyAbsent noVendorKey(HKEY_CURRENT_USER, L"Software\\Corvane");
  for (DWORD value : {7u, 0u, 2u, 4294967295u}) {
    SCOPED_TRACE(value);
    ASSERT_TRUE(UserPrefsUtil::SetAudioInOption(value));
    std::optional<RegistryValueData> stored =
        ReadRegistryValue(HKEY_CURRENT_USER, kKestrelKeyPath, L"srcAudioInOption");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(stored->bytes, Dword(value).bytes);
    EXPECT_EQ(UserPrefsUtil::GetAudioInOption(), value);
  }
  EXPECT_FALSE(ReadRegistryValue(HKEY_LOCAL_MACHINE, kKestrelKeyPath, L"srcAudioInOption"));
}

}  // namespace
}  // namespace kestrel_test
