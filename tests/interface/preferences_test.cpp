// Storing a preferred device and finding it again among the devices present.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <regex>
#include <thread>
#include <vector>

#include "support/devices.h"
#include "support/log_capture.h"
#include "support/settings_scope.h"
#include "support/user_emulation.h"
#include "support/webcam_fixture.h"

namespace kestrel_test {
namespace {

TEST(Preferences, SetStoresThePairAndAMicrophoneNameOnlyWithAnId) {
  SettingsScope scope;
  ScopedMmdrHandle handle;
  struct Case {
    MmdrDeviceKind kind;
    const char* id;
    const char* name;
    std::string storedId, storedName;
  };
  const char* const kUtf8 = "\xE5\x90\x8D\xF0\x9F\x98\x80";  // a character beyond U+FFFF too
  const Case cases[] = {
      {1, nullptr, "N", "", "N"},
      {1, "I", nullptr, "I", ""},
      {1, "I\xC3\xA9", kUtf8, "I\xC3\xA9", kUtf8},
      {2, nullptr, "N", "", ""},
      {2, "", "N", "", ""},
      {2, "I", nullptr, "I", ""},
      {2, "I", "N", "I", "N"},
  };
  for (const Case& c : cases) {
    const char* idValue = c.kind == 1 ? "srcWCamId" : "srcAudioInId";
    const char* nameValue = c.kind == 1 ? "srcWCamName" : "srcAudioInName";
    SettingsScope::PutText(Store::User, idValue, "old");
    SettingsScope::PutText(Store::User, nameValue, "old");
    EXPECT_EQ(Mmdr_SetPrefDev(handle.get(), c.kind, c.id, c.name), MMDR_OK);
    // An empty text stored and none stored read alike.
    EXPECT_EQ(SettingsScope::Read(Store::User, idValue).value_or(""), c.storedId)
        << c.kind << (c.id ? c.id : "(null)");
    EXPECT_EQ(SettingsScope::Read(Store::User, nameValue).value_or(""), c.storedName)
        << c.kind << (c.name ? c.name : "(null)");
  }
  // Overlong forms and an encoded surrogate are no characters: only U+FFFD comes of them
  // (on Linux one for each byte that cannot go on, which utf8_fuzz checks for any bytes).
  EXPECT_EQ(Mmdr_SetPrefDev(handle.get(), 1, "\xC0\xAF\xE0\x80\xAF\xED\xA0\x80", "N"), MMDR_OK);
  const std::string stored = SettingsScope::Read(Store::User, "srcWCamId").value_or("");
  EXPECT_TRUE(std::regex_match(stored, std::regex("(\xEF\xBF\xBD)+"))) << stored;
}

TEST(Preferences, WritersOnSeveralThreadsLeaveOneWholePair) {
  KESTREL_SKIP_UNDER_USER_EMULATION("starts writer threads");
  SettingsScope scope;
  std::atomic<int> failures{0};
  for (int round = 0; round < 20; ++round) {
    std::vector<std::thread> writers;
    std::atomic<int> started{0};
    for (int writer = 0; writer < 4; ++writer) {
      writers.emplace_back([writer, &failures, &started] {
        const std::string number = std::to_string(writer);
        MmdrHandle* handle = nullptr;  // a handle each, so the open set changes too
        for (++started; started < 4;) std::this_thread::yield();  // all four write at once
        if (Mmdr_Init(MMDR_MODE_1, &handle) != MMDR_OK ||
            Mmdr_SetPrefDev(handle, MMDR_DEVICE_VIDEO, ("id" + number).c_str(),
                            ("name" + number).c_str()) != MMDR_OK) {
          ++failures;
        }
        Mmdr_Uninit(handle);
      });
    }
    for (std::thread& writer : writers) writer.join();
    const std::string id = SettingsScope::Read(Store::User, "srcWCamId").value_or("?");
    EXPECT_EQ(SettingsScope::Read(Store::User, "srcWCamName"), "name" + id.substr(2)) << round;
  }
  EXPECT_EQ(failures.load(), 0);
}

TEST(Preferences, TheStoredWebcamIsFoundByExactIdThenContainedIdThenExactName) {
  // Whole ids are the platform's ids of the fixture's webcams; the others are parts of one.
  const auto id = &WebcamFixture::Id;
  const std::string longId = id(LongWebcamPath());  // longer than a field
  const std::string cutId = longId.substr(0, 259);
  WebcamFixture webcams({{"Cam", "XYZ-pre-XYZ-post"},
                         {"Cam", "XYZ"},
                         {"Other", "p2"},
                         {"\xC3\x9Cmlaut", "p3"},
                         {"Long", LongWebcamPath()},
                         {std::string("NulCam\0", 7), "p5"}});  // a NUL counted in its length
  const Entry present[] = {
      {id("XYZ-pre-XYZ-post"), "Cam"}, {id("XYZ"), "Cam"}, {id("p2"), "Other"},
      {id("p3"), "\xC3\x9Cmlaut"},     {cutId, "Long"},    {id("p5"), "NulCam"}};
  struct Case {
    std::string userId, userName, machineId, machineName;
    int picked;          // index into present, -1 for none
    std::string logged;  // why, in the lookup's debug lines ('|' between phrases)
  };
  const Case cases[] = {
      {id("XYZ"), "", "", "", 1, "its id equals"},  // beats an earlier one that contains it
      {"post", "", "", "", 0,
       "picked 'Cam' (id '" + id("XYZ-pre-XYZ-post") + "'): its id contains"},
      {"pre-", "", "", "", 0},
      {"-XYZ-", "", "", "", 0},
      {id("XYZ-more"), "", "", "", -1,
       "none of 6 devices has an id equal to or containing '" + id("XYZ-more") + "'"},
      {id("xyz"), "", "", "", -1},  // ids and names are compared case-sensitively
      {"", "Cam", "", "", 0, "its name equals the stored name"},  // the first of two equal names
      {"", "cam", "", "", -1, "none of 6 devices is named 'cam'"},
      {"", "Ca", "", "", -1},  // names never by containment
      {"p2-and-more-than-any-id", "Other", "", "", 2},
      {"stale-id", "\xC3\x9Cmlaut", "", "", 3},  // hands out the device's current id
      {"", "", id("XYZ"), "", 1, "(machine"},    // the machine's value when the user has none
      {"", "Other", id("XYZ"), "", 1, "(machine|name 'Other' (user"},  // decided per value
      {"nomatch", "", "", "Other", 2, "id 'nomatch' (user|name 'Other' (machine"},
      {longId, "", "", "", 4},
      {"", "NulCam", "", "", 5},
      {"", "", "", "", -1,
       "name '' (not set, the default)|kinds: UserPrefsUtil::PreferredWCamDeviceInfo - Config"},
  };
  SettingsScope scope;
  ScopedMmdrHandle handle;
  const ScopedLogThreshold debug;
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    SettingsScope::Clear();
    SettingsScope::PutText(Store::User, "srcWCamId", c.userId);
    SettingsScope::PutText(Store::User, "srcWCamName", c.userName);
    SettingsScope::PutText(Store::Machine, "srcWCamId", c.machineId);
    SettingsScope::PutText(Store::Machine, "srcWCamName", c.machineName);
    const Entry expected = c.picked < 0 ? Entry{"code 11", "code 11"} : present[c.picked];
    EXPECT_EQ(PreferredText(handle.get(), 1, MMDR_PREF_ID), expected.first);
    EXPECT_EQ(PreferredText(handle.get(), 1, MMDR_PREF_NAME), expected.second);
    ExpectLogged(debug.Lines(), c.logged);
  }
  char text[MMDR_TEXT_FIELD_SIZE];
  std::memset(text, 0x77, sizeof text);
  EXPECT_EQ(Mmdr_GetPrefDev(handle.get(), 1, MMDR_PREF_NAME, text), MMDR_NO_DATA);
  EXPECT_EQ(text[0], 0x77) << "left untouched without a preferred device";
  SettingsScope::PutText(Store::User, "srcWCamId", longId);
  EXPECT_EQ(Mmdr_GetPrefDev(handle.get(), 1, MMDR_PREF_ID, text), MMDR_OK);
  EXPECT_EQ(std::string(text, 260), cutId + '\x77');
}

}  // namespace
}  // namespace kestrel_test
