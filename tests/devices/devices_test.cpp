// The enumerators against Wine's real DirectShow and Core Audio (fixture webcams and
// microphones), in each COM apartment a host thread may be in, and with class objects
// that refuse to create an enumerator.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "core/com_apartment.h"
#include "core/scoped_handle_win.h"
#include "devices/platform_ids.h"
#include "devices/video_input_win.h"
#include "devices/win_device_util.h"
#include "support/devices.h"
#include "support/fake_com.h"
#include "support/webcam_fixture.h"

namespace kestrel_test {
namespace {

enum class Apartment { None, STA, MTA };

Apartment CurrentApartment() {
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  if (FAILED(CoGetApartmentType(&type, &qualifier))) return Apartment::None;
  return type == APTTYPE_MTA ? Apartment::MTA : Apartment::STA;
}

// On a new thread: enters the apartment, runs body, leaves the apartment; waits for it.
template <typename Body>
void RunOnThread(Apartment apartment, Body&& body) {
  std::thread thread([&] {
    if (apartment != Apartment::None) {
      CoInitializeEx(nullptr,
                     apartment == Apartment::STA ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
    }
    body();
    if (apartment != Apartment::None) CoUninitialize();
    EXPECT_EQ(CurrentApartment(), Apartment::None) << "every entry was matched by an exit";
  });
  thread.join();
}

// Unnamed webcams, and one whose name is a number, are not listed; one without a path is.
const std::vector<Webcam> kWebcams = {
    {L"Cam A", L"\\\\?\\usb#a"},
    {std::nullopt, L"unnamed"},
    {std::nullopt, L"number", true},
    {L"Cam B", std::nullopt},
};
const std::vector<NameAndId> kListedWebcams = {{L"Cam A", L"\\\\?\\usb#a"}, {L"Cam B", L""}};

TEST(Devices, EnumerationsRunInEveryApartmentAndLeaveItAsTheyFoundIt) {
  WebcamFixture webcams(kWebcams);
  for (Apartment apartment : {Apartment::None, Apartment::STA, Apartment::MTA}) {
    SCOPED_TRACE(static_cast<int>(apartment));
    RunOnThread(apartment, [apartment] {
      DeviceInfoList video;
      EXPECT_TRUE(VideoInputWin::EnumDevices(video));
      EXPECT_EQ(NamesAndIds(video), kListedWebcams);
      EXPECT_EQ(CurrentApartment(), apartment);
      // The endpoint enumerator needs a single-threaded apartment of its own.
      DeviceInfoList audio{DeviceInfo{}};
      EXPECT_EQ(WinDeviceUtil::EnumCaptureDevices(audio), apartment != Apartment::MTA);
      EXPECT_EQ(SortedNames(audio),
                apartment == Apartment::MTA ? std::vector<std::string>{} : FixtureMicrophones());
      EXPECT_EQ(CurrentApartment(), apartment);
      for (std::size_t i = 0; apartment == Apartment::STA && i < audio.size(); ++i) {
        // Each id is the system's own text for its endpoint.
        Microsoft::WRL::ComPtr<IMMDeviceEnumerator> enumerator;
        Microsoft::WRL::ComPtr<IMMDevice> endpoint;
        ScopedCoMem<wchar_t> id;
        ASSERT_EQ(
            CoCreateInstance(kMMDeviceEnumeratorClsid, nullptr, CLSCTX_ALL, kMMDeviceEnumeratorIid,
                             reinterpret_cast<void**>(enumerator.GetAddressOf())),
            S_OK);
        ASSERT_EQ(enumerator->GetDevice(audio[i].id.c_str(), endpoint.GetAddressOf()), S_OK);
        ASSERT_EQ(endpoint->GetId(id.Receive()), S_OK);
        EXPECT_EQ(audio[i].id, id.get());
      }
    });
  }
}

TEST(Devices, VideoEnumerationsOverlappingOnTwoThreadsEachEnterTheirOwnApartment) {
  WebcamFixture webcams(kWebcams);
  std::promise<void> entered, done;
  std::thread holder([&] {
    ComInit apartment;  // an enumeration in progress on another thread
    entered.set_value();
    done.get_future().wait();
  });
  entered.get_future().wait();
  RunOnThread(Apartment::None, [] {
    DeviceInfoList video;
    VideoInputWin::EnumDevices(video);
    EXPECT_EQ(NamesAndIds(video), kListedWebcams);
  });
  done.set_value();
  holder.join();
}

TEST(Devices, AnEnumeratorThatCannotBeCreatedGivesAnEmptyList) {
  WebcamFixture webcams(kWebcams);
  RunOnThread(Apartment::STA, [] {
    FakeClassFactory refusing(nullptr);
    refusing.createResult = E_OUTOFMEMORY;
    DWORD cookies[2];
    CoRegisterClassObject(kSystemDeviceEnumClsid, &refusing, CLSCTX_INPROC_SERVER,
                          REGCLS_MULTIPLEUSE, &cookies[0]);
    CoRegisterClassObject(kMMDeviceEnumeratorClsid, &refusing, CLSCTX_INPROC_SERVER,
                          REGCLS_MULTIPLEUSE, &cookies[1]);
    DeviceInfoList list;
    EXPECT_TRUE(VideoInputWin::EnumDevices(list));
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(WinDeviceUtil::EnumCaptureDevices(list));
    EXPECT_TRUE(list.empty());
    for (DWORD cookie : cookies) CoRevokeClassObject(cookie);
  });
}

}  // namespace
}  // namespace kestrel_test
