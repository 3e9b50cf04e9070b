// Windows implementation of the log facility's base layer.
#include "log/log_base.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

struct RecLock {
  CRITICAL_SECTION section;
};

RecLock* RecLock_Create(const char* /*name*/, std::uint32_t /*rank*/) {
  RecLock* lock = new (std::nothrow) RecLock;
  if (lock == nullptr) return nullptr;
  // A critical section is recursive for its owning thread, which the log needs when a
  // writer or tag provider logs.
  InitializeCriticalSection(&lock->section);
  return lock;
}

RecLock* RecLock_Static() {
  // Without debug information a critical section holds nothing that needs deleting.
  static RecLock lock;
  static const bool initialized =
      InitializeCriticalSectionEx(&lock.section, 0, CRITICAL_SECTION_NO_DEBUG_INFO) != FALSE;
  return initialized ? &lock : nullptr;
}

void RecLock_Destroy(RecLock* lock) {
  if (lock == nullptr) return;
  DeleteCriticalSection(&lock->section);
  delete lock;
}

void RecLock_Acquire(RecLock* lock) { EnterCriticalSection(&lock->section); }

void RecLock_Release(RecLock* lock) { LeaveCriticalSection(&lock->section); }

std::uint32_t Base_GetLastError() { return GetLastError(); }

void Base_SetLastError(std::uint32_t code) { SetLastError(code); }

void Base_GetSystemTime(LogSystemTime* time) {
  SYSTEMTIME now;
  GetSystemTime(&now);
  *time = {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

std::uint32_t Base_CurrentThreadId() { return GetCurrentThreadId(); }

namespace {

// UTF-8 to UTF-16 into out, which holds capacity units; the number of units, 0 when
// the text is not valid UTF-8 or does not fit.
int WideFromUtf8(const char* bytes, std::size_t size, wchar_t* out, std::size_t capacity) {
  if (size == 0 || size > static_cast<std::size_t>(INT_MAX)) return 0;
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(size), out,
                             static_cast<int>(capacity));
}

}  // namespace

bool Base_ReadLogSetting(std::string* value) {
  const DWORD savedError = GetLastError();
  // The DLL's C runtime keeps its own copy of the environment, taken at load: the system's
  // block is where a host's SetEnvironmentVariableW lands.
  std::wstring wide(64, L'\0');
  DWORD length = GetEnvironmentVariableW(L"KESTREL_LOG", wide.data(), 64);
  if (length >= 64) {
    wide.resize(length);
    length = GetEnvironmentVariableW(L"KESTREL_LOG", wide.data(), length);
  }
  bool found = length > 0 && length < wide.size();
  if (found) {
    const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(),
                                         static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    value->assign(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    found = size > 0 && WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(),
                                            static_cast<int>(length), value->data(), size, nullptr,
                                            nullptr) == size;
  }
  SetLastError(savedError);
  return found;
}

// Lines reach a destination in pieces of at most a few kilobytes (log_output.cpp), each
// converted here for the console and the debugger.
constexpr std::size_t kWideUnits = 8192;

struct LogDestination {
  HANDLE file;  // null: standard error and the debugger
  wchar_t wide[kWideUnits];
};

LogDestination* Base_OpenLogDestination(const char* path) {
  const DWORD savedError = GetLastError();
  auto* destination = new (std::nothrow) LogDestination{};
  if (destination != nullptr && path != nullptr) {
    const int units = WideFromUtf8(path, std::strlen(path), destination->wide, kWideUnits - 1);
    HANDLE file = INVALID_HANDLE_VALUE;
    if (units > 0) {
      destination->wide[units] = L'\0';
      // Appending only: every write lands at the end, whoever else writes the file.
      file = CreateFileW(destination->wide, FILE_APPEND_DATA,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE) {
      delete destination;
      destination = nullptr;
    } else {
      destination->file = file;
    }
  }
  SetLastError(savedError);
  return destination;
}

void Base_WriteLogDestination(LogDestination* destination, const char* bytes, std::size_t size) {
  const DWORD savedError = GetLastError();
  DWORD written = 0;
  if (destination->file != nullptr) {
    WriteFile(destination->file, bytes, static_cast<DWORD>(size), &written, nullptr);
  } else {
    const int units = WideFromUtf8(bytes, size, destination->wide, kWideUnits - 1);
    // Asked for each line: the host may change its standard error at any time. A console
    // takes UTF-16 whatever its code page; a file or pipe gets the UTF-8 bytes.
    HANDLE standardError = GetStdHandle(STD_ERROR_HANDLE);
    const bool open = standardError != nullptr && standardError != INVALID_HANDLE_VALUE;
    DWORD mode = 0;
    if (open && GetConsoleMode(standardError, &mode)) {
      WriteConsoleW(standardError, destination->wide, static_cast<DWORD>(units), &written, nullptr);
    } else if (open) {
      WriteFile(standardError, bytes, static_cast<DWORD>(size), &written, nullptr);
    }
    if (units > 0) {
      destination->wide[units] = L'\0';
      OutputDebugStringW(destination->wide);
    }
  }
  SetLastError(savedError);
}

void Base_CloseLogDestination(LogDestination* destination) {
  if (destination == nullptr) return;
  const DWORD savedError = GetLastError();
  if (destination->file != nullptr) CloseHandle(destination->file);
  delete destination;
  SetLastError(savedError);
}
