#include "devices/device_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <thread>

#include "core/text_utils.h"

namespace kestrel_test {

ApartmentState CurrentApartment() {
  ApartmentState state{E_UNEXPECTED, APTTYPE_CURRENT, APTTYPEQUALIFIER_NONE};
  state.result = CoGetApartmentType(&state.type, &state.qualifier);
  return state;
}

const char* ToString(ThreadApartment apartment) {
  switch (apartment) {
    case ThreadApartment::None: return "outside COM";
    case ThreadApartment::Sta: return "single-threaded apartment";
    case ThreadApartment::Mta: return "multithreaded apartment";
  }
  return "?";
}

std::string ThreadApartmentTestName(const ::testing::TestParamInfo<ThreadApartment>& info) {
  switch (info.param) {
    case ThreadApartment::None: return "OutsideCom";
    case ThreadApartment::Sta: return "Sta";
    case ThreadApartment::Mta: return "Mta";
  }
  return "Unknown";
}

void RunOnThreadIn(ThreadApartment apartment, const std::function<void()>& body) {
  std::thread thread([&] {
    HRESULT entered = S_FALSE;
    if (apartment == ThreadApartment::Sta) entered = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (apartment == ThreadApartment::Mta) entered = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ASSERT_TRUE(SUCCEEDED(entered));
    body();
    if (apartment != ThreadApartment::None) CoUninitialize();
  });
  thread.join();
}

std::vector<std::string> LogLinesAtLevel(const std::vector<CapturedLogRecord>& records,
                                         std::uint32_t level) {
  std::vector<std::string> lines;
  for (const CapturedLogRecord& record : records) {
    if (record.level == level) lines.push_back(record.text);
  }
  return lines;
}

bool HasLogLine(const std::vector<CapturedLogRecord>& records, std::uint32_t level,
                const std::string& text) {
  return std::any_of(records.begin(), records.end(), [&](const CapturedLogRecord& record) {
    return record.level == level && record.text.find(text) != std::string::npos;
  });
}

bool IsLowerCaseGuidText(const std::wstring& text) {
  if (text.size() != 38 || text.front() != L'{' || text.back() != L'}') return false;
  for (std::size_t i = 1; i < 37; ++i) {
    const wchar_t c = text[i];
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (c != L'-') return false;
    } else if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) {
      return false;
    }
  }
  return true;
}

void ExpectAudioRecordInvariants(const DeviceInfoList& list) {
  for (const DeviceInfo& device : list) {
    SCOPED_TRACE(Narrow(device.name));
    EXPECT_EQ(device.kind, 0u);
    EXPECT_EQ(device.number, device.index);
    EXPECT_EQ(device.id, device.path);
    EXPECT_TRUE(IsLowerCaseGuidText(device.guid)) << Narrow(device.guid);
    EXPECT_FALSE(device.name.empty());
  }
}

std::vector<std::wstring> FixtureMicrophoneNames() {
  std::vector<std::wstring> names = {L"In: default", L"In: DeskMic", L"In: Headset",
                                     L"In: ArrayMic"};
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::wstring> NamesOf(const DeviceInfoList& list) {
  std::vector<std::wstring> names;
  for (const DeviceInfo& device : list) names.push_back(device.name);
  return names;
}

std::vector<std::wstring> SortedNamesOf(const DeviceInfoList& list) {
  std::vector<std::wstring> names = NamesOf(list);
  std::sort(names.begin(), names.end());
  return names;
}

std::string Narrow(const std::wstring& text) { return ConvertWideToUtf8(text.c_str()); }

int DropRemainingDSoundReferences() {
  int references = 0;
  for (HMODULE module = GetModuleHandleW(L"dsound.dll"); module != nullptr && references < 16;
       module = GetModuleHandleW(L"dsound.dll")) {
    FreeLibrary(module);
    ++references;
  }
  return references;
}

int DSoundSelfReferencesPerLoad() {
  static const int measured = [] {
    if (GetModuleHandleW(L"dsound.dll") != nullptr) return -1;
    if (LoadLibraryExW(L"dsound.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32) == nullptr) return -1;
    return DropRemainingDSoundReferences() - 1;
  }();
  return measured;
}

}  // namespace kestrel_test
