// Fault injection on a thread that is outside COM: a class object registered with
// CoRegisterClassObject is seen only in the apartment that registered it, and the
// enumerations enter a fresh apartment of their own there. So for the length of one
// scope this redirects the test program's own import of CoCreateInstance (which the
// statically linked library calls through) and answers one CLSID from a fake factory.
// The redirected call still refuses a thread that is not in COM, as COM does, and
// remembers the apartment it was called in. One scope at a time, one thread at a time.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace kestrel_test {

class ScopedCoCreateRedirect {
 public:
  ScopedCoCreateRedirect(const CLSID& clsid, IClassFactory* factory);
  ~ScopedCoCreateRedirect();
  ScopedCoCreateRedirect(const ScopedCoCreateRedirect&) = delete;
  ScopedCoCreateRedirect& operator=(const ScopedCoCreateRedirect&) = delete;

  // False when the import could not be found or patched (the test should fail then).
  bool installed() const { return installed_; }
  // Calls for the CLSID, and the apartment type of the last one (APTTYPE_CURRENT when
  // the calling thread was not in COM).
  int calls() const;
  APTTYPE lastCallApartment() const;

 private:
  bool installed_ = false;
};

}  // namespace kestrel_test
