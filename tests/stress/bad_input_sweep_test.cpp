// Bad input through the exported calls: every combination of the argument checks,
// garbage handles, hostile texts for Mmdr_SetPrefDev, and registry values of every
// type and size under every name the library reads. Each call must answer with its
// documented code, write only where its contract says (guard bytes around every
// output, outputs untouched on error codes), and leave the process running.
#include <gtest/gtest.h>

#include <windows.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "devices/dsound_lib.h"
#include "kestrelCliLib.h"
#include "stress/stress_support.h"
#include "support/registry_scratch.h"
#include "support/webcam_fixture.h"

namespace {

using kestrel_stress::DeviceEntry;
using kestrel_stress::FieldText;
using kestrel_test::ScopedRegistryValue;

constexpr std::uint32_t kMagic = 0x72646D6D;
constexpr std::uint8_t kFill = 0xA5;
constexpr std::size_t kGuard = 16;
constexpr MmdrDeviceKind kKinds[] = {-1, 0, 1, 2, 3, INT_MAX, INT_MIN};

bool IsKind(MmdrDeviceKind kind) { return kind == 1 || kind == 2; }

// An output buffer with guard bytes on both sides, all of it filled with kFill.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(std::size_t size) : bytes_(kGuard + size + kGuard, kFill), size_(size) {}
  std::uint8_t* data() { return bytes_.data() + kGuard; }
  char* text() { return reinterpret_cast<char*>(data()); }
  // True when no byte from offset (within the buffer) to the end of the rear guard, and
  // none of the front guard, changed.
  bool UntouchedFrom(std::size_t offset) const {
    for (std::size_t i = 0; i < kGuard; ++i) {
      if (bytes_[i] != kFill) return false;
    }
    for (std::size_t i = kGuard + offset; i < bytes_.size(); ++i) {
      if (bytes_[i] != kFill) return false;
    }
    return true;
  }
  bool Untouched() const { return UntouchedFrom(0); }
  std::size_t size() const { return size_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t size_;
};

// The text rule of one 260-byte field holding `expected` (cut at 259 bytes): the text,
// zeros up to byte 258, byte 259 as the caller left it.
::testing::AssertionResult FieldHolds(const char* field, const std::string& expected) {
  const std::string cut = expected.substr(0, MMDR_TEXT_FIELD_SIZE - 1);
  if (std::memcmp(field, cut.data(), cut.size()) != 0) {
    return ::testing::AssertionFailure() << "field holds '" << FieldText(field)
                                         << "' instead of '" << cut << "'";
  }
  for (std::size_t i = cut.size(); i < MMDR_TEXT_FIELD_SIZE - 1; ++i) {
    if (field[i] != 0) return ::testing::AssertionFailure() << "byte " << i << " not zero";
  }
  if (static_cast<std::uint8_t>(field[MMDR_TEXT_FIELD_SIZE - 1]) != kFill) {
    return ::testing::AssertionFailure() << "byte 259 written";
  }
  return ::testing::AssertionSuccess();
}

std::wstring Wide(const std::string& text) {
  // The conversion a caller's UTF-8 should undergo: code page 65001, flags 0.
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (size <= 0) return {};
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), size);
  return out.substr(0, out.find(L'\0'));
}

// A REG_SZ value as stored (type and text up to the first NUL); "<absent>" or
// "<type N>" otherwise.
std::wstring StoredText(HKEY root, const wchar_t* valueName) {
  const auto value = kestrel_test::ReadRegistryValue(root, kKestrelKeyPath, valueName);
  if (!value) return L"<absent>";
  if (value->type != REG_SZ) return L"<type " + std::to_wstring(value->type) + L">";
  std::wstring text(value->bytes.size() / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), value->bytes.data(), text.size() * sizeof(wchar_t));
  return text.substr(0, text.find(L'\0'));
}

struct HandleCase {
  std::string label;
  MmdrHandle* handle;
  bool valid;
};

// Registry isolation for every value the library reads, under both roots.
class RegistryIsolation {
 public:
  RegistryIsolation() {
    for (const wchar_t* name : {L"IsDisabled", L"EnableAInWasapi"}) Add(HKEY_LOCAL_MACHINE, name);
    Add(HKEY_CURRENT_USER, L"srcAudioInOption");
    for (const wchar_t* name : {L"srcWCamId", L"srcWCamName", L"srcAudioInId", L"srcAudioInName"}) {
      Add(HKEY_CURRENT_USER, name);
      Add(HKEY_LOCAL_MACHINE, name);
    }
  }

 private:
  void Add(HKEY root, const wchar_t* name) {
    values_.push_back(std::make_unique<ScopedRegistryValue>(root, name));
    values_.back()->Remove();
  }
  std::vector<std::unique_ptr<ScopedRegistryValue>> values_;
};

class BadInputSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 2; ++i) {
      const std::wstring n = std::to_wstring(i);
      ASSERT_FALSE(webcams_
                       .Add(kestrel_test::WebcamSpec::Complete(
                           L"Sweep Cam " + n + L" " + webcams_.token(),
                           L"\\\\?\\sweep#cam" + n + L"#" + webcams_.token()))
                       .empty());
    }
    ASSERT_EQ(Mmdr_Init(1, &handle_), MMDR_OK);
    bool failure = false;
    video_ = kestrel_stress::ListDevices(handle_, MMDR_DEVICE_VIDEO, &failure);
    ASSERT_FALSE(failure);
    audio_ = kestrel_stress::ListDevices(handle_, MMDR_DEVICE_AUDIO, &failure);
    ASSERT_FALSE(failure);
    ASSERT_GE(video_.size(), 2u);
    ASSERT_FALSE(audio_.empty()) << "the Wine prefix provides fixture microphones";
  }
  void TearDown() override {
    if (handle_ != nullptr) Mmdr_Uninit(handle_);
  }

  const std::vector<DeviceEntry>& Devices(MmdrDeviceKind kind) const {
    return kind == MMDR_DEVICE_VIDEO ? video_ : audio_;
  }

  // Whether text is the id (field 1) or name (field 0) of a device in the list.
  static bool IsFieldOfAny(const std::vector<DeviceEntry>& devices, MmdrPrefField field,
                           const std::string& text) {
    for (const DeviceEntry& device : devices) {
      const std::string& candidate = field == MMDR_PREF_ID ? device.id : device.name;
      if (candidate.substr(0, MMDR_TEXT_FIELD_SIZE - 1) == text) return true;
    }
    return false;
  }

  // Mmdr_GetPrefDev with a valid handle and kind: 0 with a present device's text laid
  // out by the text rule, or 11 with the field untouched.
  void ExpectLookupSound(MmdrDeviceKind kind, MmdrPrefField field,
                         const std::vector<DeviceEntry>& present, const std::string& context) {
    GuardedBuffer out(MMDR_TEXT_FIELD_SIZE);
    const MmdrResult result = Mmdr_GetPrefDev(handle_, kind, field, out.text());
    if (result == MMDR_NO_DATA) {
      EXPECT_TRUE(out.Untouched()) << context;
      return;
    }
    ASSERT_EQ(result, MMDR_OK) << context;
    const std::string text = FieldText(out.text());
    EXPECT_TRUE(IsFieldOfAny(present, field, text)) << context << ": delivered '" << text << "'";
    EXPECT_TRUE(FieldHolds(out.text(), text)) << context;
    EXPECT_TRUE(out.UntouchedFrom(MMDR_TEXT_FIELD_SIZE - 1)) << context;
  }

  RegistryIsolation registry_;
  kestrel_test::WebcamFixture webcams_;
  MmdrHandle* handle_ = nullptr;
  std::vector<DeviceEntry> video_;
  std::vector<DeviceEntry> audio_;
};

// Heap blocks that are not live handles: right magic with refCount 0, -1 and INT_MIN;
// a live-looking block with one byte of the magic changed; random bytes.
class BadHandleBlocks {
 public:
  BadHandleBlocks() {
    for (std::int32_t refCount : {0, -1, INT_MIN}) {
      Add("magic, refCount " + std::to_string(refCount), kMagic, refCount);
    }
    for (int byte = 0; byte < 4; ++byte) {
      Add("magic byte " + std::to_string(byte) + " changed", kMagic ^ (0x20u << (8 * byte)), 1);
    }
    std::mt19937 random(1234);
    std::vector<std::uint8_t> bytes(64);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    bytes[0] ^= 0xFF;  // never the magic
    AddRaw("random bytes", bytes);
  }
  ~BadHandleBlocks() {
    for (Block& block : blocks_) std::free(block.memory);
  }
  BadHandleBlocks(const BadHandleBlocks&) = delete;
  BadHandleBlocks& operator=(const BadHandleBlocks&) = delete;

  std::vector<HandleCase> Cases() const {
    std::vector<HandleCase> cases;
    for (const Block& block : blocks_) {
      cases.push_back({block.label, static_cast<MmdrHandle*>(block.memory), false});
    }
    return cases;
  }
  // Every block still holds the bytes it was given.
  ::testing::AssertionResult Unchanged() const {
    for (const Block& block : blocks_) {
      if (std::memcmp(block.memory, block.original.data(), block.original.size()) != 0) {
        return ::testing::AssertionFailure() << "block '" << block.label << "' was written";
      }
    }
    return ::testing::AssertionSuccess();
  }

 private:
  struct Block {
    std::string label;
    void* memory;
    std::vector<std::uint8_t> original;
  };
  void Add(const std::string& label, std::uint32_t magic, std::int32_t refCount) {
    std::vector<std::uint8_t> bytes(12);
    const std::int32_t mode = 1;
    std::memcpy(&bytes[0], &magic, 4);
    std::memcpy(&bytes[4], &refCount, 4);
    std::memcpy(&bytes[8], &mode, 4);
    AddRaw(label, bytes);
  }
  void AddRaw(const std::string& label, const std::vector<std::uint8_t>& bytes) {
    void* memory = std::malloc(bytes.size());
    std::memcpy(memory, bytes.data(), bytes.size());
    blocks_.push_back({label, memory, bytes});
  }
  std::vector<Block> blocks_;
};

TEST_F(BadInputSweep, EveryCallChecksItsArgumentsInOrder) {
  BadHandleBlocks blocks;
  std::vector<HandleCase> handles = blocks.Cases();
  handles.push_back({"null", nullptr, false});
  handles.push_back({"valid", handle_, true});
  // The stored preferences name a present device of each kind, so valid lookups find one.
  ScopedRegistryValue camId(HKEY_CURRENT_USER, L"srcWCamId");
  ScopedRegistryValue micId(HKEY_CURRENT_USER, L"srcAudioInId");
  camId.SetString(Wide(video_[1].id));
  micId.SetString(Wide(audio_.back().id));
  const DeviceEntry* preferred[3] = {nullptr, &video_[1], &audio_.back()};

  for (const HandleCase& h : handles) {
    SCOPED_TRACE("handle: " + h.label);
    EXPECT_EQ(Mmdr_IsValid(h.handle), h.valid ? MMDR_OK : MMDR_INVALID_HANDLE);

    for (bool nullOut : {true, false}) {
      GuardedBuffer enabled(1);
      const MmdrResult result = Mmdr_IsEnabled(h.handle, nullOut ? nullptr : enabled.data());
      EXPECT_EQ(result, !h.valid ? MMDR_INVALID_HANDLE : nullOut ? MMDR_NO_DATA : MMDR_OK);
      if (result == MMDR_OK) {
        EXPECT_EQ(enabled.data()[0], 1) << "\"IsDisabled\" is absent";
        EXPECT_TRUE(enabled.UntouchedFrom(1));
      } else {
        EXPECT_TRUE(enabled.Untouched());
      }
    }

    // Mmdr_EnumDevices: kind (3), handle (2), countOut (3), then the count is stored
    // and a null or short buffer gives 1 with the buffer untouched.
    enum Buffer { kNull, kShort, kExact, kLarge };
    for (MmdrDeviceKind kind : kKinds) {
      for (Buffer buffer : {kNull, kShort, kExact, kLarge}) {
        for (bool nullCount : {true, false}) {
          SCOPED_TRACE("EnumDevices kind " + std::to_string(kind) + " buffer " +
                       std::to_string(buffer) + (nullCount ? " null count" : ""));
          const std::size_t devices = IsKind(kind) ? Devices(kind).size() : 1;
          const std::size_t needed = devices * MMDR_ENTRY_SIZE;
          GuardedBuffer entries(needed + MMDR_ENTRY_SIZE);
          GuardedBuffer count(sizeof(std::uint32_t));
          const std::uint32_t size = static_cast<std::uint32_t>(
              buffer == kShort ? needed - 1 : buffer == kLarge ? needed + MMDR_ENTRY_SIZE : needed);
          const MmdrResult result = Mmdr_EnumDevices(
              h.handle, kind, size, buffer == kNull ? nullptr : entries.data(),
              nullCount ? nullptr : reinterpret_cast<std::uint32_t*>(count.data()));
          const MmdrResult expected =
              !IsKind(kind)                          ? MMDR_INVALID_ARGUMENT
              : !h.valid                             ? MMDR_INVALID_HANDLE
              : nullCount                            ? MMDR_INVALID_ARGUMENT
              : buffer == kNull || buffer == kShort ? MMDR_BUFFER_TOO_SMALL
                                                     : MMDR_OK;
          ASSERT_EQ(result, expected);
          if (result == MMDR_OK || result == MMDR_BUFFER_TOO_SMALL) {
            std::uint32_t delivered;
            std::memcpy(&delivered, count.data(), sizeof delivered);
            EXPECT_EQ(delivered, devices);
            EXPECT_TRUE(count.UntouchedFrom(sizeof delivered));
          } else {
            EXPECT_TRUE(count.Untouched());
          }
          if (result != MMDR_OK) {
            EXPECT_TRUE(entries.Untouched());
            continue;
          }
          const auto* out = reinterpret_cast<const MmdrDeviceEntry*>(entries.data());
          for (std::size_t i = 0; i < devices; ++i) {
            EXPECT_TRUE(FieldHolds(out[i].id, Devices(kind)[i].id)) << "entry " << i;
            EXPECT_TRUE(FieldHolds(out[i].name, Devices(kind)[i].name)) << "entry " << i;
          }
          EXPECT_TRUE(entries.UntouchedFrom(needed)) << "bytes after the entries written";
        }
      }
    }

    // Mmdr_GetPrefDev: handle (2), textOut (11), kind (4), field (5).
    for (MmdrDeviceKind kind : kKinds) {
      for (MmdrPrefField field : {-1, 0, 1, 2, INT_MAX}) {
        for (bool nullOut : {true, false}) {
          SCOPED_TRACE("GetPrefDev kind " + std::to_string(kind) + " field " +
                       std::to_string(field) + (nullOut ? " null out" : ""));
          GuardedBuffer out(MMDR_TEXT_FIELD_SIZE);
          const MmdrResult result =
              Mmdr_GetPrefDev(h.handle, kind, field, nullOut ? nullptr : out.text());
          const MmdrResult expected = !h.valid                    ? MMDR_INVALID_HANDLE
                                      : nullOut                   ? MMDR_NO_DATA
                                      : !IsKind(kind)             ? MMDR_INVALID_DEVICE_KIND
                                      : field != 0 && field != 1 ? MMDR_INVALID_FIELD
                                                                  : MMDR_OK;
          ASSERT_EQ(result, expected);
          if (result != MMDR_OK) {
            EXPECT_TRUE(out.Untouched());
            continue;
          }
          const DeviceEntry& device = *preferred[kind];
          EXPECT_TRUE(FieldHolds(out.text(), field == MMDR_PREF_ID ? device.id : device.name));
          EXPECT_TRUE(out.UntouchedFrom(MMDR_TEXT_FIELD_SIZE - 1));
        }
      }
    }

    // Mmdr_SetPrefDev: handle (2), kind (4), and nothing stored on either.
    const char* texts[] = {nullptr, "", "sweep"};
    const wchar_t* names[] = {L"srcWCamId", L"srcWCamName", L"srcAudioInId", L"srcAudioInName"};
    std::vector<std::unique_ptr<ScopedRegistryValue>> stored;
    for (const wchar_t* name : names) {
      stored.push_back(std::make_unique<ScopedRegistryValue>(HKEY_CURRENT_USER, name));
    }
    for (MmdrDeviceKind kind : kKinds) {
      for (const char* id : texts) {
        for (const char* name : texts) {
          SCOPED_TRACE("SetPrefDev kind " + std::to_string(kind) + " id " +
                       (id ? "'" + std::string(id) + "'" : "null") + " name " +
                       (name ? "'" + std::string(name) + "'" : "null"));
          for (auto& value : stored) value->SetString(L"before");
          const MmdrResult result = Mmdr_SetPrefDev(h.handle, kind, id, name);
          ASSERT_EQ(result, !h.valid ? MMDR_INVALID_HANDLE
                            : !IsKind(kind) ? MMDR_INVALID_DEVICE_KIND
                                            : MMDR_OK);
          std::wstring expected[4] = {L"before", L"before", L"before", L"before"};
          if (result == MMDR_OK && kind == MMDR_DEVICE_VIDEO) {
            expected[0] = Wide(id ? id : "");
            expected[1] = Wide(name ? name : "");
          } else if (result == MMDR_OK) {
            // A microphone's name goes only with a non-empty id.
            expected[2] = Wide(id ? id : "");
            expected[3] = id && *id && name ? Wide(name) : L"";
          }
          for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(StoredText(HKEY_CURRENT_USER, names[i]), expected[i]) << "value " << i;
          }
        }
      }
    }
    stored.clear();
    camId.SetString(Wide(video_[1].id));
    micId.SetString(Wide(audio_.back().id));

    // The option calls: handle (2), optionOut (11); a failed set stores nothing.
    ScopedRegistryValue option(HKEY_CURRENT_USER, L"srcAudioInOption");
    for (std::uint32_t value : {0u, 2u, 3u, 0xFFFFFFFFu}) {
      SCOPED_TRACE("option " + std::to_string(value));
      option.SetDword(1);
      ASSERT_EQ(Mmdr_SetAudioInSelectOption(h.handle, value),
                h.valid ? MMDR_OK : MMDR_INVALID_HANDLE);
      const std::uint32_t stored = h.valid ? value : 1;
      for (bool nullOut : {true, false}) {
        GuardedBuffer out(sizeof(std::uint32_t));
        const MmdrResult result = Mmdr_GetAudioInSelectOption(
            h.handle, nullOut ? nullptr : reinterpret_cast<std::uint32_t*>(out.data()));
        ASSERT_EQ(result, !h.valid      ? MMDR_INVALID_HANDLE
                          : nullOut     ? MMDR_NO_DATA
                          : stored <= 2 ? MMDR_OK
                                        : MMDR_FAILED);
        if (result == MMDR_OK || result == MMDR_FAILED) {
          std::uint32_t delivered;
          std::memcpy(&delivered, out.data(), sizeof delivered);
          EXPECT_EQ(delivered, stored);
          EXPECT_TRUE(out.UntouchedFrom(sizeof delivered));
        } else {
          EXPECT_TRUE(out.Untouched());
        }
      }
    }
    if (!h.valid) {
      Mmdr_Uninit(h.handle);  // returns without effect
    }
  }
  EXPECT_TRUE(blocks.Unchanged());
  EXPECT_EQ(Mmdr_IsValid(handle_), MMDR_OK);

  // Mmdr_Init: handleOut null (3) before mode (8); the caller's pointer stays unchanged.
  for (std::int32_t mode : {-1, 0, 1, 2, 3, INT_MAX, INT_MIN}) {
    for (bool nullOut : {true, false}) {
      SCOPED_TRACE("Init mode " + std::to_string(mode) + (nullOut ? " null out" : ""));
      GuardedBuffer out(sizeof(MmdrHandle*));
      const MmdrResult result =
          Mmdr_Init(mode, nullOut ? nullptr : reinterpret_cast<MmdrHandle**>(out.data()));
      ASSERT_EQ(result, nullOut                  ? MMDR_INVALID_ARGUMENT
                        : mode != 1 && mode != 2 ? MMDR_INVALID_MODE
                                                 : MMDR_OK);
      if (result != MMDR_OK) {
        EXPECT_TRUE(out.Untouched());
        continue;
      }
      MmdrHandle* opened;
      std::memcpy(&opened, out.data(), sizeof opened);
      EXPECT_TRUE(out.UntouchedFrom(sizeof opened));
      EXPECT_EQ(Mmdr_IsValid(opened), MMDR_OK);
      Mmdr_Uninit(opened);
    }
  }
}

TEST_F(BadInputSweep, RandomHeapBlocksAreRefusedAndLeftAsTheyWere) {
  ScopedRegistryValue camId(HKEY_CURRENT_USER, L"srcWCamId");
  ScopedRegistryValue option(HKEY_CURRENT_USER, L"srcAudioInOption");
  camId.SetString(L"before");
  option.SetDword(1);
  std::mt19937 random(20261206);
  for (int i = 0; i < 300; ++i) {
    const std::size_t size = 12 + random() % 245;
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    std::uint32_t first;
    std::memcpy(&first, bytes.data(), 4);
    if (i % 3 == 0) {
      // The right magic with a count that is not live: 0 or a random negative number.
      const std::int32_t refCount =
          i % 2 == 0 ? 0 : static_cast<std::int32_t>(random() | 0x80000000u);
      std::memcpy(&bytes[0], &kMagic, 4);
      std::memcpy(&bytes[4], &refCount, 4);
    } else if (first == kMagic) {
      bytes[0] ^= 1;
    }
    auto* block = static_cast<std::uint8_t*>(std::malloc(size));
    std::memcpy(block, bytes.data(), size);
    auto* handle = reinterpret_cast<MmdrHandle*>(block);
    SCOPED_TRACE("block " + std::to_string(i) + " of " + std::to_string(size) + " bytes");

    GuardedBuffer enabled(1), entries(MMDR_ENTRY_SIZE * 8), count(4), text(MMDR_TEXT_FIELD_SIZE),
        optionOut(4);
    EXPECT_EQ(Mmdr_IsValid(handle), MMDR_INVALID_HANDLE);
    EXPECT_EQ(Mmdr_IsEnabled(handle, enabled.data()), MMDR_INVALID_HANDLE);
    EXPECT_EQ(Mmdr_EnumDevices(handle, 1 + i % 2, MMDR_ENTRY_SIZE * 8, entries.data(),
                               reinterpret_cast<std::uint32_t*>(count.data())),
              MMDR_INVALID_HANDLE);
    EXPECT_EQ(Mmdr_GetPrefDev(handle, 1 + i % 2, i % 2, text.text()), MMDR_INVALID_HANDLE);
    EXPECT_EQ(Mmdr_SetPrefDev(handle, 1 + i % 2, "garbage-id", "garbage-name"),
              MMDR_INVALID_HANDLE);
    EXPECT_EQ(Mmdr_GetAudioInSelectOption(handle, reinterpret_cast<std::uint32_t*>(optionOut.data())),
              MMDR_INVALID_HANDLE);
    EXPECT_EQ(Mmdr_SetAudioInSelectOption(handle, 2), MMDR_INVALID_HANDLE);
    Mmdr_Uninit(handle);
    EXPECT_TRUE(enabled.Untouched() && entries.Untouched() && count.Untouched() &&
                text.Untouched() && optionOut.Untouched());
    EXPECT_EQ(std::memcmp(block, bytes.data(), size), 0) << "the block was written";
    std::free(block);
  }
  EXPECT_EQ(StoredText(HKEY_CURRENT_USER, L"srcWCamId"), L"before");
  const auto stored = kestrel_test::ReadRegistryValue(HKEY_CURRENT_USER, kKestrelKeyPath,
                                                      L"srcAudioInOption");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->bytes, (std::vector<std::uint8_t>{1, 0, 0, 0}));
}

TEST_F(BadInputSweep, HostileTextsAreStoredAsTheirConversionAndReadBackSafely) {
  std::vector<std::pair<std::string, std::string>> inputs = {
      {"empty", ""},
      {"lone continuation byte", "\x80"},
      {"truncated two-byte sequence", "ab\xC3"},
      {"overlong slash", "\xC0\xAF"},
      {"encoded surrogate", "\xED\xA0\x80x"},
      {"byte above F4", "\xF5\x80\x80\x80"},
      {"FF and FE", "\xFF\xFE"},
      {"five-byte form", "\xF8\x88\x80\x80\x80"},
      {"four-byte character cut", "\xF0\x9F\x98"},
      {"percent signs", "%s%n%x%p"},
      {"10 KiB ASCII", std::string(10240, 'k')},
      {"10 KiB two-byte characters", [] {
         std::string s;
         for (int i = 0; i < 5120; ++i) s += "\xC3\xA9";
         return s;
       }()},
      {"a device id", video_[0].id},
  };
  std::mt19937 random(77);
  for (int i = 0; i < 40; ++i) {
    std::string bytes(1 + random() % 300, '\0');
    for (char& c : bytes) c = static_cast<char>(1 + random() % 255);
    inputs.push_back({"random bytes " + std::to_string(i), bytes});
  }

  int lookups = 0;
  for (const auto& [label, text] : inputs) {
    for (MmdrDeviceKind kind : {MMDR_DEVICE_VIDEO, MMDR_DEVICE_AUDIO}) {
      for (bool asId : {true, false}) {
        SCOPED_TRACE(label + (kind == 1 ? " webcam " : " microphone ") + (asId ? "id" : "name"));
        const char* id = asId ? text.c_str() : "sweep-id";
        const char* name = asId ? "sweep-name" : text.c_str();
        ASSERT_EQ(Mmdr_SetPrefDev(handle_, kind, id, name), MMDR_OK);
        const bool video = kind == MMDR_DEVICE_VIDEO;
        EXPECT_EQ(StoredText(HKEY_CURRENT_USER, video ? L"srcWCamId" : L"srcAudioInId"), Wide(id));
        EXPECT_EQ(StoredText(HKEY_CURRENT_USER, video ? L"srcWCamName" : L"srcAudioInName"),
                  video || *id ? Wide(name) : L"");
        // Reading the preference back (an enumeration) every few inputs keeps it short.
        if (++lookups % 3 == 0) {
          ExpectLookupSound(kind, lookups % 2, Devices(kind), "lookup after " + label);
        }
      }
    }
  }
}

// Registry values of every type and size under every name the library reads, read
// through every call that reads them.
TEST_F(BadInputSweep, RegistryValuesOfEveryTypeAndSize) {
  struct Variant {
    std::string label;
    DWORD type;
    std::vector<std::uint8_t> bytes;
  };
  auto text = [](const std::wstring& units, bool terminated) {
    std::vector<std::uint8_t> bytes((units.size() + (terminated ? 1 : 0)) * 2, 0);
    std::memcpy(bytes.data(), units.data(), units.size() * 2);
    return bytes;
  };
  auto number = [](std::uint64_t value, std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    std::memcpy(bytes.data(), &value, size);
    return bytes;
  };
  // Text built from a present device's id, so that short cuts of it match by containment.
  const std::wstring seed = Wide(video_[0].id) + Wide(audio_[0].id);
  auto cycled = [&](std::size_t length) {
    std::wstring units(length, L'x');
    for (std::size_t i = 0; i < length; ++i) units[i] = seed[i % seed.size()];
    return units;
  };
  std::vector<Variant> variants;
  for (std::uint32_t v : {0u, 1u, 2u, 3u, 0xFFFFFFFFu}) {
    variants.push_back({"REG_DWORD " + std::to_string(v), REG_DWORD, number(v, 4)});
  }
  variants.push_back({"REG_DWORD of 2 bytes", REG_DWORD, number(1, 2)});
  variants.push_back({"REG_DWORD of 8 bytes", REG_DWORD, number(1, 8)});
  for (std::uint64_t v : {0ull, 1ull, 0x100000001ull, ~0ull}) {
    variants.push_back({"REG_QWORD " + std::to_string(v), REG_QWORD, number(v, 8)});
  }
  for (std::size_t size : {0u, 1u, 3u, 4u, 8u, 520u, 521u}) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 37 + 1);
    variants.push_back({"REG_BINARY of " + std::to_string(size) + " bytes", REG_BINARY, bytes});
  }
  variants.push_back({"REG_MULTI_SZ", REG_MULTI_SZ, text(std::wstring(L"ab\0cd\0", 6), true)});
  variants.push_back({"REG_EXPAND_SZ", REG_EXPAND_SZ, text(L"%SystemRoot%\\x", true)});
  for (const wchar_t* word : {L"true", L"false", L"2", L"-1", L"Default", L"default", L"7x"}) {
    const std::wstring units = word;
    variants.push_back(
        {"REG_SZ '" + std::string(units.begin(), units.end()) + "'", REG_SZ, text(units, true)});
  }
  for (std::size_t length : {0u, 1u, 259u, 260u, 261u, 4096u}) {
    variants.push_back({"REG_SZ of " + std::to_string(length) + " code units", REG_SZ,
                        text(cycled(length), true)});
    if (length >= 259 && length <= 261) {
      variants.push_back({"REG_SZ of " + std::to_string(length) + " code units, no NUL", REG_SZ,
                          text(cycled(length), false)});
    }
  }
  for (std::size_t size : {1u, 3u, 519u, 521u}) {
    std::vector<std::uint8_t> bytes = text(cycled(size / 2 + 1), false);
    bytes.resize(size);
    variants.push_back({"REG_SZ of " + std::to_string(size) + " bytes", REG_SZ, bytes});
  }

  // The preferences the switch sweep reads through: a present microphone by id.
  ScopedRegistryValue micId(HKEY_CURRENT_USER, L"srcAudioInId");
  struct Target {
    HKEY root;
    const wchar_t* name;
  };
  const Target targets[] = {
      {HKEY_LOCAL_MACHINE, L"IsDisabled"},     {HKEY_LOCAL_MACHINE, L"EnableAInWasapi"},
      {HKEY_CURRENT_USER, L"srcAudioInOption"}, {HKEY_CURRENT_USER, L"srcWCamId"},
      {HKEY_LOCAL_MACHINE, L"srcWCamId"},      {HKEY_CURRENT_USER, L"srcWCamName"},
      {HKEY_LOCAL_MACHINE, L"srcWCamName"},    {HKEY_CURRENT_USER, L"srcAudioInId"},
      {HKEY_LOCAL_MACHINE, L"srcAudioInId"},   {HKEY_CURRENT_USER, L"srcAudioInName"},
      {HKEY_LOCAL_MACHINE, L"srcAudioInName"},
  };
  for (const Target& target : targets) {
    const std::wstring name = target.name;
    for (const Variant& variant : variants) {
      const std::string context =
          std::string(target.root == HKEY_LOCAL_MACHINE ? "HKLM " : "HKCU ") +
          std::string(name.begin(), name.end()) + " = " + variant.label;
      SCOPED_TRACE(context);
      if (name == L"EnableAInWasapi") {
        micId.SetString(Wide(audio_[0].id));
      } else {
        micId.Remove();
      }
      ScopedRegistryValue value(target.root, target.name);
      value.SetRaw(variant.type, variant.bytes);

      if (name == L"IsDisabled") {
        GuardedBuffer enabled(1);
        ASSERT_EQ(Mmdr_IsEnabled(handle_, enabled.data()), MMDR_OK);
        EXPECT_LE(enabled.data()[0], 1);
        EXPECT_TRUE(enabled.UntouchedFrom(1));
        if (variant.type == REG_DWORD && variant.bytes.size() == 4) {
          std::uint32_t v;
          std::memcpy(&v, variant.bytes.data(), 4);
          EXPECT_EQ(enabled.data()[0], v == 0 ? 1 : 0);
        }
      } else if (name == L"EnableAInWasapi") {
        // Opening and closing a handle leaves dsound.dll as it found it (this test's
        // own handle was opened without the switch, so the library holds nothing).
        const int loadCount = kestrel_stress::ModuleLoadCount(L"dsound.dll");
        MmdrHandle* second = nullptr;
        ASSERT_EQ(Mmdr_Init(2, &second), MMDR_OK);
        Mmdr_Uninit(second);
        EXPECT_EQ(kestrel_stress::ModuleLoadCount(L"dsound.dll"), loadCount);
        EXPECT_EQ(DSoundLib::GetInstance(), nullptr);
        bool failure = false;
        const std::vector<DeviceEntry> microphones =
            kestrel_stress::ListDevices(handle_, MMDR_DEVICE_AUDIO, &failure);
        EXPECT_FALSE(failure);
        EXPECT_FALSE(microphones.empty()) << "both back ends list the fixture microphones";
        ExpectLookupSound(MMDR_DEVICE_AUDIO, MMDR_PREF_NAME, microphones, context);
      } else if (name == L"srcAudioInOption") {
        GuardedBuffer out(4);
        const MmdrResult result =
            Mmdr_GetAudioInSelectOption(handle_, reinterpret_cast<std::uint32_t*>(out.data()));
        std::uint32_t delivered;
        std::memcpy(&delivered, out.data(), 4);
        EXPECT_EQ(result, delivered <= 2 ? MMDR_OK : MMDR_FAILED);
        EXPECT_TRUE(out.UntouchedFrom(4));
        if (variant.type == REG_DWORD && variant.bytes.size() == 4) {
          std::uint32_t v;
          std::memcpy(&v, variant.bytes.data(), 4);
          EXPECT_EQ(delivered, v);
        }
      } else {
        const MmdrDeviceKind kind = name.rfind(L"srcWCam", 0) == 0 ? 1 : 2;
        for (MmdrPrefField field : {MMDR_PREF_NAME, MMDR_PREF_ID}) {
          ExpectLookupSound(kind, field, Devices(kind), context);
        }
      }
    }
  }
  EXPECT_EQ(Mmdr_IsValid(handle_), MMDR_OK);
}

}  // namespace
