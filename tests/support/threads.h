// Running test code on a fresh thread in a chosen COM apartment.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <thread>

namespace kestrel_test {

enum class Apartment { None, STA, MTA };

inline Apartment CurrentApartment() {
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  if (FAILED(CoGetApartmentType(&type, &qualifier))) return Apartment::None;
  return type == APTTYPE_MTA ? Apartment::MTA : Apartment::STA;
}

// Enters the apartment, runs body, leaves the apartment, on a new thread; waits for it.
template <typename Body>
void RunOnThread(Apartment apartment, Body&& body) {
  std::thread thread([&] {
    if (apartment != Apartment::None) {
      CoInitializeEx(nullptr, apartment == Apartment::STA ? COINIT_APARTMENTTHREADED
                                                          : COINIT_MULTITHREADED);
    }
    body();
    if (apartment != Apartment::None) CoUninitialize();
  });
  thread.join();
}

}  // namespace kestrel_test
