// The enumerators against Wine's real DirectShow and Core Audio (fixture webcams and
// microphones), in each COM apartment a host thread may be in, and with class objects
// that refuse to create an enumerator.
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <thread>

#include "core/com_apartment.h"
#include "core/scoped_handle_win.h"
#include "devices/platform_ids.h"
#include "devices/video_input.h"
#include "devices/device_events.h"
#include "devices/endpoint_enumeration.h"
#include "support/devices.h"
#include "support/fake_com_win.h"
#include "support/log_capture.h"
#include "support/webcam_fixture_win.h"

// After the fixture, whose swprintf the safe-string header would otherwise forbid.
#include <dshow.h>

namespace kestrel_test {
namespace {

using Microsoft::WRL::ComPtr;

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
    {"Cam A", "\\\\?\\usb#a"},
    {std::nullopt, "unnamed"},
    {std::nullopt, "number", true},
    {"Cam B", std::nullopt},
};
const std::vector<NameAndId> kListedWebcams = {{L"Cam A", L"\\\\?\\usb#a"}, {L"Cam B", L""}};

TEST(Devices, EnumerationsRunInEveryApartmentAndLeaveItAsTheyFoundIt) {
  WebcamFixture webcams(kWebcams);
  for (Apartment apartment : {Apartment::None, Apartment::STA, Apartment::MTA}) {
    SCOPED_TRACE(static_cast<int>(apartment));
    RunOnThread(apartment, [apartment] {
      const ScopedLogThreshold debug;
      DeviceInfoList video;
      EXPECT_TRUE(VideoInput::EnumDevices(video));
      EXPECT_EQ(NamesAndIds(video), kListedWebcams);
      EXPECT_EQ(CurrentApartment(), apartment);
      // The endpoint enumerator needs a single-threaded apartment of its own.
      DeviceInfoList audio{DeviceInfo{}};
      EXPECT_EQ(WinDeviceUtil::EnumCaptureDevices(audio), apartment != Apartment::MTA);
      EXPECT_EQ(SortedNames(audio),
                apartment == Apartment::MTA ? std::vector<std::string>{} : FixtureMicrophones());
      EXPECT_EQ(CurrentApartment(), apartment);
      if (apartment != Apartment::STA) return;
      const std::string lines = debug.Lines();
      EXPECT_EQ(lines.find("the endpoint is not active"), std::string::npos)
          << "listed, not left out";
      ExpectLogged(lines,
                   "(path \"unnamed\"): not listed, no name|device 3 \"Cam B\": listed, id \"\"|"
                   "\"In: Unplugged\" ({0.0.1.00000000}.{4B657374-0000-4000-8000-556E706C7567}): "
                   "not listed, the endpoint is not present");
      Microsoft::WRL::ComPtr<IMMDeviceEnumerator> enumerator;
      ASSERT_EQ(
          CoCreateInstance(kMMDeviceEnumeratorClsid, nullptr, CLSCTX_ALL, kMMDeviceEnumeratorIid,
                           reinterpret_cast<void**>(enumerator.GetAddressOf())),
          S_OK);
      Microsoft::WRL::ComPtr<IMMDeviceCollection> unplugged;  // known, but not listed above
      UINT count = 0;
      ASSERT_EQ(enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_NOTPRESENT,
                                               unplugged.GetAddressOf()),
                S_OK);
      EXPECT_TRUE(SUCCEEDED(unplugged->GetCount(&count)) && count == 1);
      for (const DeviceInfo& device : audio) {
        ExpectLogged(lines, ConvertWideToUtf8((L'"' + device.name + L"\" guid \"" + device.guid +
                                               L"\" devId \"" + device.id + L'"')
                                                  .c_str()));
        // Each id is the system's own text for its endpoint.
        Microsoft::WRL::ComPtr<IMMDevice> endpoint;
        ScopedCoMem<wchar_t> id;
        ASSERT_EQ(enumerator->GetDevice(device.id.c_str(), endpoint.GetAddressOf()), S_OK);
        ASSERT_EQ(endpoint->GetId(id.Receive()), S_OK);
        EXPECT_EQ(device.id, id.get());
      }
    });
  }
}

TEST(Devices, VideoEnumerationsOverlappingOnTwoThreadsEachEnterTheirOwnApartment) {
  WebcamFixture webcams(kWebcams);
  std::promise<void> entered, done;
  std::thread holder([&] {
    {
      ComInit apartment;  // an enumeration in progress on another thread, which leaves last
      entered.set_value();
      done.get_future().wait();
    }
    EXPECT_EQ(CurrentApartment(), Apartment::None);
  });
  entered.get_future().wait();
  RunOnThread(Apartment::None, [] {
    DeviceInfoList video;
    VideoInput::EnumDevices(video);
    EXPECT_EQ(NamesAndIds(video), kListedWebcams);
  });
  done.set_value();
  holder.join();
}

// Hands out the given monikers in turn, as DirectShow's class enumerator would.
class FakeMonikers : public FakeComObject<IEnumMoniker> {
 public:
  explicit FakeMonikers(std::vector<ComPtr<IMoniker>> monikers)
      : FakeComObject(IID_IEnumMoniker), monikers_(std::move(monikers)) {}
  HRESULT STDMETHODCALLTYPE Next(ULONG, IMoniker** moniker, ULONG*) override {
    if (next_ == monikers_.size()) return S_FALSE;
    *moniker = monikers_[next_++].Get();
    (*moniker)->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumMoniker**) override { return E_NOTIMPL; }

 private:
  std::vector<ComPtr<IMoniker>> monikers_;
  std::size_t next_ = 0;
};

class FakeDeviceEnumerator : public FakeComObject<ICreateDevEnum> {
 public:
  explicit FakeDeviceEnumerator(IEnumMoniker* monikers)
      : FakeComObject(IID_ICreateDevEnum), monikers_(monikers) {}
  HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID, IEnumMoniker** out, DWORD) override {
    return monikers_->QueryInterface(IID_IEnumMoniker, reinterpret_cast<void**>(out));
  }

 private:
  IEnumMoniker* monikers_;
};

TEST(Devices, FaultsOfTheSystemsEnumeratorsShortenTheListOnlyByWhatFailed) {
  DrainLibraryLog();
  RunOnThread(Apartment::STA, [] {
    DeviceInfoList none;
    EXPECT_TRUE(VideoInput::EnumDevices(none) && none.empty());
  });
  EXPECT_TRUE(DrainLibraryLog().empty()) << "a machine without a webcam has no error";
  WebcamFixture webcams(kWebcams);
  RunOnThread(Apartment::STA, [] {
    // The fixture's webcams, with one whose properties cannot be opened after the first.
    std::vector<ComPtr<IMoniker>> monikers(1);
    ComPtr<ICreateDevEnum> system;
    ComPtr<IEnumMoniker> real;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICreateDevEnum, reinterpret_cast<void**>(system.GetAddressOf())),
              S_OK);
    ASSERT_EQ(system->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &real, 0), S_OK);
    for (ComPtr<IMoniker> next; real->Next(1, next.ReleaseAndGetAddressOf(), nullptr) == S_OK;)
      monikers.push_back(next);
    ASSERT_EQ(CreateFileMoniker(L"Z:\\no\\such\\file", &monikers[0]), S_OK);
    std::swap(monikers[0], monikers[1]);
    FakeMonikers fakeMonikers(monikers);
    FakeDeviceEnumerator devices(&fakeMonikers);
    FakeClassFactory listing(&devices), refusing(nullptr);
    refusing.createResult = E_OUTOFMEMORY;
    DWORD cookies[2];
    CoRegisterClassObject(kSystemDeviceEnumClsid, &listing, CLSCTX_INPROC_SERVER,
                          REGCLS_MULTIPLEUSE, &cookies[0]);
    CoRegisterClassObject(kMMDeviceEnumeratorClsid, &refusing, CLSCTX_INPROC_SERVER,
                          REGCLS_MULTIPLEUSE, &cookies[1]);
    DeviceInfoList list;
    EXPECT_TRUE(VideoInput::EnumDevices(list));
    EXPECT_EQ(NamesAndIds(list), kListedWebcams);
    EXPECT_FALSE(WinDeviceUtil::EnumCaptureDevices(list));
    EXPECT_TRUE(list.empty());
    CoRevokeClassObject(cookies[0]);
    CoRegisterClassObject(kSystemDeviceEnumClsid, &refusing, CLSCTX_INPROC_SERVER,
                          REGCLS_MULTIPLEUSE, &cookies[0]);
    EXPECT_TRUE(VideoInput::EnumDevices(list));
    EXPECT_TRUE(list.empty());
    for (DWORD cookie : cookies) CoRevokeClassObject(cookie);
    EXPECT_EQ(fakeMonikers.outstanding() + devices.outstanding(), 0);
  });
}

}  // namespace
}  // namespace kestrel_test

// Wine builds its endpoint list once per process and sends no endpoint notification: the
// one the system would send is delivered here, from a thread of its own as the system's
// are. It reaches the waiting call and the descriptor; the webcams, which Wine cannot
// notify either, are listed again at their pace.
TEST(Devices, NotificationsReachTheWaitAndTheDescriptor) {
  using Clock = DeviceEvents::Clock;
  auto events = DeviceEvents::Create();
  ASSERT_NE(events, nullptr);
  events->Follow(MMDR_WATCH_AUDIO);
  auto* client = static_cast<IMMNotificationClient*>(events->EndpointClientForTesting());
  ASSERT_NE(client, nullptr) << "registered with Wine's endpoint enumerator";
  // The system may hold the client as IUnknown; what it is handed, it owns a reference to.
  const ULONG held = client->AddRef();
  IUnknown* unknown = nullptr;
  ASSERT_EQ(client->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(unknown, static_cast<IUnknown*>(client));
  EXPECT_EQ(unknown->Release(), held);
  const auto descriptor = reinterpret_cast<HANDLE>(events->Descriptor());
  auto start = Clock::now();
  EXPECT_EQ(events->Wait(start + std::chrono::milliseconds(300)), 0U) << "nothing, then";
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300)) << "not before its time";
  EXPECT_EQ(WaitForSingleObject(descriptor, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  const wchar_t* const id = L"{0.0.1.00000000}.{new}";
  const std::function<void()> notifications[] = {
      [client, id] { client->OnDeviceAdded(id); },
      [client, id] { client->OnDeviceStateChanged(id, DEVICE_STATE_UNPLUGGED); },
      [client, id] { client->OnDeviceRemoved(id); },
      [client, id] { client->OnPropertyValueChanged(id, PROPERTYKEY{}); },
  };
  for (const auto& notify : notifications) {
    std::thread(notify).join();
    EXPECT_EQ(WaitForSingleObject(descriptor, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(events->Wait(Clock::now() + std::chrono::milliseconds(300)),
              std::uint32_t{MMDR_WATCH_AUDIO});
    EXPECT_EQ(WaitForSingleObject(descriptor, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "at rest";
  }
  // The caller's settling time ends a wait, and so does a close from another thread.
  events->WakeAt(Clock::now() + std::chrono::milliseconds(100));
  start = Clock::now();
  EXPECT_EQ(events->Wait(start + std::chrono::seconds(60)), 0U);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << "settled";
  std::thread closer([&events] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    events->Interrupt();
  });
  EXPECT_EQ(events->Wait(Clock::now() + std::chrono::seconds(60)), 0U);
  closer.join();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << "interrupted";
  events.reset();
  {
    const CCoInitialize apartment;
    Microsoft::WRL::ComPtr<IMMDeviceEnumerator> enumerator;
    ASSERT_EQ(
        CoCreateInstance(kMMDeviceEnumeratorClsid, nullptr, CLSCTX_ALL, kMMDeviceEnumeratorIid,
                         reinterpret_cast<void**>(enumerator.GetAddressOf())),
        S_OK);
    EXPECT_NE(enumerator->UnregisterEndpointNotificationCallback(client), S_OK) << "gone already";
  }
  EXPECT_EQ(client->Release(), 0U) << "released by the watch";

  events = DeviceEvents::Create();
  events->Follow(MMDR_WATCH_VIDEO);
  EXPECT_EQ(events->Wait(Clock::now() + std::chrono::seconds(2)), std::uint32_t{MMDR_WATCH_VIDEO})
      << "Wine has no device-interface notifications: the webcams are listed again";
}
