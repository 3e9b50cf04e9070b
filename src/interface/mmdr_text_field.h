// The rule by which every text leaves the library: into a caller's field of
// MMDR_TEXT_FIELD_SIZE bytes, as UTF-8.
#pragma once

#include <string_view>

// Writes at most 259 bytes of text into field, then zeros up to byte 258 when the text
// is shorter. The cut counts bytes, so it may split a multi-byte character. The
// field's last byte (259) is never written: a caller that wants a terminated field
// zero-fills it first.
void CopyToTextField(std::string_view utf8, char* field) noexcept;
