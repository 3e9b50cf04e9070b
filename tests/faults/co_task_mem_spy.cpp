#include "faults/co_task_mem_spy.h"

#include <windows.h>
#include <objbase.h>

#include <mutex>
#include <set>

namespace kestrel_test {
namespace {

class FreeRecordingSpy : public IMallocSpy {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMallocSpy)) {
      *object = static_cast<IMallocSpy*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // never destroyed
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T request) override { return request; }
  void* STDMETHODCALLTYPE PostAlloc(void* actual) override {
    // A new block at an address freed before: no longer counts as freed.
    if (actual != nullptr) {
      std::lock_guard<std::mutex> hold(mutex_);
      freed_.erase(actual);
    }
    return actual;
  }
  void* STDMETHODCALLTYPE PreFree(void* request, BOOL) override {
    if (request != nullptr) {
      std::lock_guard<std::mutex> hold(mutex_);
      freed_.insert(request);
    }
    return request;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* request, SIZE_T size, void** newRequest,
                                      BOOL) override {
    *newRequest = request;
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* actual, BOOL) override { return actual; }
  void* STDMETHODCALLTYPE PreGetSize(void* request, BOOL) override { return request; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T actual, BOOL) override { return actual; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* request, BOOL) override { return request; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}

  bool WasFreed(void* block) {
    std::lock_guard<std::mutex> hold(mutex_);
    return freed_.count(block) != 0;
  }

 private:
  std::mutex mutex_;
  std::set<void*> freed_;
};

FreeRecordingSpy& Spy() {
  static FreeRecordingSpy* spy = new FreeRecordingSpy();  // outlives every block
  return *spy;
}

}  // namespace

bool WatchCoTaskMemFrees() {
  static const bool registered = SUCCEEDED(CoRegisterMallocSpy(&Spy()));
  return registered;
}

std::vector<void*> NotFreedCoTaskMem(const std::vector<void*>& blocks) {
  std::vector<void*> missing;
  for (void* block : blocks) {
    if (!Spy().WasFreed(block)) missing.push_back(block);
  }
  return missing;
}

}  // namespace kestrel_test
