#include "interface/mmdr_handle.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <vector>

#include "core/scoped_srw_lock_win.h"

namespace {

SRWLOCK g_holdersLock = SRWLOCK_INIT;
std::vector<const MmdrHandle*> g_directSoundHolders;

}  // namespace

MmdrHandle* MmdrCreateHandle(std::int32_t mode) noexcept {
  void* block = std::malloc(sizeof(MmdrHandle));
  if (block == nullptr) {
    return nullptr;
  }
  // The count starts at 0 so that the block is not live until the release store below.
  MmdrHandle* handle = new (block) MmdrHandle{kMmdrHandleMagic, {0}, mode};
  handle->refCount.store(1, std::memory_order_release);
  return handle;
}

bool MmdrCheckHandle(const MmdrHandle* handle) noexcept {
  if (handle == nullptr || handle->magic != kMmdrHandleMagic) {
    return false;
  }
  return handle->refCount.load(std::memory_order_acquire) > 0;
}

void MmdrReleaseHandle(MmdrHandle* handle) noexcept {
  if (handle->refCount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    handle->~MmdrHandle();
    std::free(handle);
  }
}

void MmdrRememberDirectSoundHolder(const MmdrHandle* handle) {
  const ScopedSrwLock hold(&g_holdersLock, /*exclusive=*/true);
  g_directSoundHolders.push_back(handle);
}

bool MmdrForgetDirectSoundHolder(const MmdrHandle* handle) noexcept {
  const ScopedSrwLock hold(&g_holdersLock, /*exclusive=*/true);
  const auto found = std::find(g_directSoundHolders.begin(), g_directSoundHolders.end(), handle);
  if (found == g_directSoundHolders.end()) return false;
  g_directSoundHolders.erase(found);
  return true;
}
