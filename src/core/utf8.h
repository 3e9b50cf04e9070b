// Conversion between the interface's UTF-8 and the system's UTF-16. It needs nothing
// else of the library, so the tools link it on its own (kestrel_utf8).
#pragma once

#include <string>

// UTF-8 (code page 65001) to UTF-16; ill-formed input becomes U+FFFD, a refused
// input the empty text. A null pointer is the empty text.
std::wstring ConvertUtf8ToWide(const char* text);
// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD. A null pointer is the empty text.
std::string ConvertWideToUtf8(const wchar_t* text);
