#include "faults/co_create_redirect.h"

#include <cstring>

namespace kestrel_test {
namespace {

using CoCreateInstanceFn = HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);

struct Redirect {
  void** slot = nullptr;
  CoCreateInstanceFn original = nullptr;
  CLSID clsid = GUID_NULL;
  IClassFactory* factory = nullptr;
  int calls = 0;
  APTTYPE lastApartment = APTTYPE_CURRENT;
};
Redirect g_redirect;

HRESULT WINAPI RedirectedCoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context,
                                          REFIID iid, LPVOID* object) {
  if (g_redirect.factory == nullptr || !IsEqualCLSID(clsid, g_redirect.clsid)) {
    return g_redirect.original(clsid, outer, context, iid, object);
  }
  ++g_redirect.calls;
  APTTYPE type = APTTYPE_CURRENT;
  APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
  if (FAILED(CoGetApartmentType(&type, &qualifier))) {
    g_redirect.lastApartment = APTTYPE_CURRENT;
    if (object != nullptr) *object = nullptr;
    return CO_E_NOTINITIALIZED;  // as COM answers a thread that is not in it
  }
  g_redirect.lastApartment = type;
  return g_redirect.factory->CreateInstance(outer, iid, object);
}

// The import address slot of a function, by name, in the test program's import table.
void** FindImportSlot(const char* functionName) {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return nullptr;
  for (auto* module = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       module->Name != 0; ++module) {
    if (module->OriginalFirstThunk == 0) continue;
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), functionName) == 0) {
        return reinterpret_cast<void**>(&slots->u1.Function);
      }
    }
  }
  return nullptr;
}

bool WriteSlot(void** slot, void* value) {
  DWORD previous = 0;
  if (!VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &previous)) return false;
  *slot = value;
  VirtualProtect(slot, sizeof(void*), previous, &previous);
  FlushInstructionCache(GetCurrentProcess(), slot, sizeof(void*));
  return true;
}

}  // namespace

ScopedCoCreateRedirect::ScopedCoCreateRedirect(const CLSID& clsid, IClassFactory* factory) {
  if (g_redirect.slot != nullptr) return;  // one at a time
  void** slot = FindImportSlot("CoCreateInstance");
  if (slot == nullptr) return;
  g_redirect.original = reinterpret_cast<CoCreateInstanceFn>(*slot);
  g_redirect.clsid = clsid;
  g_redirect.factory = factory;
  g_redirect.calls = 0;
  g_redirect.lastApartment = APTTYPE_CURRENT;
  if (!WriteSlot(slot, reinterpret_cast<void*>(&RedirectedCoCreateInstance))) return;
  g_redirect.slot = slot;
  installed_ = true;
}

ScopedCoCreateRedirect::~ScopedCoCreateRedirect() {
  if (!installed_) return;
  WriteSlot(g_redirect.slot, reinterpret_cast<void*>(g_redirect.original));
  g_redirect = Redirect();
}

int ScopedCoCreateRedirect::calls() const { return g_redirect.calls; }
APTTYPE ScopedCoCreateRedirect::lastCallApartment() const { return g_redirect.lastApartment; }

}  // namespace kestrel_test
