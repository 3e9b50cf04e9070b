// Windows implementation of the log facility's base layer.
#include "log/log_base.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
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
// The lookup is cached: it is idempotent, so racing threads store the same value.
GetThreadDescriptionFn ThreadDescriptionFunction() {
  static std::atomic<int> resolved{0};
  static std::atomic<GetThreadDescriptionFn> function{nullptr};
  if (resolved.load(std::memory_order_acquire) != 0) {
    return function.load(std::memory_order_relaxed);
  }
  GetThreadDescriptionFn found = nullptr;
  for (const wchar_t* moduleName : {L"kernel32.dll", L"kernelbase.dll"}) {
    HMODULE module = GetModuleHandleW(moduleName);
    if (module == nullptr) continue;
    found = reinterpret_cast<GetThreadDescriptionFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetThreadDescription")));
    if (found != nullptr) break;
  }
  function.store(found, std::memory_order_relaxed);
  resolved.store(1, std::memory_order_release);
  return found;
}

// Appends the UTF-8 bytes of one code point while room is left, cutting it if need be
// (the caller asked for a byte-cut text). Returns false once the buffer is full.
bool AppendUtf8(char* buffer, std::size_t capacity, std::size_t& length, std::uint32_t codePoint) {
  char bytes[4];
  std::size_t count;
  if (codePoint < 0x80) {
    bytes[0] = static_cast<char>(codePoint);
    count = 1;
  } else if (codePoint < 0x800) {
    bytes[0] = static_cast<char>(0xC0 | (codePoint >> 6));
    bytes[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
    count = 2;
  } else if (codePoint < 0x10000) {
    bytes[0] = static_cast<char>(0xE0 | (codePoint >> 12));
    bytes[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
    count = 3;
  } else {
    bytes[0] = static_cast<char>(0xF0 | (codePoint >> 18));
    bytes[1] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    bytes[3] = static_cast<char>(0x80 | (codePoint & 0x3F));
    count = 4;
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (length >= capacity) return false;
    buffer[length++] = bytes[i];
  }
  return length < capacity;
}

}  // namespace

namespace {

void LookUpThreadName(char* buffer, std::size_t size) {
  if (size == 0) return;
  buffer[0] = '\0';
  GetThreadDescriptionFn getDescription = ThreadDescriptionFunction();
  if (getDescription == nullptr) return;
  PWSTR description = nullptr;
  if (FAILED(getDescription(GetCurrentThread(), &description)) || description == nullptr) return;
  // Encoded by hand rather than with WideCharToMultiByte, which refuses a buffer that is
  // too small instead of filling it; an unpaired surrogate becomes U+FFFD.
  const std::size_t capacity = size - 1;
  std::size_t length = 0;
  for (const wchar_t* p = description; *p != L'\0'; ++p) {
    std::uint32_t unit = static_cast<std::uint16_t>(*p);
    std::uint32_t codePoint = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      const std::uint32_t next = static_cast<std::uint16_t>(p[1]);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        codePoint = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
        ++p;
      } else {
        codePoint = 0xFFFD;
      }
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      codePoint = 0xFFFD;
    }
    if (!AppendUtf8(buffer, capacity, length, codePoint)) break;
  }
  buffer[length] = '\0';
  LocalFree(description);
}

// Looking the name up is a system call on Windows and a server round trip under Wine,
// which would make it by far the largest cost of a record. Each thread's name is
// therefore kept for a short time: a thread that renames itself shows its new name in
// records from at most kNameFreshMilliseconds later. Threads are told apart by a token
// kept in a TLS slot (new threads read 0), not by their id, which Windows reuses; the
// cache is a fixed table, so the log path allocates nothing.
constexpr std::size_t kNameCacheSlots = 64;
constexpr std::size_t kCachedNameSize = 32;
constexpr ULONGLONG kNameFreshMilliseconds = 100;
constexpr DWORD kTokenSlotNone = TLS_OUT_OF_INDEXES;
constexpr DWORD kTokenSlotClosed = TLS_OUT_OF_INDEXES - 1;

struct NameCacheSlot {
  std::atomic<bool> busy;
  std::uint64_t owner;  // token of the thread whose name this is; 0 when none
  ULONGLONG refreshedAt;
  char name[kCachedNameSize];
};

NameCacheSlot g_nameCache[kNameCacheSlots];
std::atomic<DWORD> g_tokenSlot{kTokenSlotNone};
std::atomic<std::uint64_t> g_lastToken{0};

// Frees the TLS slot when the library unloads; later lookups go uncached.
struct TokenSlotOwner {
  ~TokenSlotOwner() {
    const DWORD slot = g_tokenSlot.exchange(kTokenSlotClosed);
    if (slot != kTokenSlotNone && slot != kTokenSlotClosed) TlsFree(slot);
  }
} g_tokenSlotOwner;

DWORD TokenSlot() {
  DWORD slot = g_tokenSlot.load(std::memory_order_acquire);
  if (slot != kTokenSlotNone) return slot;
  DWORD created = TlsAlloc();
  if (created == TLS_OUT_OF_INDEXES) return kTokenSlotNone;
  if (!g_tokenSlot.compare_exchange_strong(slot, created, std::memory_order_acq_rel)) {
    TlsFree(created);  // another thread installed one first (or the library is unloading)
    return slot;
  }
  return created;
}

// The calling thread's token, 0 when no TLS slot is available.
std::uint64_t ThreadToken() {
  const DWORD slot = TokenSlot();
  if (slot == kTokenSlotNone || slot == kTokenSlotClosed) return 0;
  auto token = reinterpret_cast<std::uintptr_t>(TlsGetValue(slot));
  if (token == 0) {
    token = static_cast<std::uintptr_t>(g_lastToken.fetch_add(1, std::memory_order_relaxed) + 1);
    if (!TlsSetValue(slot, reinterpret_cast<void*>(token))) return 0;
  }
  return token;
}

}  // namespace

void Base_CurrentThreadName(char* buffer, std::size_t size) {
  if (size == 0) return;
  const std::uint64_t token = size <= kCachedNameSize ? ThreadToken() : 0;
  if (token == 0) {
    LookUpThreadName(buffer, size);
    return;
  }
  NameCacheSlot& slot = g_nameCache[token % kNameCacheSlots];
  if (slot.busy.exchange(true, std::memory_order_acquire)) {
    LookUpThreadName(buffer, size);  // another thread is using this slot right now
    return;
  }
  const ULONGLONG now = GetTickCount64();
  if (slot.owner != token || now - slot.refreshedAt >= kNameFreshMilliseconds) {
    LookUpThreadName(slot.name, sizeof slot.name);
    slot.owner = token;
    slot.refreshedAt = now;
  }
  Base_Strcpy(buffer, slot.name, size);
  slot.busy.store(false, std::memory_order_release);
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
