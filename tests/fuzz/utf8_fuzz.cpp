// UTF-8 to the system's wide text and back: well-formed text makes the round trip unchanged,
// ill-formed input never gives ill-formed output (nor a surrogate or a value past U+10FFFF),
// and a field gets exactly the first 259 bytes of the text's UTF-8, zeros after it, and its
// last byte untouched.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>

#include "core/utf8.h"
#include "fuzz_check.h"
#include "interface/mmdr_output.h"
#include "kestrelCliLib.h"

namespace {

void CheckField(const std::wstring& wide) {
  const std::string utf8 = ConvertWideToUtf8(wide.c_str());
  FUZZ_CHECK(IsWellFormedUtf8(utf8));
  char field[MMDR_TEXT_FIELD_SIZE];
  std::memset(field, 0x55, sizeof field);
  CopyWideToTextField(wide, field);
  const std::size_t kept = std::min(utf8.size(), sizeof field - 1);
  FUZZ_CHECK(std::memcmp(field, utf8.data(), kept) == 0);
  for (std::size_t i = kept; i + 1 < sizeof field; ++i) FUZZ_CHECK(field[i] == '\0');
  FUZZ_CHECK(field[sizeof field - 1] == 0x55);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::string text = input.ConsumeRandomLengthString(1024);
  text = text.substr(0, text.find('\0'));
  const std::wstring wide = ConvertUtf8ToWide(text.c_str());
  for (const wchar_t c : wide) {
    FUZZ_CHECK(c > 0 && static_cast<char32_t>(c) <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF));
  }
  const std::string back = ConvertWideToUtf8(wide.c_str());
  FUZZ_CHECK(!IsWellFormedUtf8(text) || back == text);
  FUZZ_CHECK(ConvertWideToUtf8(ConvertUtf8ToWide(back.c_str()).c_str()) == back);
  CheckField(wide);

  std::wstring units;  // any 32-bit values, as a system call could hand them over
  while (input.remaining_bytes() >= sizeof(std::uint32_t)) {
    const auto unit = input.ConsumeIntegral<std::uint32_t>();
    if (unit != 0) units += static_cast<wchar_t>(unit);
  }
  CheckField(units);
  return 0;
}
