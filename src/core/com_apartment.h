// Scoped COM apartment entries for the enumerators, which run on threads the host owns
// and must leave each thread's apartment as they found it.
#pragma once

#include <windows.h>

// CCoInitialize enters a single-threaded apartment for one endpoint enumeration:
// the constructor calls CoInitializeEx(COINIT_APARTMENTTHREADED) and keeps its result,
// which the owner checks before going on (a thread already in the multithreaded
// apartment gets RPC_E_CHANGED_MODE). The destructor calls CoUninitialize only when
// that result was a success code (S_OK or S_FALSE). Not copyable.
class CCoInitialize {
 public:
  CCoInitialize();
  ~CCoInitialize();
  CCoInitialize(const CCoInitialize&) = delete;
  CCoInitialize& operator=(const CCoInitialize&) = delete;

  HRESULT result() const { return result_; }

 private:
  HRESULT result_ = E_UNEXPECTED;
};

// ComInit is the video enumerator's counted apartment entry. The outermost entry on a
// thread calls CoInitialize and remembers whether it succeeded; whatever it returned,
// the enumeration goes on (in the multithreaded apartment, if the thread is there).
// The exit that brings the count back to 0 calls CoUninitialize only if that
// initialisation succeeded. Count and flag are kept per thread, because apartments
// belong to threads: enumerations that overlap on different threads each enter and
// leave their own. Not copyable.
class ComInit {
 public:
  ComInit();
  ~ComInit();
  ComInit(const ComInit&) = delete;
  ComInit& operator=(const ComInit&) = delete;
};
