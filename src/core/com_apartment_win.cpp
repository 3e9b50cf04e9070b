#include "core/com_apartment.h"

#include <objbase.h>

CCoInitialize::CCoInitialize() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}

CCoInitialize::~CCoInitialize() {
  if (SUCCEEDED(result_)) CoUninitialize();
}

namespace {

thread_local int t_comInitCount = 0;
thread_local bool t_comInitialised = false;

}  // namespace

ComInit::ComInit() {
  if (t_comInitCount == 0) {
    t_comInitialised = SUCCEEDED(CoInitialize(nullptr));
  }
  ++t_comInitCount;
}

ComInit::~ComInit() {
  if (t_comInitCount > 0) {
    --t_comInitCount;
    if (t_comInitCount == 0 && t_comInitialised) {
      t_comInitialised = false;
      CoUninitialize();
    }
  }
}
