// The library handle that Mmdr_Init opens and Mmdr_Uninit closes, and the check every
// other call runs on the pointer a caller hands back.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "kestrelCliLib.h"

// A 12-byte block from the runtime heap (malloc/free), so that its layout stays the
// same whoever builds the library. refCount is the only word that changes after the
// handle is published, and it is touched only atomically.
struct MmdrHandle {
  std::uint32_t magic;
  std::atomic<std::int32_t> refCount;
  std::int32_t mode;
};

// "mmdr" when the little-endian word is read as bytes.
inline constexpr std::uint32_t kMmdrHandleMagic = 0x72646D6D;

static_assert(sizeof(MmdrHandle) == 12, "handle block is three 32-bit words");
static_assert(offsetof(MmdrHandle, magic) == 0 && offsetof(MmdrHandle, refCount) == 4 &&
                  offsetof(MmdrHandle, mode) == 8,
              "handle block layout");
static_assert(std::atomic<std::int32_t>::is_always_lock_free,
              "refCount must be a plain lock-free word");

// Allocates and publishes a live handle (refCount 1, with release order so that a
// thread that sees the count sees the other fields too). Null when memory ran out.
MmdrHandle* MmdrCreateHandle(std::int32_t mode) noexcept;

// True for a non-null block whose first word is the magic and whose refCount, read
// atomically, is above 0.
bool MmdrCheckHandle(const MmdrHandle* handle) noexcept;

// Drops the reference a checked handle holds; frees the block when it was the last.
void MmdrReleaseHandle(MmdrHandle* handle) noexcept;

// The handles whose Mmdr_Init took a reference on the shared DirectSound instance, kept
// beside the fixed block: each releases exactly its own at its Mmdr_Uninit.
// Remembering may throw std::bad_alloc; forgetting tells whether the handle held one.
void MmdrRememberDirectSoundHolder(const MmdrHandle* handle);
bool MmdrForgetDirectSoundHolder(const MmdrHandle* handle) noexcept;
