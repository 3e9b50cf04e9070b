// Helpers shared by the device tests: apartments on fresh threads, log lines, the
// invariants every enumerated record keeps.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <functional>
#include <string>
#include <vector>

#include "devices/device_info.h"
#include "support/log_capture.h"

namespace kestrel_test {

// The apartment state of a thread as CoGetApartmentType reports it.
struct ApartmentState {
  HRESULT result;
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  bool InCom() const { return SUCCEEDED(result) && qualifier != APTTYPEQUALIFIER_IMPLICIT_MTA; }
  bool IsSta() const { return InCom() && (type == APTTYPE_STA || type == APTTYPE_MAINSTA); }
  bool IsMta() const { return InCom() && type == APTTYPE_MTA; }
};
ApartmentState CurrentApartment();

enum class ThreadApartment { None, Sta, Mta };
const char* ToString(ThreadApartment apartment);
// Every starting apartment, and their names for parameterised tests:
// INSTANTIATE_TEST_SUITE_P(X, Suite, kAllThreadApartments, ThreadApartmentTestName).
inline const auto kAllThreadApartments =
    ::testing::Values(ThreadApartment::None, ThreadApartment::Sta, ThreadApartment::Mta);
std::string ThreadApartmentTestName(const ::testing::TestParamInfo<ThreadApartment>& info);

// Runs body on a new thread that first enters the given apartment (and leaves it after
// body); gtest assertions inside body are reported as usual.
void RunOnThreadIn(ThreadApartment apartment, const std::function<void()>& body);

// The texts of the drained records whose level is the given one.
std::vector<std::string> LogLinesAtLevel(const std::vector<CapturedLogRecord>& records,
                                         std::uint32_t level);
// True when some record at the level contains the text.
bool HasLogLine(const std::vector<CapturedLogRecord>& records, std::uint32_t level,
                const std::string& text);

// "{" + 8-4-4-4-12 lower-case hexadecimal digits + "}".
bool IsLowerCaseGuidText(const std::wstring& text);

// Invariants of every record: number equals index, id equals path, the kind and the
// guid form of the enumerator that made it.
void ExpectAudioRecordInvariants(const DeviceInfoList& list);

// The fixture microphones of the Wine prefix ("In: default", "In: DeskMic", ...), sorted.
std::vector<std::wstring> FixtureMicrophoneNames();
std::vector<std::wstring> NamesOf(const DeviceInfoList& list);
// The names sorted: the system decides the order of the endpoints.
std::vector<std::wstring> SortedNamesOf(const DeviceInfoList& list);

std::string Narrow(const std::wstring& text);

// Under Wine, dsound.dll takes a reference on itself when it attaches, so the library's
// single FreeLibrary leaves it loaded. These measure that from outside: how many
// references a load leaves beyond the loader's own (measured once, while it is not
// loaded), and how many references are held now, dropped one by one until it unloads.
// The second is destructive: call it only at the end of a test.
int DSoundSelfReferencesPerLoad();
int DropRemainingDSoundReferences();

}  // namespace kestrel_test
