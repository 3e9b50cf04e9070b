// Windows implementation of the log facility's base layer.
#include "log/log_base.h"

#include <windows.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <new>

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

void RecLock_Destroy(RecLock* lock) {
  if (lock == nullptr) return;
  DeleteCriticalSection(&lock->section);
  delete lock;
}

void RecLock_Acquire(RecLock* lock) { EnterCriticalSection(&lock->section); }

void RecLock_Release(RecLock* lock) { LeaveCriticalSection(&lock->section); }

namespace {

using GetThreadDescriptionFn = HRESULT(WINAPI*)(HANDLE, PWSTR*);

// GetThreadDescription exists from Windows 10 1607 on, so it is looked up at run time.
GetThreadDescriptionFn ThreadDescriptionFunction() {
  for (const wchar_t* moduleName : {L"kernel32.dll", L"kernelbase.dll"}) {
    HMODULE module = GetModuleHandleW(moduleName);
    if (module == nullptr) continue;
    FARPROC found = GetProcAddress(module, "GetThreadDescription");
    if (found != nullptr) {
      return reinterpret_cast<GetThreadDescriptionFn>(reinterpret_cast<void (*)()>(found));
    }
  }
  return nullptr;
}

// Names longer than this many bytes are cut here already; the record keeps 31.
constexpr std::size_t kLongestName = 63;

}  // namespace

void Base_CurrentThreadName(char* buffer, std::size_t size) {
  if (size == 0) return;
  buffer[0] = '\0';
  const GetThreadDescriptionFn getDescription = ThreadDescriptionFunction();
  PWSTR description = nullptr;
  if (getDescription == nullptr || FAILED(getDescription(GetCurrentThread(), &description)) ||
      description == nullptr) {
    return;
  }
  // Every code unit makes at least one byte, so converting one unit more than the bytes
  // kept is enough; a pair cut there only touches bytes past the cut.
  const std::size_t keep = size - 1 < kLongestName ? size - 1 : kLongestName;
  const std::size_t length = std::wcslen(description);
  const int units = static_cast<int>(length < keep + 1 ? length : keep + 1);
  char utf8[(kLongestName + 1) * 3];
  const int bytes = units == 0
                        ? 0
                        : WideCharToMultiByte(CP_UTF8, 0, description, units, utf8,
                                              static_cast<int>(sizeof utf8), nullptr, nullptr);
  LocalFree(description);
  std::size_t kept = bytes > 0 ? static_cast<std::size_t>(bytes) : 0;
  if (kept > keep) kept = keep;
  std::memcpy(buffer, utf8, kept);
  buffer[kept] = '\0';
}

void Base_OutputDebugString(const char* text) {
  // The debugger takes UTF-16; convert in pieces on character boundaries so that a
  // long message needs no heap and no large stack buffer.
  constexpr int kChunkBytes = 255;
  wchar_t wide[kChunkBytes + 1];
  const char* rest = text;
  std::size_t remaining = std::strlen(text);
  while (remaining > 0) {
    std::size_t take = remaining < static_cast<std::size_t>(kChunkBytes) ? remaining : kChunkBytes;
    if (take < remaining) {
      // Back up over continuation bytes so that no character is split between pieces.
      std::size_t cut = take;
      while (cut > 0 && (static_cast<unsigned char>(rest[cut]) & 0xC0) == 0x80) --cut;
      if (cut > 0) take = cut;
    }
    const int converted =
        MultiByteToWideChar(CP_UTF8, 0, rest, static_cast<int>(take), wide, kChunkBytes);
    if (converted > 0) {
      wide[converted] = L'\0';
      OutputDebugStringW(wide);
    }
    rest += take;
    remaining -= take;
  }
}

std::uint32_t Base_GetLastError() { return GetLastError(); }

void Base_SetLastError(std::uint32_t code) { SetLastError(code); }

void Base_GetSystemTime(LogSystemTime* time) {
  SYSTEMTIME now;
  GetSystemTime(&now);
  *time = {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

bool Base_StandardErrorExists() {
  // In a GUI host without a console the runtime's stderr has no descriptor (negative)
  // or one that maps to no system handle; writing there would go nowhere at best.
  if (stderr == nullptr) return false;
  const int descriptor = _fileno(stderr);
  if (descriptor < 0) return false;
  const intptr_t handle = _get_osfhandle(descriptor);
  return handle != reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE) && handle != -2 && handle != 0;
}
