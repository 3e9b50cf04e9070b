#include "faults/fault_harness.h"

#include <gtest/gtest.h>

namespace kestrel_test {
namespace {

bool MatchesPattern(const std::string& text, const std::string& pattern) {
  const std::size_t star = pattern.find('*');
  if (star == std::string::npos) return text == pattern;
  const std::string head = pattern.substr(0, star);
  const std::string tail = pattern.substr(star + 1);
  return text.size() >= head.size() + tail.size() && text.compare(0, head.size(), head) == 0 &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

void ExpectRecords(const DeviceInfoList& list, const std::vector<ExpectedRecord>& expected) {
  ASSERT_EQ(list.size(), expected.size()) << "names: " << ::testing::PrintToString(NamesOf(list));
  for (std::size_t i = 0; i < list.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i));
    EXPECT_EQ(list[i].name, expected[i].name);
    EXPECT_EQ(list[i].index, expected[i].index);
    EXPECT_EQ(list[i].number, expected[i].index);
    EXPECT_EQ(list[i].path, expected[i].path);
    EXPECT_EQ(list[i].id, expected[i].path);
  }
}

void ExpectLogLines(const std::vector<CapturedLogRecord>& records,
                    const std::vector<std::string>& expected) {
  std::vector<std::string> texts;
  for (const CapturedLogRecord& record : records) texts.push_back(record.text);
  ASSERT_EQ(texts.size(), expected.size()) << ::testing::PrintToString(texts);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(records[i].level, 2u) << texts[i];
    EXPECT_TRUE(MatchesPattern(texts[i], expected[i])) << texts[i] << "\nexpected: " << expected[i];
  }
}

void ExpectSameApartment(const ApartmentState& before, const ApartmentState& after) {
  EXPECT_EQ(after.result, before.result);
  EXPECT_EQ(after.type, before.type);
  EXPECT_EQ(after.qualifier, before.qualifier);
}

ScopedFakeClass::ScopedFakeClass(const CLSID& clsid, IClassFactory* factory) {
  if (CurrentApartment().InCom()) {
    registration_ = std::make_unique<ScopedClassRegistration>(clsid, factory);
  } else {
    redirect_ = std::make_unique<ScopedCoCreateRedirect>(clsid, factory);
  }
}

ScopedFakeClass::~ScopedFakeClass() = default;

bool ScopedFakeClass::ready() const {
  return registration_ ? registration_->result() == S_OK : redirect_->installed();
}

bool ScopedFakeClass::CreatedInSta() const {
  if (!redirect_) return false;
  return redirect_->calls() > 0 && (redirect_->lastCallApartment() == APTTYPE_STA ||
                                    redirect_->lastCallApartment() == APTTYPE_MAINSTA);
}

ScopedPreferredName::ScopedPreferredName(const wchar_t* idValue, const wchar_t* nameValue,
                                         const std::wstring& name)
    : storedId_(HKEY_CURRENT_USER, idValue),
      storedName_(HKEY_CURRENT_USER, nameValue),
      machineId_(HKEY_LOCAL_MACHINE, idValue),
      machineName_(HKEY_LOCAL_MACHINE, nameValue) {
  storedId_.Remove();
  machineId_.Remove();
  machineName_.Remove();
  storedName_.SetString(name);
}

}  // namespace kestrel_test
