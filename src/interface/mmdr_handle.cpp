#include "interface/mmdr_handle.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include "core/rw_lock.h"

namespace {

struct OpenHandle {
  const MmdrHandle* handle;
  AudioCapture::Start backEnd;  // what the handle's Mmdr_Init started
  std::shared_ptr<DeviceWatch> watch;
};

// Every open handle. A call finds its handle here before it reads the block, so a
// closed handle (whose block the heap may have reused) is refused without touching it.
// Never destroyed: a handle still open when the library unloads keeps its reference on
// the audio library, since releasing it then would call into that library from the
// unload path.
RwLock g_openHandlesLock;
alignas(
    std::vector<OpenHandle>) unsigned char g_openHandlesStorage[sizeof(std::vector<OpenHandle>)];
std::vector<OpenHandle>& g_openHandles GUARDED_BY(g_openHandlesLock) =
    *new (g_openHandlesStorage) std::vector<OpenHandle>();

auto FindOpen(const MmdrHandle* handle) REQUIRES_SHARED(g_openHandlesLock) {
  return std::find_if(g_openHandles.begin(), g_openHandles.end(),
                      [handle](const OpenHandle& open) { return open.handle == handle; });
}

// The analysis counts any call on the set as a read, so the changes go through
// functions that demand the exclusive hold.
void AddOpen(OpenHandle&& open) REQUIRES(g_openHandlesLock) {
  g_openHandles.push_back(std::move(open));
}

void EraseOpen(std::vector<OpenHandle>::iterator found) REQUIRES(g_openHandlesLock) {
  g_openHandles.erase(found);
  // The last handle closed, the set gives its storage back: a host that unloads the
  // library after closing every handle leaves nothing of it on the heap.
  if (g_openHandles.empty()) std::vector<OpenHandle>().swap(g_openHandles);
}

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

void MmdrOpenHandle(const MmdrHandle* handle, AudioCapture::Start backEnd) {
  auto watch = std::make_shared<DeviceWatch>();
  const ExclusiveHold hold(g_openHandlesLock);
  AddOpen({handle, std::move(backEnd), std::move(watch)});
}

bool MmdrCheckHandle(const MmdrHandle* handle) noexcept {
  if (handle == nullptr) return false;
  // The block is read under the hold too, so a close racing this check cannot free it
  // in between.
  const SharedHold hold(g_openHandlesLock);
  if (FindOpen(handle) == g_openHandles.end()) return false;
  return handle->magic == kMmdrHandleMagic && handle->refCount.load(std::memory_order_acquire) > 0;
}

std::shared_ptr<DeviceWatch> MmdrHandleWatch(const MmdrHandle* handle) noexcept {
  if (handle == nullptr) return nullptr;
  const SharedHold hold(g_openHandlesLock);
  const auto found = FindOpen(handle);
  if (found == g_openHandles.end() || handle->magic != kMmdrHandleMagic ||
      handle->refCount.load(std::memory_order_acquire) <= 0) {
    return nullptr;
  }
  return found->watch;
}

bool MmdrCloseHandle(const MmdrHandle* handle, AudioCapture::Start* backEnd,
                     std::shared_ptr<DeviceWatch>* watch) noexcept {
  const ExclusiveHold hold(g_openHandlesLock);
  const auto found = FindOpen(handle);
  if (found == g_openHandles.end()) return false;
  // Handed out, so that the back end stops and the watch ends after this lock is released.
  *backEnd = std::move(found->backEnd);
  *watch = std::move(found->watch);
  EraseOpen(found);
  return true;
}

void MmdrReleaseHandle(MmdrHandle* handle) noexcept {
  if (handle->refCount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    handle->~MmdrHandle();
    std::free(handle);
  }
}
