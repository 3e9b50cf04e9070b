// Preferred devices through the exported calls: what Mmdr_SetPrefDev stores, and which
// present device Mmdr_GetPrefDev picks from the stored texts.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "interface/mmdr_library.h"
#include "support/registry_scratch.h"
#include "support/webcam_fixture.h"

namespace kestrel_test {
namespace {

std::optional<std::wstring> StoredText(HKEY root, const wchar_t* valueName) {
  const auto raw = ReadRegistryValue(root, kKestrelKeyPath, valueName);
  if (!raw) return std::nullopt;
  EXPECT_EQ(raw->type, static_cast<DWORD>(REG_SZ)) << "value type";
  std::wstring text(raw->bytes.size() / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), raw->bytes.data(), text.size() * sizeof(wchar_t));
  if (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

// What Mmdr_GetPrefDev delivers: nullopt for MMDR_NO_DATA (with the field untouched).
std::optional<std::string> Preferred(MmdrHandle* handle, MmdrDeviceKind kind, MmdrPrefField field) {
  char text[MMDR_TEXT_FIELD_SIZE];
  std::memset(text, 0xCD, sizeof text);
  const MmdrResult result = Mmdr().GetPrefDev(handle, kind, field, text);
  if (result == MMDR_NO_DATA) {
    EXPECT_EQ(std::vector<char>(text, text + sizeof text), std::vector<char>(sizeof text, '\xCD'));
    return std::nullopt;
  }
  EXPECT_EQ(result, MMDR_OK);
  EXPECT_EQ(static_cast<unsigned char>(text[MMDR_TEXT_FIELD_SIZE - 1]), 0xCD);
  return std::string(text, strnlen(text, MMDR_TEXT_FIELD_SIZE - 1));
}

// Every preference value of both roots, emptied for the test and restored afterwards.
class MmdrPrefDev : public ::testing::Test {
 protected:
  MmdrPrefDev() {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      for (const wchar_t* name : {L"srcWCamId", L"srcWCamName", L"srcAudioInId", L"srcAudioInName"}) {
        values_.emplace_back(std::make_unique<ScopedRegistryValue>(root, name))->Remove();
      }
    }
  }
  ScopedRegistryValue& Value(HKEY root, const wchar_t* name) {
    const int rootIndex = root == HKEY_CURRENT_USER ? 0 : 4;
    const wchar_t* names[] = {L"srcWCamId", L"srcWCamName", L"srcAudioInId", L"srcAudioInName"};
    for (int i = 0; i < 4; ++i) {
      if (std::wcscmp(names[i], name) == 0) return *values_[rootIndex + i];
    }
    throw std::logic_error("unknown value");
  }
  std::string AddWebcam(const std::wstring& name, const std::wstring& path) {
    EXPECT_FALSE(webcams_.Add(WebcamSpec::Complete(name, path)).empty());
    return Utf8(path);
  }

  std::vector<std::unique_ptr<ScopedRegistryValue>> values_;
  ScopedMmdrHandle handle_;
  WebcamFixture webcams_;
};

TEST_F(MmdrPrefDev, NothingStoredGivesNoDataForEveryKindAndField) {
  for (MmdrDeviceKind kind : {MMDR_DEVICE_VIDEO, MMDR_DEVICE_AUDIO}) {
    for (MmdrPrefField field : {MMDR_PREF_NAME, MMDR_PREF_ID}) {
      EXPECT_FALSE(Preferred(handle_.get(), kind, field)) << kind << "/" << field;
    }
  }
}

TEST_F(MmdrPrefDev, SetStoresTheTextsWithTheMicrophoneNameRule) {
  struct Case {
    MmdrDeviceKind kind;
    const char* id;
    const char* name;
    const wchar_t* storedId;
    const wchar_t* storedName;
  };
  const Case cases[] = {
      {MMDR_DEVICE_VIDEO, "cam-id", "Cam", L"cam-id", L"Cam"},
      {MMDR_DEVICE_VIDEO, nullptr, "Cam", L"", L"Cam"},  // a webcam name goes regardless
      {MMDR_DEVICE_VIDEO, "cam-id", nullptr, L"cam-id", L""},
      {MMDR_DEVICE_AUDIO, "mic-id", "Mic", L"mic-id", L"Mic"},
      {MMDR_DEVICE_AUDIO, nullptr, "Mic", L"", L""},  // no id: both clear
      {MMDR_DEVICE_AUDIO, "", "Mic", L"", L""},
      {MMDR_DEVICE_AUDIO, "mic-id", nullptr, L"mic-id", L""},
      {MMDR_DEVICE_VIDEO, "\xE6\x97\xA5-id", "Cam\xC3\xA9", L"\u65e5-id", L"Cam\u00e9"},
  };
  for (const Case& c : cases) {
    const bool video = c.kind == MMDR_DEVICE_VIDEO;
    EXPECT_EQ(Mmdr().SetPrefDev(handle_.get(), c.kind, c.id, c.name), MMDR_OK);
    const auto id = StoredText(HKEY_CURRENT_USER, video ? L"srcWCamId" : L"srcAudioInId");
    const auto name = StoredText(HKEY_CURRENT_USER, video ? L"srcWCamName" : L"srcAudioInName");
    const std::string label = std::string(video ? "video " : "audio ") + (c.id ? c.id : "(null)") +
                              " / " + (c.name ? c.name : "(null)");
    EXPECT_EQ(id, std::optional<std::wstring>(c.storedId)) << label;
    EXPECT_EQ(name, std::optional<std::wstring>(c.storedName)) << label;
  }
  // The other kind's values were never written.
  EXPECT_FALSE(ReadRegistryValue(HKEY_LOCAL_MACHINE, kKestrelKeyPath, L"srcWCamId"));
}

TEST_F(MmdrPrefDev, WebcamRoundTripDeliversThePresentDeviceTexts) {
  const std::wstring token = webcams_.token();
  const std::wstring name = L"Cam\u00e9ra \u65e5\u672c \"q\" " + token;
  const std::string id = AddWebcam(name, L"\\\\?\\usb#vid_1#" + token);
  ASSERT_EQ(Mmdr().SetPrefDev(handle_.get(), MMDR_DEVICE_VIDEO, id.c_str(), Utf8(name).c_str()),
            MMDR_OK);
  EXPECT_EQ(StoredText(HKEY_CURRENT_USER, L"srcWCamName"), name) << "stored as UTF-16";
  EXPECT_EQ(Preferred(handle_.get(), MMDR_DEVICE_VIDEO, MMDR_PREF_ID), id);
  EXPECT_EQ(Preferred(handle_.get(), MMDR_DEVICE_VIDEO, MMDR_PREF_NAME), Utf8(name));
  EXPECT_FALSE(Preferred(handle_.get(), MMDR_DEVICE_AUDIO, MMDR_PREF_ID)) << "kinds are separate";
}

TEST_F(MmdrPrefDev, MicrophoneRoundTripAndFoundByNameGivesItsCurrentId) {
  std::vector<EnumeratedDevice> mics = EnumerateThroughDll(handle_.get(), MMDR_DEVICE_AUDIO);
  const EnumeratedDevice* headset = nullptr;
  for (const EnumeratedDevice& mic : mics) {
    if (mic.name == "In: Headset") headset = &mic;
  }
  ASSERT_NE(headset, nullptr);

  ASSERT_EQ(Mmdr().SetPrefDev(handle_.get(), MMDR_DEVICE_AUDIO, headset->id.c_str(), "In: Headset"),
            MMDR_OK);
  EXPECT_EQ(Preferred(handle_.get(), MMDR_DEVICE_AUDIO, MMDR_PREF_ID), headset->id);
  EXPECT_EQ(Preferred(handle_.get(), MMDR_DEVICE_AUDIO, MMDR_PREF_NAME), "In: Headset");

  // A stale id (the device was re-plugged elsewhere) falls back to the name.
  Value(HKEY_CURRENT_USER, L"srcAudioInId").SetString(L"{gone}.{stale}");
  EXPECT_EQ(Preferred(handle_.get(), MMDR_DEVICE_AUDIO, MMDR_PREF_ID), headset->id);
}

TEST_F(MmdrPrefDev, MachineWidePreferenceShowsThroughPerValue) {
  const std::wstring token = webcams_.token();
  const std::string idA = AddWebcam(L"Alpha " + token, L"alpha#" + token);
  const std::string idB = AddWebcam(L"Beta " + token, L"beta#" + token);

  // Machine-wide id only.
  Value(HKEY_LOCAL_MACHINE, L"srcWCamId").SetString(L"alpha#" + token);
  EXPECT_EQ(Preferred(handle_.get(), MMDR_DEVICE_VIDEO, MMDR_PREF_ID), idA);

  // The user's name does not hide the machine's id: the id comes from one root and the
  // name from the other, and the id rule wins.
  Value(HKEY_CURRENT_USER, L"srcWCamName").SetString(L"Beta " + token);
  EXPECT_EQ(Preferred(handle_.get(), MMDR_DEVICE_VIDEO, MMDR_PREF_NAME), Utf8(L"Alpha " + token));

  // An empty user text lets the machine value through; a user text hides it.
  Value(HKEY_CURRENT_USER, L"srcWCamId").SetString(L"");
  EXPECT_EQ(Preferred(handle_.get(), MMDR_DEVICE_VIDEO, MMDR_PREF_ID), idA);
  Value(HKEY_CURRENT_USER, L"srcWCamId").SetString(L"beta#" + token);
  EXPECT_EQ(Preferred(handle_.get(), MMDR_DEVICE_VIDEO, MMDR_PREF_ID), idB);

  // Clearing the user's choice through the interface brings the machine's back.
  ASSERT_EQ(Mmdr().SetPrefDev(handle_.get(), MMDR_DEVICE_VIDEO, "", ""), MMDR_OK);
  EXPECT_EQ(Preferred(handle_.get(), MMDR_DEVICE_VIDEO, MMDR_PREF_ID), idA);

  // The same fall-back for microphones, by name from the machine.
  Value(HKEY_LOCAL_MACHINE, L"srcAudioInName").SetString(L"In: ArrayMic");
  EXPECT_EQ(Preferred(handle_.get(), MMDR_DEVICE_AUDIO, MMDR_PREF_NAME), "In: ArrayMic");
}

TEST_F(MmdrPrefDev, IdRulesExactBeforeContainedBeforeNameAndCaseSensitive) {
  const std::wstring t = webcams_.token();
  // Registered in this order; the enumeration lists them in the same order.
  const std::string wide = AddWebcam(L"Wide " + t, L"pre-" + t + L"-mid-post");
  const std::string exact = AddWebcam(L"Exact " + t, t + L"-mid");
  const std::string upper = AddWebcam(L"Upper " + t, L"UPPER-" + t);
  const std::string named = AddWebcam(L"Named " + t, L"named-" + t);
  const std::string twin = AddWebcam(L"Named " + t, L"twin-" + t);

  struct Case {
    std::wstring storedId;
    std::wstring storedName;
    std::optional<std::string> pickedId;
  };
  const Case cases[] = {
      {t + L"-mid", L"", exact},              // exact beats the earlier device containing it
      {L"pre-" + t, L"", wide},               // contained at the start
      {t + L"-mid-", L"", wide},              // in the middle
      {L"-mid-post", L"", wide},              // at the end
      {L"upper-" + t, L"", std::nullopt},     // letter case matters for ids
      {L"upper-" + t, L"Named " + t, named},  // ... and the name decides
      {L"named-" + t + L"-longer", L"", std::nullopt},  // longer than every id
      {L"", L"named " + t, std::nullopt},     // and for names
      {L"", L"Named " + t, named},            // two with the name: the first
      {L"", L"Named", std::nullopt},          // names never match by containment
  };
  for (const Case& c : cases) {
    Value(HKEY_CURRENT_USER, L"srcWCamId").SetString(c.storedId);
    Value(HKEY_CURRENT_USER, L"srcWCamName").SetString(c.storedName);
    EXPECT_EQ(Preferred(handle_.get(), MMDR_DEVICE_VIDEO, MMDR_PREF_ID), c.pickedId)
        << Utf8(c.storedId) << " / " << Utf8(c.storedName);
  }
}

TEST_F(MmdrPrefDev, FoundByNameReturnsTheCurrentIdAndTheLongestTextIsCut) {
  const std::wstring t = webcams_.token();
  const std::wstring longName = L"N" + t + std::wstring(258 - 1 - t.size(), L'n') + L"\u00e9";
  const std::string id = AddWebcam(longName, L"now#" + t);
  Value(HKEY_CURRENT_USER, L"srcWCamId").SetString(L"then#" + t);
  Value(HKEY_CURRENT_USER, L"srcWCamName").SetString(longName);
  EXPECT_EQ(Preferred(handle_.get(), MMDR_DEVICE_VIDEO, MMDR_PREF_ID), id);
  // 258 ASCII bytes and the first byte of the two-byte character.
  EXPECT_EQ(Preferred(handle_.get(), MMDR_DEVICE_VIDEO, MMDR_PREF_NAME), Utf8(longName).substr(0, 259));
}

}  // namespace
}  // namespace kestrel_test
