// Storing a preferred device and finding it again among the devices present.
#include <gtest/gtest.h>

#include <cstring>

#include "prefs/reg_utils.h"
#include "support/devices.h"
#include "support/registry_scope_win.h"
#include "support/webcam_fixture_win.h"

namespace kestrel_test {
namespace {

const HKEY kUser = HKEY_CURRENT_USER;
const HKEY kMachine = HKEY_LOCAL_MACHINE;

std::wstring StoredText(HKEY root, const wchar_t* name) {
  const auto value = KestrelRegistryScope::Read(root, name);
  if (!value || value->type != REG_SZ || value->bytes.size() % 2 != 0) return L"<not a REG_SZ>";
  std::wstring text(reinterpret_cast<const wchar_t*>(value->bytes.data()), value->bytes.size() / 2);
  if (text.empty() || text.back() != L'\0') return L"<no NUL>";
  return text.substr(0, text.size() - 1);
}

TEST(Preferences, SetStoresThePairAndAMicrophoneNameOnlyWithAnId) {
  KestrelRegistryScope scope;
  ScopedMmdrHandle handle;
  struct Case {
    MmdrDeviceKind kind;
    const char* id;
    const char* name;
    std::wstring storedId, storedName;
  };
  const Case cases[] = {
      {1, nullptr, "N", L"", L"N"},
      {1, "I", nullptr, L"I", L""},
      {1, "I\xC3\xA9", "\xE5\x90\x8D\xF0\x9F\x98\x80", L"I\u00E9", L"\u540D\xD83D\xDE00"},
      {1, "I\xC3", "\xE6\x97\xA5", L"I\uFFFD", L"\u65E5"},  // ill-formed input is replaced
      {2, nullptr, "N", L"", L""},
      {2, "", "N", L"", L""},
      {2, "I", nullptr, L"I", L""},
      {2, "I", "N", L"I", L"N"},
  };
  for (const Case& c : cases) {
    const wchar_t* idValue = c.kind == 1 ? L"srcWCamId" : L"srcAudioInId";
    const wchar_t* nameValue = c.kind == 1 ? L"srcWCamName" : L"srcAudioInName";
    KestrelRegistryScope::PutString(kUser, idValue, L"old");
    KestrelRegistryScope::PutString(kUser, nameValue, L"old");
    EXPECT_EQ(Mmdr_SetPrefDev(handle.get(), c.kind, c.id, c.name), MMDR_OK);
    EXPECT_EQ(StoredText(kUser, idValue), c.storedId) << c.kind << (c.id ? c.id : "(null)");
    EXPECT_EQ(StoredText(kUser, nameValue), c.storedName) << c.kind << (c.name ? c.name : "(null)");
  }
}

// Fails the write that counts g_writesBeforeFailure down to 0; the others go through.
int g_writesBeforeFailure = 0;
LSTATUS APIENTRY FailingWriter(HKEY key, const wchar_t* name, DWORD reserved, DWORD type,
                               const BYTE* data, DWORD size) {
  if (--g_writesBeforeFailure == 0) return ERROR_ACCESS_DENIED;
  return RegSetValueExW(key, name, reserved, type, data, size);
}

TEST(Preferences, AFailedWriteFailsTheCallAndAStoredIdStays) {
  KestrelRegistryScope scope;
  ScopedMmdrHandle handle;
  RegUtils::SetValueWriterForTesting(&FailingWriter);
  for (int failing : {1, 2}) {
    KestrelRegistryScope::PutString(kUser, L"srcWCamId", L"old");
    KestrelRegistryScope::PutString(kUser, L"srcWCamName", L"old");
    g_writesBeforeFailure = failing;
    EXPECT_EQ(Mmdr_SetPrefDev(handle.get(), 1, "new", "new"), MMDR_FAILED);
    EXPECT_EQ(StoredText(kUser, L"srcWCamId"), failing == 1 ? L"old" : L"new") << "id first";
    EXPECT_EQ(StoredText(kUser, L"srcWCamName"), L"old");
  }
  g_writesBeforeFailure = 1;
  EXPECT_EQ(Mmdr_SetAudioInSelectOption(handle.get(), 1), MMDR_FAILED);
  RegUtils::SetValueWriterForTesting(nullptr);
}

TEST(Preferences, TheStoredWebcamIsFoundByExactIdThenContainedIdThenExactName) {
  // 200 units fit the registry's read buffer; their 400 bytes of UTF-8 do not fit a field.
  const std::wstring longName(200, L'\u00E9');
  std::string cutName;
  for (int i = 0; i < 130; ++i) cutName += "\xC3\xA9";
  cutName.resize(259);
  WebcamFixture webcams({{L"Cam", L"XYZ-pre-XYZ-post"},
                         {L"Cam", L"XYZ"},
                         {L"Other", L"p2"},
                         {L"\u00DCmlaut", L"p3"},
                         {longName, L"p4"},
                         {std::wstring(L"NulCam\0", 7), L"p5"}});  // a NUL counted in its length
  const Entry present[] = {{"XYZ-pre-XYZ-post", "Cam"}, {"XYZ", "Cam"},  {"p2", "Other"},
                           {"p3", "\xC3\x9Cmlaut"},     {"p4", cutName}, {"p5", "NulCam"}};
  struct Case {
    std::wstring userId, userName, machineId, machineName;
    int picked;  // index into present, -1 for none
  };
  const Case cases[] = {
      {L"XYZ", L"", L"", L"", 1},  // an exact id beats an earlier one that contains it
      {L"post", L"", L"", L"", 0},
      {L"pre-", L"", L"", L"", 0},
      {L"-XYZ-", L"", L"", L"", 0},
      {L"XYZ-more", L"", L"", L"", -1},  // a device id inside the stored one is no match
      {L"xyz", L"", L"", L"", -1},       // ids and names are compared case-sensitively
      {L"", L"Cam", L"", L"", 0},        // the first of two equal names
      {L"", L"cam", L"", L"", -1},
      {L"", L"Ca", L"", L"", -1},  // names never by containment
      {L"p2-and-more-than-any-id", L"Other", L"", L"", 2},
      {L"stale-id", L"\u00DCmlaut", L"", L"", 3},  // hands out the device's current id
      {L"", L"", L"XYZ", L"", 1},                  // the machine's value when the user has none
      {L"", L"Other", L"XYZ", L"", 1},             // decided per value, not per pair
      {L"nomatch", L"", L"", L"Other", 2},
      {L"", longName, L"", L"", 4},
      {L"", L"NulCam", L"", L"", 5},
      {L"", L"", L"", L"", -1},
  };
  KestrelRegistryScope scope;
  ScopedMmdrHandle handle;
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    KestrelRegistryScope::Clear();
    KestrelRegistryScope::PutString(kUser, L"srcWCamId", c.userId);
    KestrelRegistryScope::PutString(kUser, L"srcWCamName", c.userName);
    KestrelRegistryScope::PutString(kMachine, L"srcWCamId", c.machineId);
    KestrelRegistryScope::PutString(kMachine, L"srcWCamName", c.machineName);
    const Entry expected = c.picked < 0 ? Entry{"code 11", "code 11"} : present[c.picked];
    EXPECT_EQ(PreferredText(handle.get(), 1, MMDR_PREF_ID), expected.first);
    EXPECT_EQ(PreferredText(handle.get(), 1, MMDR_PREF_NAME), expected.second);
  }
  char text[MMDR_TEXT_FIELD_SIZE];
  std::memset(text, 0x77, sizeof text);
  EXPECT_EQ(Mmdr_GetPrefDev(handle.get(), 1, MMDR_PREF_NAME, text), MMDR_NO_DATA);
  EXPECT_EQ(text[0], 0x77) << "left untouched without a preferred device";
  KestrelRegistryScope::PutString(kUser, L"srcWCamName", longName);
  EXPECT_EQ(Mmdr_GetPrefDev(handle.get(), 1, MMDR_PREF_NAME, text), MMDR_OK);
  EXPECT_EQ(std::string(text, 260), cutName + '\x77');
}

}  // namespace
}  // namespace kestrel_test
