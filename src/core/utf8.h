// Conversion between the interface's UTF-8 and the system's UTF-16. It needs nothing
// else of the library, so the tools link it on its own (kestrel_utf8).
#pragma once

#include <cstddef>
#include <string>

// UTF-8 (code page 65001) to UTF-16; ill-formed input becomes U+FFFD, a refused
// input the empty text. A null pointer is the empty text.
std::wstring ConvertUtf8ToWide(const char* text);
// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD. A null pointer is the empty text.
std::string ConvertWideToUtf8(const wchar_t* text);
// The first bytes of ConvertWideToUtf8's result, at most size of them, written into out
// without allocating (the cut may split a multi-byte character); returns how many.
std::size_t ConvertWideToUtf8Prefix(const wchar_t* text, char* out, std::size_t size) noexcept;
