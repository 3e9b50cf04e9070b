// Mmdr_EnumDevices against real enumerations: fixture webcams in DirectShow's category,
// fixture microphones from the Wine prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "interface/mmdr_library.h"
#include "support/registry_scratch.h"
#include "support/webcam_fixture.h"

namespace kestrel_test {
namespace {

constexpr unsigned char kGuard = 0xCD;

// Index of the first entry whose name is exactly this one; -1 when none.
int FindByName(const std::vector<EnumeratedDevice>& devices, const std::string& name) {
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (devices[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

// One enumeration into a buffer pre-filled with the guard byte.
struct GuardedEnumeration {
  MmdrResult result;
  std::uint32_t count;
  std::vector<unsigned char> bytes;
  const unsigned char* entry(std::size_t i) const { return bytes.data() + i * MMDR_ENTRY_SIZE; }
};

GuardedEnumeration EnumerateInto(MmdrHandle* handle, MmdrDeviceKind kind, std::uint32_t size) {
  GuardedEnumeration out{MMDR_FAILED, 0xFFFFFFFF, std::vector<unsigned char>(size + 64, kGuard)};
  out.result = Mmdr().EnumDevices(handle, kind, size, out.bytes.data(), &out.count);
  return out;
}

bool AllGuard(const unsigned char* begin, const unsigned char* end) {
  return std::all_of(begin, end, [](unsigned char b) { return b == kGuard; });
}

class MmdrEnumWebcams : public ::testing::Test {
 protected:
  // The entry of this batch's device with the given name, from a full enumeration into
  // a guarded buffer.
  const unsigned char* EntryNamed(const GuardedEnumeration& e, const std::string& name) {
    for (std::uint32_t i = 0; i < e.count; ++i) {
      const char* field = reinterpret_cast<const char*>(e.entry(i)) + MMDR_TEXT_FIELD_SIZE;
      if (std::strncmp(field, name.c_str(), name.size()) == 0) return e.entry(i);
    }
    ADD_FAILURE() << "no entry named " << name;
    return nullptr;
  }

  ScopedMmdrHandle handle_;
  WebcamFixture webcams_;
};

TEST_F(MmdrEnumWebcams, BufferSizingEdgesDeliverTheCountAndTouchOnlyTheEntries) {
  const std::wstring token = webcams_.token();
  ASSERT_FALSE(webcams_.Add(WebcamSpec::Complete(L"Cam A " + token, L"\\\\?\\a#" + token)).empty());
  ASSERT_FALSE(webcams_.Add(WebcamSpec::Complete(L"Cam B " + token, L"\\\\?\\b#" + token)).empty());

  std::uint32_t count = 0;
  ASSERT_EQ(Mmdr().EnumDevices(handle_.get(), MMDR_DEVICE_VIDEO, 0, nullptr, &count),
            MMDR_BUFFER_TOO_SMALL);
  ASSERT_GE(count, 2u);
  const std::uint32_t needed = count * MMDR_ENTRY_SIZE;

  // Null buffer with a generous size, and one byte short: the count, and no write.
  count = 0;
  EXPECT_EQ(Mmdr().EnumDevices(handle_.get(), MMDR_DEVICE_VIDEO, 0xFFFFFFFF, nullptr, &count),
            MMDR_BUFFER_TOO_SMALL);
  EXPECT_EQ(count * MMDR_ENTRY_SIZE, needed);
  GuardedEnumeration tooSmall = EnumerateInto(handle_.get(), MMDR_DEVICE_VIDEO, needed - 1);
  EXPECT_EQ(tooSmall.result, MMDR_BUFFER_TOO_SMALL);
  EXPECT_EQ(tooSmall.count * MMDR_ENTRY_SIZE, needed);
  EXPECT_TRUE(AllGuard(tooSmall.bytes.data(), tooSmall.bytes.data() + tooSmall.bytes.size()));

  GuardedEnumeration exact = EnumerateInto(handle_.get(), MMDR_DEVICE_VIDEO, needed);
  EXPECT_EQ(exact.result, MMDR_OK);
  EXPECT_TRUE(AllGuard(exact.bytes.data() + needed, exact.bytes.data() + exact.bytes.size()));

  GuardedEnumeration larger = EnumerateInto(handle_.get(), MMDR_DEVICE_VIDEO, needed + 1000);
  EXPECT_EQ(larger.result, MMDR_OK);
  EXPECT_TRUE(AllGuard(larger.bytes.data() + needed, larger.bytes.data() + larger.bytes.size()));
  EXPECT_TRUE(std::equal(exact.bytes.begin(), exact.bytes.begin() + needed, larger.bytes.begin()));

  // This batch's two devices, in the order they were registered, with id then name.
  const std::string idA = Utf8(L"\\\\?\\a#" + token);
  const unsigned char* a = EntryNamed(exact, Utf8(L"Cam A " + token));
  const unsigned char* b = EntryNamed(exact, Utf8(L"Cam B " + token));
  ASSERT_TRUE(a && b);
  EXPECT_EQ(b - a, MMDR_ENTRY_SIZE);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(a)), idA);
}

TEST_F(MmdrEnumWebcams, FieldsFollowTheByteCutRuleAndNeverWriteTheirLastByte) {
  const std::wstring token = webcams_.token();
  const std::wstring longName = L"Long" + token + std::wstring(300, L'x');
  // A two-byte character that starts at byte 258 of the UTF-8 text.
  const std::wstring cutName = L"Cut" + token + std::wstring(258 - 3 - token.size(), L'y') + L"\u00e9z";
  const std::wstring shortName = L"Short " + token;
  ASSERT_FALSE(webcams_.Add(WebcamSpec::Complete(longName, L"p1#" + token)).empty());
  ASSERT_FALSE(webcams_.Add(WebcamSpec::Complete(cutName, L"p2#" + token)).empty());
  WebcamSpec noPath = WebcamSpec::Complete(shortName, L"");
  noPath.devicePath.reset();
  ASSERT_FALSE(webcams_.Add(noPath).empty());

  std::uint32_t count = 0;
  Mmdr().EnumDevices(handle_.get(), MMDR_DEVICE_VIDEO, 0, nullptr, &count);
  const GuardedEnumeration e = EnumerateInto(handle_.get(), MMDR_DEVICE_VIDEO, count * MMDR_ENTRY_SIZE);
  ASSERT_EQ(e.result, MMDR_OK);

  const unsigned char* longEntry = EntryNamed(e, Utf8(L"Long" + token));
  ASSERT_NE(longEntry, nullptr);
  const unsigned char* longField = longEntry + MMDR_TEXT_FIELD_SIZE;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(longField), 259), Utf8(longName).substr(0, 259));
  EXPECT_EQ(longField[259], kGuard);

  const unsigned char* cutEntry = EntryNamed(e, Utf8(L"Cut" + token));
  ASSERT_NE(cutEntry, nullptr);
  const unsigned char* cutField = cutEntry + MMDR_TEXT_FIELD_SIZE;
  EXPECT_EQ(cutField[257], 'y');
  EXPECT_EQ(cutField[258], 0xC3) << "only the first byte of the cut character";
  EXPECT_EQ(cutField[259], kGuard);

  // A short id: zeros up to byte 258, byte 259 untouched.
  const std::string shortId = Utf8(L"p1#" + token);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(longEntry)), shortId);
  EXPECT_TRUE(std::all_of(longEntry + shortId.size(), longEntry + 259,
                          [](unsigned char c) { return c == 0; }));
  EXPECT_EQ(longEntry[259], kGuard);

  // No readable DevicePath: an id field of 259 zero bytes.
  const unsigned char* noPathEntry = EntryNamed(e, Utf8(shortName));
  ASSERT_NE(noPathEntry, nullptr);
  EXPECT_TRUE(std::all_of(noPathEntry, noPathEntry + 259, [](unsigned char c) { return c == 0; }));
  EXPECT_EQ(noPathEntry[259], kGuard);
  EXPECT_EQ(noPathEntry[MMDR_ENTRY_SIZE - 1], kGuard);
}

TEST_F(MmdrEnumWebcams, DuplicateNamesGiveOneEntryEachInEnumerationOrder) {
  const std::wstring token = webcams_.token();
  const std::wstring name = L"Twin \u00c9cam " + token;
  ASSERT_FALSE(webcams_.Add(WebcamSpec::Complete(name, L"first#" + token)).empty());
  ASSERT_FALSE(webcams_.Add(WebcamSpec::Complete(name, L"second#" + token)).empty());

  const std::vector<EnumeratedDevice> devices = EnumerateThroughDll(handle_.get(), MMDR_DEVICE_VIDEO);
  const int first = FindByName(devices, Utf8(name));
  ASSERT_GE(first, 0);
  ASSERT_LT(static_cast<std::size_t>(first + 1), devices.size());
  EXPECT_EQ(devices[first].id, Utf8(L"first#" + token));
  EXPECT_EQ(devices[first + 1].name, Utf8(name));
  EXPECT_EQ(devices[first + 1].id, Utf8(L"second#" + token));
}

TEST(MmdrEnumMicrophones, ListsTheFixtureMicrophonesAndDirectSoundOnRequest) {
  ScopedMmdrHandle handle;
  ScopedRegistryValue wasapi(HKEY_LOCAL_MACHINE, L"EnableAInWasapi");
  wasapi.Remove();
  const std::vector<EnumeratedDevice> endpoints = EnumerateThroughDll(handle.get(), MMDR_DEVICE_AUDIO);
  for (const char* name : {"In: DeskMic", "In: Headset", "In: ArrayMic"}) {
    const int at = FindByName(endpoints, name);
    ASSERT_GE(at, 0) << name;
    EXPECT_FALSE(endpoints[at].id.empty()) << name;
  }

  wasapi.SetDword(0);
  const std::vector<EnumeratedDevice> dsound = EnumerateThroughDll(handle.get(), MMDR_DEVICE_AUDIO);
  for (const char* name : {"In: DeskMic", "In: Headset", "In: ArrayMic"}) {
    EXPECT_GE(FindByName(dsound, name), 0) << name;
  }
  // DirectSound identifies devices by other texts than the endpoint enumerator does.
  for (const EnumeratedDevice& device : dsound) {
    for (const EnumeratedDevice& endpoint : endpoints) {
      EXPECT_NE(device.id, endpoint.id) << device.name;
    }
  }
}

}  // namespace
}  // namespace kestrel_test
