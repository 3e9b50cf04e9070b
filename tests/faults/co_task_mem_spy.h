// Remembers every block freed through the COM task allocator, so that a test can check
// that the texts a fake handed out (endpoint ids, string property values) were all
// given back with CoTaskMemFree or PropVariantClear. The spy is registered once for the
// rest of the process and never revoked: COM keeps calling a spy while blocks allocated
// under it are still out, so it must outlive them all.
#pragma once

#include <vector>

namespace kestrel_test {

// Registers the spy on first use; false when COM refused it.
bool WatchCoTaskMemFrees();
// The blocks among these that were not freed since they were handed out. Call it with
// blocks handed out after WatchCoTaskMemFrees.
std::vector<void*> NotFreedCoTaskMem(const std::vector<void*>& blocks);

}  // namespace kestrel_test
