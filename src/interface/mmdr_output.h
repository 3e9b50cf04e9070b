// The rules by which results leave the library into the caller's memory: texts into
// fields of MMDR_TEXT_FIELD_SIZE bytes as UTF-8, entries into a buffer of a given size.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Writes at most 259 bytes of text into field, then zeros up to byte 258 when the text
// is shorter. The cut counts bytes, so it may split a multi-byte character. The
// field's last byte (259) is never written: a caller that wants a terminated field
// zero-fills it first.
void CopyToTextField(std::string_view utf8, char* field) noexcept;
// A device's text into a field by the same rule; only the bytes that fit are converted.
void CopyWideToTextField(const std::wstring& text, char* field) noexcept;

// Whether count entries of MMDR_ENTRY_SIZE bytes fit bufferSize bytes. The product is
// formed in 64 bits, so no count can wrap it into a small size.
bool MmdrEntriesFit(std::uint32_t count, std::uint32_t bufferSize) noexcept;
