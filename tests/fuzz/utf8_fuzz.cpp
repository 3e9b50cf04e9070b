// UTF-8 to wide text and back, any bytes or 32-bit values: the bytes read as Unicode's
// recommended practice has it (one U+FFFD for each maximal ill-formed subpart), well-formed
// text makes the round trip unchanged and ill-formed input never gives ill-formed output; an
// entry field gets exactly the first 259 bytes of the text's UTF-8 and zeros, and its last
// byte is never written.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>

#include "core/utf8.h"
#include "fuzz_check.h"
#include "interface/mmdr_output.h"
#include "kestrelCliLib.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string text = input.ConsumeRandomLengthString(1024);
  const std::wstring wide = ConvertUtf8ToWide(text.c_str());
  const std::string back = ConvertWideToUtf8(wide.c_str());
  FUZZ_CHECK(std::u32string(wide.begin(), wide.end()) == DecodeUtf8(text.c_str()));
  FUZZ_CHECK(IsWellFormedUtf8(back) && ConvertUtf8ToWide(back.c_str()) == wide);
  FUZZ_CHECK(!IsWellFormedUtf8(text.c_str()) || back == text.c_str());
  std::wstring units;  // any values, as a system call could hand them over
  while (input.remaining_bytes() >= 4)
    units += static_cast<wchar_t>(std::max(input.ConsumeIntegral<std::uint32_t>(), 1u));  // no NUL
  for (const std::wstring& each : {wide, units}) {
    const std::string utf8 = ConvertWideToUtf8(each.c_str());
    FUZZ_CHECK(IsWellFormedUtf8(utf8));
    char field[MMDR_TEXT_FIELD_SIZE + 1];
    std::memset(field, 'G', sizeof field);
    CopyWideToTextField(each, field);
    const std::size_t kept = std::min<std::size_t>(utf8.size(), MMDR_TEXT_FIELD_SIZE - 1);
    FUZZ_CHECK(std::memcmp(field, utf8.data(), kept) == 0 &&
               field[MMDR_TEXT_FIELD_SIZE - 1] == 'G');
    FUZZ_CHECK(std::string(field + kept, MMDR_TEXT_FIELD_SIZE - 1 - kept).find_first_not_of('\0') ==
               std::string::npos);
  }
  return 0;
}
