#include "interface/mmdr_handle.h"

#include <cstdlib>
#include <new>

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
