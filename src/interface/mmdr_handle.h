// The library handle that Mmdr_Init opens and Mmdr_Uninit closes, and the check every
// other call runs on the pointer a caller hands back.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "kestrelCliLib.h"
#include "kinds/audio_capture.h"
#include "kinds/device_watch.h"

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

// Allocates a handle block (refCount 1, stored with release order so that a thread that
// sees the count sees the other fields too). Null when memory ran out. The block is not
// open until MmdrOpenHandle records it.
MmdrHandle* MmdrCreateHandle(std::int32_t mode) noexcept;

// Records a created handle as open, with the back end its Mmdr_Init started (and so the
// audio library reference that only its own close releases) and its watch. May throw
// std::bad_alloc, having recorded nothing; backEnd then stops as it goes.
void MmdrOpenHandle(const MmdrHandle* handle, AudioCapture::Start backEnd);

// True for a handle that is open now (recorded by MmdrOpenHandle and not yet closed)
// and whose block still holds the magic and a refCount above 0. A pointer that was
// never opened, or was closed, is refused before its memory is read.
bool MmdrCheckHandle(const MmdrHandle* handle) noexcept;

// The watch of a handle that is open now (as MmdrCheckHandle judges it); null otherwise.
// A watch outlives its handle's close for as long as a caller holds it.
std::shared_ptr<DeviceWatch> MmdrHandleWatch(const MmdrHandle* handle) noexcept;

// Takes an open handle out of the open set: false (nothing done) when it is not open,
// so a second close of the same handle does nothing. Hands the handle's back end to
// *backEnd, which stops it when it goes, and its watch to *watch.
bool MmdrCloseHandle(const MmdrHandle* handle, AudioCapture::Start* backEnd,
                     std::shared_ptr<DeviceWatch>* watch) noexcept;

// Drops the reference a created or closed handle holds; frees the block when it was the
// last.
void MmdrReleaseHandle(MmdrHandle* handle) noexcept;
