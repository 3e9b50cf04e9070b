#include "console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace mmdrctl {

void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void PrintF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
}

void Error(const char* format, ...) {
  std::fputs("mmdrctl: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

int CallFailed(const char* call, MmdrResult result) {
  Error("%s failed: %s (%u)", call, Mmdr_ResultName(result), static_cast<unsigned>(result));
  return kExitCallFailed;
}

std::string FieldText(const char* field) {
  return std::string(field, strnlen(field, MMDR_TEXT_FIELD_SIZE));
}

}  // namespace mmdrctl
