// The exported calls' argument checks, the handle, the feature switch and the audio-in
// option, through the DLL as a caller loads it.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "interface/mmdr_library.h"
#include "support/registry_scratch.h"

namespace kestrel_test {
namespace {

// A stand-in block laid out like a handle: magic, refCount, mode.
struct FakeHandleBlock {
  std::uint32_t magic = 0x72646D6D;
  std::int32_t refCount = 1;
  std::int32_t mode = 1;
  MmdrHandle* handle() { return reinterpret_cast<MmdrHandle*>(this); }
};

TEST(MmdrInit, ChecksHandleOutThenModeAndLeavesThePointerAloneOnFailure) {
  struct Case {
    std::int32_t mode;
    bool nullHandleOut;
    MmdrResult expected;
  };
  const Case cases[] = {
      {5, true, MMDR_INVALID_ARGUMENT},  // the pointer test comes first
      {1, true, MMDR_INVALID_ARGUMENT},  {0, false, MMDR_INVALID_MODE},
      {3, false, MMDR_INVALID_MODE},     {-1, false, MMDR_INVALID_MODE},
      {INT32_MIN, false, MMDR_INVALID_MODE},
  };
  for (const Case& c : cases) {
    MmdrHandle* const sentinel = reinterpret_cast<MmdrHandle*>(0x1234);
    MmdrHandle* handle = sentinel;
    EXPECT_EQ(Mmdr().Init(c.mode, c.nullHandleOut ? nullptr : &handle), c.expected)
        << "mode " << c.mode;
    EXPECT_EQ(handle, sentinel) << "mode " << c.mode;
  }
}

TEST(MmdrInit, BothModesOpenDistinctHandlesThatCloseIndependently) {
  MmdrHandle* first = nullptr;
  MmdrHandle* second = nullptr;
  ASSERT_EQ(Mmdr().Init(1, &first), MMDR_OK);
  ASSERT_EQ(Mmdr().Init(2, &second), MMDR_OK);
  EXPECT_NE(first, second);
  EXPECT_EQ(Mmdr().IsValid(first), MMDR_OK);
  EXPECT_EQ(Mmdr().IsValid(second), MMDR_OK);
  // The block the caller holds is the documented 12-byte handle.
  std::uint32_t magic = 0;
  std::memcpy(&magic, first, sizeof magic);
  EXPECT_EQ(magic, 0x72646D6Du);

  Mmdr().Uninit(first);
  EXPECT_EQ(Mmdr().IsValid(second), MMDR_OK);
  std::uint8_t enabled = 0xAA;
  EXPECT_EQ(Mmdr().IsEnabled(second, &enabled), MMDR_OK);
  Mmdr().Uninit(second);
}

TEST(MmdrGetLibVersion, IsTwoWithoutAnyHandle) {
  EXPECT_EQ(Mmdr().GetLibVersion(), static_cast<std::uint32_t>(MMDR_LIB_VERSION));
  EXPECT_EQ(Mmdr().GetLibVersion(), 2u);
}

TEST(MmdrHandleCheck, RejectsNullWrongMagicInAnyByteAndDeadCounts) {
  EXPECT_EQ(Mmdr().IsValid(nullptr), MMDR_INVALID_HANDLE);

  FakeHandleBlock good;
  EXPECT_EQ(Mmdr().IsValid(good.handle()), MMDR_OK) << "control: a well-formed live block";

  for (int byte = 0; byte < 4; ++byte) {
    FakeHandleBlock block;
    reinterpret_cast<unsigned char*>(&block.magic)[byte] ^= 0x20;  // "mmdr" -> e.g. "Mmdr"
    EXPECT_EQ(Mmdr().IsValid(block.handle()), MMDR_INVALID_HANDLE) << "byte " << byte;
  }
  for (std::int32_t count : {0, -1, INT32_MIN}) {
    FakeHandleBlock block;
    block.refCount = count;
    EXPECT_EQ(Mmdr().IsValid(block.handle()), MMDR_INVALID_HANDLE) << "refCount " << count;
  }
}

TEST(MmdrUninit, IgnoresBadHandlesWithoutTouchingThem) {
  Mmdr().Uninit(nullptr);
  // Freeing or decrementing these stack blocks would corrupt the heap or the block.
  FakeHandleBlock wrongMagic;
  wrongMagic.magic = 0x72646D6E;
  FakeHandleBlock deadCount;
  deadCount.refCount = 0;
  Mmdr().Uninit(wrongMagic.handle());
  Mmdr().Uninit(deadCount.handle());
  EXPECT_EQ(wrongMagic.refCount, 1);
  EXPECT_EQ(wrongMagic.magic, 0x72646D6Eu);
  EXPECT_EQ(deadCount.refCount, 0);
  EXPECT_EQ(deadCount.magic, 0x72646D6Du);
}

TEST(MmdrCalls, BadHandleComesBeforeEveryOtherCheck) {
  FakeHandleBlock dead;
  dead.refCount = 0;
  for (MmdrHandle* handle : {static_cast<MmdrHandle*>(nullptr), dead.handle()}) {
    std::uint32_t count = 77;
    std::uint32_t option = 77;
    std::uint8_t enabled = 77;
    EXPECT_EQ(Mmdr().IsValid(handle), MMDR_INVALID_HANDLE);
    EXPECT_EQ(Mmdr().IsEnabled(handle, nullptr), MMDR_INVALID_HANDLE);
    EXPECT_EQ(Mmdr().IsEnabled(handle, &enabled), MMDR_INVALID_HANDLE);
    EXPECT_EQ(Mmdr().EnumDevices(handle, MMDR_DEVICE_AUDIO, 0, nullptr, &count),
              MMDR_INVALID_HANDLE);
    EXPECT_EQ(Mmdr().EnumDevices(handle, MMDR_DEVICE_VIDEO, 0, nullptr, nullptr),
              MMDR_INVALID_HANDLE);
    EXPECT_EQ(Mmdr().GetPrefDev(handle, 9, 9, nullptr), MMDR_INVALID_HANDLE);
    EXPECT_EQ(Mmdr().SetPrefDev(handle, 9, "x", "y"), MMDR_INVALID_HANDLE);
    EXPECT_EQ(Mmdr().GetAudioInSelectOption(handle, nullptr), MMDR_INVALID_HANDLE);
    EXPECT_EQ(Mmdr().GetAudioInSelectOption(handle, &option), MMDR_INVALID_HANDLE);
    EXPECT_EQ(Mmdr().SetAudioInSelectOption(handle, 1), MMDR_INVALID_HANDLE);
    EXPECT_EQ(count, 77u);
    EXPECT_EQ(option, 77u);
    EXPECT_EQ(enabled, 77);
  }
}

TEST(MmdrEnumDevices, ChecksKindBeforeHandleAndCountPointerAfterHandle) {
  ScopedMmdrHandle handle;
  FakeHandleBlock dead;
  dead.refCount = 0;
  for (MmdrDeviceKind kind : {0, 3, -1}) {
    for (MmdrHandle* h : {static_cast<MmdrHandle*>(nullptr), dead.handle(), handle.get()}) {
      std::uint32_t count = 77;
      EXPECT_EQ(Mmdr().EnumDevices(h, kind, 0, nullptr, &count), MMDR_INVALID_ARGUMENT)
          << "kind " << kind;
      EXPECT_EQ(count, 77u);
    }
  }
  EXPECT_EQ(Mmdr().EnumDevices(handle.get(), MMDR_DEVICE_AUDIO, 0, nullptr, nullptr),
            MMDR_INVALID_ARGUMENT);
}

TEST(MmdrGetPrefDev, ChecksOutputThenKindThenFieldAndLeavesTheFieldAlone) {
  ScopedMmdrHandle handle;
  struct Case {
    MmdrDeviceKind kind;
    MmdrPrefField field;
    bool nullOutput;
    MmdrResult expected;
  };
  const Case cases[] = {
      {9, 9, true, MMDR_NO_DATA},  // the output pointer is looked at before the kind
      {1, 0, true, MMDR_NO_DATA},
      {3, 7, false, MMDR_INVALID_DEVICE_KIND},
      {0, 0, false, MMDR_INVALID_DEVICE_KIND},
      {1, 2, false, MMDR_INVALID_FIELD},
      {2, -1, false, MMDR_INVALID_FIELD},
  };
  for (const Case& c : cases) {
    char text[MMDR_TEXT_FIELD_SIZE];
    std::memset(text, 0xCD, sizeof text);
    EXPECT_EQ(Mmdr().GetPrefDev(handle.get(), c.kind, c.field, c.nullOutput ? nullptr : text),
              c.expected)
        << "kind " << c.kind << " field " << c.field;
    EXPECT_EQ(std::vector<char>(text, text + sizeof text), std::vector<char>(sizeof text, '\xCD'));
  }
}

TEST(MmdrSetPrefDev, RejectsAnUnknownKindAndWritesNothing) {
  ScopedMmdrHandle handle;
  ScopedRegistryValue webcamId(HKEY_CURRENT_USER, L"srcWCamId");
  ScopedRegistryValue micId(HKEY_CURRENT_USER, L"srcAudioInId");
  webcamId.Remove();
  micId.Remove();
  for (MmdrDeviceKind kind : {0, 3}) {
    EXPECT_EQ(Mmdr().SetPrefDev(handle.get(), kind, "id", "name"), MMDR_INVALID_DEVICE_KIND);
  }
  EXPECT_FALSE(ReadRegistryValue(HKEY_CURRENT_USER, kKestrelKeyPath, L"srcWCamId"));
  EXPECT_FALSE(ReadRegistryValue(HKEY_CURRENT_USER, kKestrelKeyPath, L"srcAudioInId"));
}

TEST(MmdrIsEnabled, ReportsTheMachineSwitchOnly) {
  ScopedMmdrHandle handle;
  ScopedRegistryValue machine(HKEY_LOCAL_MACHINE, L"IsDisabled");
  ScopedRegistryValue user(HKEY_CURRENT_USER, L"IsDisabled");
  user.SetDword(1);  // a user's value is not consulted
  EXPECT_EQ(Mmdr().IsEnabled(handle.get(), nullptr), MMDR_NO_DATA);

  struct Case {
    const char* what;
    void (*set)(ScopedRegistryValue&);
    std::uint8_t expected;
  };
  const Case cases[] = {
      {"absent", [](ScopedRegistryValue& v) { v.Remove(); }, 1},
      {"DWORD 1", [](ScopedRegistryValue& v) { v.SetDword(1); }, 0},
      {"text TRUE", [](ScopedRegistryValue& v) { v.SetString(L"TRUE"); }, 0},
      {"DWORD 0", [](ScopedRegistryValue& v) { v.SetDword(0); }, 1},
  };
  for (const Case& c : cases) {
    c.set(machine);
    std::uint8_t enabled = 0xAA;
    EXPECT_EQ(Mmdr().IsEnabled(handle.get(), &enabled), MMDR_OK) << c.what;
    EXPECT_EQ(enabled, c.expected) << c.what;
  }
}

TEST(MmdrAudioInOption, StoresAnyValueAndJudgesTheRangeOnlyWhenRead) {
  ScopedMmdrHandle handle;
  ScopedRegistryValue stored(HKEY_CURRENT_USER, L"srcAudioInOption");
  stored.Remove();
  std::uint32_t option = 77;
  EXPECT_EQ(Mmdr().GetAudioInSelectOption(handle.get(), &option), MMDR_OK);
  EXPECT_EQ(option, 0u) << "nothing stored reads as 0";
  EXPECT_EQ(Mmdr().GetAudioInSelectOption(handle.get(), nullptr), MMDR_NO_DATA);

  struct Case {
    std::uint32_t value;
    MmdrResult readResult;
  };
  for (const Case& c : {Case{2, MMDR_OK}, Case{3, MMDR_FAILED}, Case{5, MMDR_FAILED}}) {
    EXPECT_EQ(Mmdr().SetAudioInSelectOption(handle.get(), c.value), MMDR_OK) << c.value;
    const auto raw = ReadRegistryValue(HKEY_CURRENT_USER, kKestrelKeyPath, L"srcAudioInOption");
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->type, static_cast<DWORD>(REG_DWORD));
    option = 77;
    EXPECT_EQ(Mmdr().GetAudioInSelectOption(handle.get(), &option), c.readResult) << c.value;
    EXPECT_EQ(option, c.value) << "the number is delivered even when out of range";
  }
}

}  // namespace
}  // namespace kestrel_test
