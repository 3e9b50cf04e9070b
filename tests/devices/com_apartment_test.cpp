// Both apartment guards on threads outside COM, in a single-threaded apartment and in
// the multithreaded apartment: each must leave the thread's apartment as it found it.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/com_apartment.h"
#include "devices/device_test_util.h"
#include "devices/video_input_win.h"
#include "support/webcam_fixture.h"

namespace kestrel_test {
namespace {

void ExpectApartmentIs(ThreadApartment expected, const ApartmentState& state) {
  switch (expected) {
    case ThreadApartment::None: EXPECT_FALSE(state.InCom()); break;
    case ThreadApartment::Sta: EXPECT_TRUE(state.IsSta()); break;
    case ThreadApartment::Mta: EXPECT_TRUE(state.IsMta()); break;
  }
}

class ApartmentTest : public ::testing::TestWithParam<ThreadApartment> {};

TEST_P(ApartmentTest, CCoInitializeEntersAnStaOnlyWhereItCanAndLeavesAsItFound) {
  const ThreadApartment start = GetParam();
  RunOnThreadIn(start, [start] {
    {
      CCoInitialize guard;
      switch (start) {
        case ThreadApartment::None: EXPECT_EQ(guard.result(), S_OK); break;
        case ThreadApartment::Sta: EXPECT_EQ(guard.result(), S_FALSE); break;
        case ThreadApartment::Mta: EXPECT_EQ(guard.result(), RPC_E_CHANGED_MODE); break;
      }
      ExpectApartmentIs(start == ThreadApartment::Mta ? ThreadApartment::Mta : ThreadApartment::Sta,
                        CurrentApartment());
    }
    ExpectApartmentIs(start, CurrentApartment());
  });
}

// ComInit goes on in whatever apartment it finds; in the MTA it must not uninitialise.
TEST_P(ApartmentTest, ComInitEnumeratesAndLeavesTheApartmentAsItFound) {
  const ThreadApartment start = GetParam();
  WebcamFixture webcams;
  ASSERT_FALSE(webcams.Add(WebcamSpec::Complete(L"Cam " + webcams.token(), L"p")).empty());
  RunOnThreadIn(start, [&] {
    {
      ComInit guard;
      ExpectApartmentIs(start == ThreadApartment::Mta ? ThreadApartment::Mta : ThreadApartment::Sta,
                        CurrentApartment());
    }
    ExpectApartmentIs(start, CurrentApartment());

    // Twice in a row through the enumerator: each run lists the device and restores.
    for (int run = 0; run < 2; ++run) {
      SCOPED_TRACE(run);
      DeviceInfoList list;
      EXPECT_TRUE(VideoInputWin::EnumDevices(list));
      std::size_t ours = 0;
      for (const DeviceInfo& device : list) {
        ours += device.name == L"Cam " + webcams.token() ? 1 : 0;
      }
      EXPECT_EQ(ours, 1u);
      ExpectApartmentIs(start, CurrentApartment());
      EXPECT_EQ(ComInit::ActiveCountOnThisThread(), 0);
    }
  });
}

INSTANTIATE_TEST_SUITE_P(AllStarts, ApartmentTest,
                         kAllThreadApartments, ThreadApartmentTestName);

TEST(ComInitTest, NestedEntryInitialisesOnceAndTheOuterExitUninitialises) {
  RunOnThreadIn(ThreadApartment::None, [] {
    {
      ComInit outer;
      {
        ComInit inner;
        EXPECT_EQ(ComInit::ActiveCountOnThisThread(), 2);
      }
      EXPECT_TRUE(CurrentApartment().IsSta());
    }
    EXPECT_FALSE(CurrentApartment().InCom());
  });
}

// Apartments belong to threads: a second thread entering while the first is inside
// must still initialise (and later uninitialise) its own.
TEST(ComInitTest, OverlappingEntriesOnTwoThreadsEachEnterTheirOwnApartment) {
  std::mutex mutex;
  std::condition_variable changed;
  int stage = 0;  // 1: first inside; 2: second done
  auto waitFor = [&](int wanted) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(30), [&] { return stage >= wanted; });
  };
  auto advanceTo = [&](int next) {
    std::lock_guard<std::mutex> lock(mutex);
    stage = next;
    changed.notify_all();
  };

  std::thread first([&] {
    {
      ComInit guard;
      advanceTo(1);
      EXPECT_TRUE(waitFor(2));
      EXPECT_TRUE(CurrentApartment().IsSta());
    }
    EXPECT_FALSE(CurrentApartment().InCom());
  });
  std::thread second([&] {
    EXPECT_TRUE(waitFor(1));
    {
      ComInit guard;
      EXPECT_TRUE(CurrentApartment().IsSta());
    }
    EXPECT_FALSE(CurrentApartment().InCom());
    advanceTo(2);
  });
  first.join();
  second.join();
}

}  // namespace
}  // namespace kestrel_test
