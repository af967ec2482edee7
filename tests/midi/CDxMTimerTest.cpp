#include "midi/CDxMTimer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/RecordingTimerServices.h"

namespace kv5 {
namespace {

using ::testing::ElementsAre;
using namespace std::chrono_literals;

// The fake reports a resolution of 3 ms, so that the resolution is told apart from the delay.
constexpr TimeCaps kCaps{3, 1000};

class CountingTimer : public CDxMTimer {
 public:
  using CDxMTimer::CDxMTimer;
  ~CountingTimer() { Stop(); }
  void OnTick() override { ++ticks; }
  std::atomic<int> ticks{0};
};

struct Tally {
  std::atomic<int> calls{0};
  std::atomic<uintptr_t> user{0};
};

void CountingProc(uint32_t, uint32_t, uintptr_t user, uintptr_t, uintptr_t) {
  auto* tally = reinterpret_cast<Tally*>(user);
  tally->user = user;
  ++tally->calls;
}

TEST(CDxMTimer, ConstructionReadsTheResolutionAndStartsNothing) {
  RecordingTimerServices services(kCaps);
  CDxMTimer timer(services);
  EXPECT_THAT(services.CallNames(), ElementsAre("timeGetDevCaps"));
  EXPECT_EQ(timer.TimerId(), 0u);
}

TEST(CDxMTimer, StopOnAnIdleTimerMakesNoCall) {
  RecordingTimerServices services(kCaps);
  {
    CDxMTimer timer(services);
    services.ClearLog();
    EXPECT_EQ(timer.Stop(), 1);
    EXPECT_TRUE(services.Calls().empty());
  }
  // Destroying an idle timer calls no timer service either.
  EXPECT_TRUE(services.Calls().empty());
}

TEST(CDxMTimer, StartCreatesAPeriodicEventAtTheFinestResolution) {
  RecordingTimerServices services(kCaps);
  CDxMTimer timer(services);
  services.ClearLog();
  Tally tally;
  const uint32_t id = timer.Start(1, &CountingProc, reinterpret_cast<uintptr_t>(&tally));
  ASSERT_NE(id, 0u);
  EXPECT_EQ(timer.TimerId(), id);
  const auto calls = services.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].ToString(), "timeBeginPeriod(3)");
  EXPECT_EQ(calls[1].ToString(), "timeSetEvent(1, 3, 1)");  // delay, resolution, TIME_PERIODIC
  ASSERT_TRUE(services.Tick(id));
  ASSERT_TRUE(services.Tick(id));
  EXPECT_EQ(tally.calls, 2);
  EXPECT_EQ(tally.user, reinterpret_cast<uintptr_t>(&tally));
}

TEST(CDxMTimer, StartingTwiceLeavesOneEventAndOnePeriod) {
  RecordingTimerServices services(kCaps);
  CDxMTimer timer(services);
  services.ClearLog();
  Tally tally;
  const uint32_t first = timer.Start(1, &CountingProc, reinterpret_cast<uintptr_t>(&tally));
  const uint32_t second = timer.Start(1, &CountingProc, reinterpret_cast<uintptr_t>(&tally));
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  EXPECT_THAT(services.CallNames(),
              ElementsAre("timeBeginPeriod", "timeSetEvent", "timeKillEvent", "timeEndPeriod",
                          "timeBeginPeriod", "timeSetEvent"));
  EXPECT_EQ(services.Calls()[2].args[0], first);
  EXPECT_EQ(services.ActiveEvents(), std::vector<uint32_t>{second});
  EXPECT_EQ(services.OpenPeriods(), 1);
  EXPECT_EQ(timer.TimerId(), second);
}

TEST(CDxMTimer, DestroyingARunningTimerEndsItsEventAndPeriodOnce) {
  RecordingTimerServices services(kCaps);
  uint32_t id = 0;
  {
    CDxMTimer timer(services);
    Tally tally;
    id = timer.Start(1, &CountingProc, reinterpret_cast<uintptr_t>(&tally));
    ASSERT_NE(id, 0u);
    services.ClearLog();
  }
  const auto calls = services.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].ToString(), "timeKillEvent(" + std::to_string(id) + ")");
  EXPECT_EQ(calls[1].ToString(), "timeEndPeriod(3)");
  EXPECT_TRUE(services.ActiveEvents().empty());
  EXPECT_EQ(services.OpenPeriods(), 0);
}

TEST(CDxMTimer, WithoutAProcedureEveryTickCallsOnTick) {
  RecordingTimerServices services(kCaps);
  CountingTimer timer(services);
  Tally unused;
  const uint32_t id = timer.Start(1, nullptr, reinterpret_cast<uintptr_t>(&unused));
  ASSERT_NE(id, 0u);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(services.Tick(id));
  EXPECT_EQ(timer.ticks, 3);
  EXPECT_EQ(unused.calls, 0);

  // The plain timer's OnTick does nothing, and its ticks run safely.
  CDxMTimer plain(services);
  const uint32_t plainId = plain.Start(1, nullptr, 0);
  ASSERT_NE(plainId, 0u);
  EXPECT_TRUE(services.Tick(plainId));
  EXPECT_EQ(timer.ticks, 3);
}

TEST(CDxMTimer, WakeAndRestReachOnlyARunningEvent) {
  RecordingTimerServices services(kCaps);
  CDxMTimer timer(services);
  timer.Wake();
  timer.Rest(100);
  EXPECT_EQ(services.Wakes(), 0u);
  EXPECT_EQ(services.LastRestLimit(), 0u);
  Tally tally;
  ASSERT_NE(timer.Start(1, &CountingProc, reinterpret_cast<uintptr_t>(&tally)), 0u);
  timer.Wake();
  timer.Rest(100);
  EXPECT_EQ(services.Wakes(), 1u);
  EXPECT_EQ(services.LastRestLimit(), 100u);
  timer.Stop();
  timer.Wake();
  EXPECT_EQ(services.Wakes(), 1u);
}

TEST(CDxMTimer, AFailedStartEndsItsPeriodAgain) {
  RecordingTimerServices services(kCaps);
  CDxMTimer timer(services);
  services.ClearLog();
  services.SetFailSetEvent(true);
  Tally tally;
  EXPECT_EQ(timer.Start(1, &CountingProc, reinterpret_cast<uintptr_t>(&tally)), 0u);
  EXPECT_EQ(timer.TimerId(), 0u);
  EXPECT_THAT(services.CallNames(),
              ElementsAre("timeBeginPeriod", "timeSetEvent", "timeEndPeriod"));
  EXPECT_EQ(services.OpenPeriods(), 0);
  EXPECT_EQ(services.TickAll(), 0u);
  services.ClearLog();
  EXPECT_EQ(timer.Stop(), 1);
  EXPECT_TRUE(services.Calls().empty());
}

// On the platform's own timer: a Stop that comes while a tick runs returns only after that tick,
// and no tick starts afterwards.
struct SlowTick {
  std::atomic<bool> inside{false};
  std::atomic<bool> finished{false};
  std::atomic<int> started{0};
};

void SleepingProc(uint32_t, uint32_t, uintptr_t user, uintptr_t, uintptr_t) {
  auto* slow = reinterpret_cast<SlowTick*>(user);
  ++slow->started;
  slow->inside = true;
  std::this_thread::sleep_for(80ms);
  slow->finished = true;
  slow->inside = false;
}

TEST(CDxMTimer, StopWaitsForARunningTickOnTheSystemTimer) {
  auto services = MakeSystemTimerServices();
  SlowTick slow;
  CDxMTimer timer(*services);
  ASSERT_NE(timer.Start(1, &SleepingProc, reinterpret_cast<uintptr_t>(&slow)), 0u);
  const auto limit = std::chrono::steady_clock::now() + 10s;
  while (!slow.inside && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(slow.inside);
  EXPECT_EQ(timer.Stop(), 1);
  EXPECT_FALSE(slow.inside);
  EXPECT_TRUE(slow.finished);
  const int started = slow.started;
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(slow.started, started);
}

TEST(CDxMTimer, TicksOnTheSystemTimerReachOnTick) {
  auto services = MakeSystemTimerServices();
  CountingTimer timer(*services);
  ASSERT_NE(timer.Start(1, nullptr, 0), 0u);
  const auto limit = std::chrono::steady_clock::now() + 10s;
  while (timer.ticks < 5 && std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_GE(timer.ticks, 5);
  timer.Stop();
  const int ticks = timer.ticks;
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(timer.ticks, ticks);
}

}  // namespace
}  // namespace kv5
