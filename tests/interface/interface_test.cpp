// The exported calls: argument checks in their documented order, handles, the device
// buffer and its text fields, the option and the feature switch.
#include <gtest/gtest.h>

#include <cstring>
#include <cstdlib>
#include <functional>
#include <new>

#include "support/devices.h"
#include "support/log_capture.h"
#include "support/settings_scope.h"
#include "support/webcam_fixture.h"

#ifndef _WIN32
// Under ASan, a freed block goes back to use at once, as it does without it, so that the
// closed handle's block is handed out again below.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
  return "quarantine_size_mb=0:thread_local_quarantine_size_kb=0";
}
#endif

namespace kestrel_test {
namespace {

// A block laid out like a handle: magic, refCount, mode.
struct Block {
  std::uint32_t magic = 0x72646D6D;
  std::int32_t refCount = 1;
  std::int32_t mode = 1;
  MmdrHandle* handle() { return reinterpret_cast<MmdrHandle*>(this); }
};

// Every output a call could write, filled with a guard value.
struct Outputs {
  std::uint32_t count = 77, option = 77;
  std::uint8_t enabled = 77;
  char text[MMDR_TEXT_FIELD_SIZE];
  MmdrHandle* handle = reinterpret_cast<MmdrHandle*>(0x77);
  Outputs() { std::memset(text, 0x77, sizeof text); }
  bool Untouched() const {
    Outputs fresh;
    return count == 77 && option == 77 && enabled == 77 && handle == fresh.handle &&
           std::memcmp(text, fresh.text, sizeof text) == 0;
  }
};

using Call = std::function<MmdrResult(MmdrHandle*, Outputs&)>;

// Each call with a bad handle and otherwise bad arguments too: the handle goes first.
const std::vector<Call> kCallsWithBadArguments = {
    [](MmdrHandle* h, Outputs&) { return Mmdr_IsValid(h); },
    [](MmdrHandle* h, Outputs&) { return Mmdr_IsEnabled(h, nullptr); },
    [](MmdrHandle* h, Outputs& o) { return Mmdr_IsEnabled(h, &o.enabled); },
    [](MmdrHandle* h, Outputs&) { return Mmdr_EnumDevices(h, 1, 0, nullptr, nullptr); },
    [](MmdrHandle* h, Outputs& o) { return Mmdr_EnumDevices(h, 2, 0, nullptr, &o.count); },
    [](MmdrHandle* h, Outputs&) { return Mmdr_GetPrefDev(h, 9, 9, nullptr); },
    [](MmdrHandle* h, Outputs& o) { return Mmdr_GetPrefDev(h, 1, 0, o.text); },
    [](MmdrHandle* h, Outputs&) { return Mmdr_SetPrefDev(h, 9, "id", "name"); },
    [](MmdrHandle* h, Outputs&) { return Mmdr_GetAudioInSelectOption(h, nullptr); },
    [](MmdrHandle* h, Outputs& o) { return Mmdr_GetAudioInSelectOption(h, &o.option); },
    [](MmdrHandle* h, Outputs&) { return Mmdr_SetAudioInSelectOption(h, 1); },
};

TEST(Exports, BadHandlesFailFirstAndAreNeverTouched) {
  SettingsScope scope;
  // A closed handle whose memory the heap has handed out again, laid out as a live one.
  MmdrHandle* closed = nullptr;
  ASSERT_EQ(Mmdr_Init(MMDR_MODE_1, &closed), MMDR_OK);
  Mmdr_Uninit(closed);
  std::vector<void*> reused;
  while (reused.size() < 64 && (reused.empty() || reused.back() != closed))
    reused.push_back(std::malloc(sizeof(Block)));
  ASSERT_EQ(reused.back(), closed) << "the heap gives the closed block out again";
  Block* const revived = new (closed) Block;
  std::vector<Block> blocks(8);  // the last one well formed, but never opened
  for (int byte = 0; byte < 4; ++byte)
    reinterpret_cast<std::uint8_t*>(&blocks[byte].magic)[byte] ^= 0x20;
  blocks[4].refCount = 0;
  blocks[5].refCount = -1;
  blocks[6].refCount = INT32_MIN;
  const std::vector<Block> before = blocks;
  std::vector<MmdrHandle*> handles = {nullptr, revived->handle()};
  for (Block& block : blocks) handles.push_back(block.handle());
  for (std::size_t h = 0; h < handles.size(); ++h) {
    for (std::size_t c = 0; c < kCallsWithBadArguments.size(); ++c) {
      Outputs outputs;
      EXPECT_EQ(kCallsWithBadArguments[c](handles[h], outputs), MMDR_INVALID_HANDLE)
          << "handle " << h << " call " << c;
      EXPECT_TRUE(outputs.Untouched()) << "handle " << h << " call " << c;
    }
    Mmdr_Uninit(handles[h]);  // a second close too, for the closed one
  }
  EXPECT_EQ(std::memcmp(blocks.data(), before.data(), blocks.size() * sizeof(Block)), 0);
  EXPECT_EQ(revived->refCount, 1);
  for (void* block : reused) std::free(block);
  EXPECT_FALSE(SettingsScope::Read(Store::User, "srcAudioInOption"));
}

TEST(Exports, EachCallChecksItsArgumentsInTheDocumentedOrder) {
  SettingsScope scope;
  ScopedMmdrHandle good;
  Block dead;
  dead.refCount = 0;
  struct Case {
    const char* what;
    std::function<MmdrResult(Outputs&)> call;
    MmdrResult expected;
  };
  MmdrHandle* h = good.get();
  MmdrHandle* const d = dead.handle();
  const Case cases[] = {
      {"Init: handleOut first", [](Outputs&) { return Mmdr_Init(5, nullptr); }, 3},
      {"Init: mode 0", [](Outputs& o) { return Mmdr_Init(0, &o.handle); }, 8},
      {"Init: mode 3", [](Outputs& o) { return Mmdr_Init(3, &o.handle); }, 8},
      {"Enum: kind first", [&](Outputs& o) { return Mmdr_EnumDevices(d, 0, 0, nullptr, &o.count); },
       3},
      {"Enum: kind 3", [&](Outputs& o) { return Mmdr_EnumDevices(d, 3, 0, nullptr, &o.count); }, 3},
      {"Enum: then countOut", [&](Outputs&) { return Mmdr_EnumDevices(h, 1, 0, nullptr, nullptr); },
       3},
      {"GetPrefDev: output", [&](Outputs&) { return Mmdr_GetPrefDev(h, 9, 9, nullptr); }, 11},
      {"GetPrefDev: kind 3 field 7", [&](Outputs& o) { return Mmdr_GetPrefDev(h, 3, 7, o.text); },
       4},
      {"GetPrefDev: kind 0", [&](Outputs& o) { return Mmdr_GetPrefDev(h, 0, 0, o.text); }, 4},
      {"GetPrefDev: then field", [&](Outputs& o) { return Mmdr_GetPrefDev(h, 1, 2, o.text); }, 5},
      {"GetPrefDev: field -1", [&](Outputs& o) { return Mmdr_GetPrefDev(h, 2, -1, o.text); }, 5},
      {"SetPrefDev: kind 3", [&](Outputs&) { return Mmdr_SetPrefDev(h, 3, "id", "name"); }, 4},
      {"SetPrefDev: kind 0", [&](Outputs&) { return Mmdr_SetPrefDev(h, 0, "id", "name"); }, 4},
      {"GetOption: output", [&](Outputs&) { return Mmdr_GetAudioInSelectOption(h, nullptr); }, 11},
      {"IsEnabled: output", [&](Outputs&) { return Mmdr_IsEnabled(h, nullptr); }, 11},
  };
  for (const Case& c : cases) {
    Outputs outputs;
    EXPECT_EQ(c.call(outputs), c.expected) << c.what;
    EXPECT_TRUE(outputs.Untouched()) << c.what;
  }
  for (const char* name : {"srcWCamId", "srcWCamName", "srcAudioInId", "srcAudioInName"}) {
    EXPECT_FALSE(SettingsScope::Read(Store::User, name)) << "an unknown kind writes nothing";
  }
}

TEST(Exports, EntriesFillExactlyCountTimes520BytesByTheFieldRule) {
  const std::string longPath = LongWebcamPath();
  // A character outside the BMP where the conversion's first chunk of 64 UTF-16 units ends
  // (within a V4L2 card's 32 bytes on Linux), and U+0080, the first of two bytes.
#ifdef _WIN32
  const std::string longName = std::string(63, 'L') + "\xF0\x9F\x98\x80";
#else
  const std::string longName = std::string(28, 'L') + "\xF0\x9F\x98\x80";
#endif
  const std::string dup = "Dup\xC2\x80";
  WebcamFixture webcams({{longName, longPath}, {dup, "p2"}, {dup, "p3"}});
  ScopedMmdrHandle handle;
  constexpr std::uint32_t kBytes = 3 * MMDR_ENTRY_SIZE;
  std::vector<char> buffer(kBytes + MMDR_ENTRY_SIZE, '\x77');
  std::uint32_t count = 0;
  EXPECT_EQ(Mmdr_EnumDevices(handle.get(), 1, kBytes, nullptr, &count), MMDR_BUFFER_TOO_SMALL);
  EXPECT_EQ(count, 3u);
  count = 0;
  EXPECT_EQ(Mmdr_EnumDevices(handle.get(), 1, kBytes - 1, buffer.data(), &count),
            MMDR_BUFFER_TOO_SMALL);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(buffer, std::vector<char>(buffer.size(), '\x77'));
  ASSERT_EQ(Mmdr_EnumDevices(handle.get(), 1, kBytes, buffer.data(), &count), MMDR_OK);
  ASSERT_EQ(Mmdr_EnumDevices(handle.get(), 1, buffer.size(), buffer.data(), &count), MMDR_OK);

  auto field = [&](std::uint32_t entry, std::uint32_t offset) {
    return std::string(&buffer[entry * MMDR_ENTRY_SIZE + offset], MMDR_TEXT_FIELD_SIZE);
  };
  auto expected = [](const std::string& text) {  // 259 written bytes, then the guard
    return (text + std::string(259, '\0')).substr(0, 259) + '\x77';
  };
  EXPECT_EQ(field(0, 0) + field(0, 260),
            expected(WebcamFixture::Id(longPath)) + expected(longName));
  EXPECT_EQ(field(1, 0) + field(1, 260), expected(WebcamFixture::Id("p2")) + expected(dup));
  EXPECT_EQ(field(2, 0) + field(2, 260), expected(WebcamFixture::Id("p3")) + expected(dup));
  EXPECT_EQ(std::string(&buffer[kBytes], MMDR_ENTRY_SIZE), std::string(MMDR_ENTRY_SIZE, '\x77'));
}

TEST(Exports, TheOptionIsStoredWhateverItIsAndJudgedWhenRead) {
  SettingsScope scope;
  ScopedMmdrHandle handle;
  std::uint32_t option = 77;
  EXPECT_EQ(Mmdr_GetAudioInSelectOption(handle.get(), &option), MMDR_OK);
  EXPECT_EQ(option, 0u);
  for (std::uint32_t value : {2u, 3u, 5u}) {
    EXPECT_EQ(Mmdr_SetAudioInSelectOption(handle.get(), value), MMDR_OK);
    EXPECT_EQ(Mmdr_GetAudioInSelectOption(handle.get(), &option),
              value <= 2 ? MMDR_OK : MMDR_FAILED);
    EXPECT_EQ(option, value);
    const std::string why = "error interface: Mmdr_GetAudioInSelectOption - the stored option " +
                            std::to_string(value) + " is outside 0..2";
    ExpectLogged(ScopedLogThreshold::Lines(), value <= 2 ? "" : why);
  }
  std::uint8_t enabled = 77;
  EXPECT_EQ(Mmdr_IsEnabled(handle.get(), &enabled), MMDR_OK);
  EXPECT_EQ(enabled, 1);
  SettingsScope::PutNumber(Store::Machine, "IsDisabled", 1);
  EXPECT_EQ(Mmdr_IsEnabled(handle.get(), &enabled), MMDR_OK);
  EXPECT_EQ(enabled, 0);
}

}  // namespace
}  // namespace kestrel_test
