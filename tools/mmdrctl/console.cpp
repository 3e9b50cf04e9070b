#include "console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace mmdrctl {

// A console or pipe that refuses output leaves nothing to report the failure to, so the
// results of the writes below are ignored on purpose.
void Print(const std::string& text) {
  static_cast<void>(std::fwrite(text.data(), 1, text.size(), stdout));
}

void PrintF(const char* format, ...) {
  va_list args;  // NOLINT(cppcoreguidelines-init-variables): va_start fills it
  va_start(args, format);
  static_cast<void>(std::vfprintf(stdout, format, args));
  va_end(args);
}

void Error(const char* format, ...) {
  static_cast<void>(std::fputs("mmdrctl: ", stderr));
  va_list args;  // NOLINT(cppcoreguidelines-init-variables): va_start fills it
  va_start(args, format);
  static_cast<void>(std::vfprintf(stderr, format, args));
  va_end(args);
  static_cast<void>(std::fputc('\n', stderr));
}

int CallFailed(const char* call, MmdrResult result) {
  Error("%s failed: %s (%u)", call, Mmdr_ResultName(result), static_cast<unsigned>(result));
  return kExitCallFailed;
}

std::string FieldText(const char* field) {
  return std::string(field, strnlen(field, MMDR_TEXT_FIELD_SIZE));
}

}  // namespace mmdrctl
