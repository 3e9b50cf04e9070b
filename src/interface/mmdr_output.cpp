#include "interface/mmdr_output.h"

#include <algorithm>
#include <cstring>

#include "core/utf8.h"
#include "kestrelCliLib.h"

namespace {
constexpr std::size_t kWritableBytes = MMDR_TEXT_FIELD_SIZE - 1;
}  // namespace

void CopyToTextField(std::string_view utf8, char* field) noexcept {
  const std::size_t copied = std::min(utf8.size(), kWritableBytes);
  std::memcpy(field, utf8.data(), copied);
  std::memset(field + copied, 0, kWritableBytes - copied);
}

void CopyWideToTextField(const std::wstring& text, char* field) noexcept {
  char utf8[kWritableBytes];
  CopyToTextField({utf8, ConvertWideToUtf8Prefix(text.c_str(), utf8, sizeof utf8)}, field);
}

bool MmdrEntriesFit(std::uint32_t count, std::uint32_t bufferSize) noexcept {
  return std::uint64_t{count} * MMDR_ENTRY_SIZE <= bufferSize;
}
