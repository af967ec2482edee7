#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/timer/TimerServices.h"

namespace kv5 {
namespace {

using namespace std::chrono_literals;

struct Probe {
  std::atomic<int> calls{0};
  std::atomic<int> running{0};
  std::atomic<int> mostAtOnce{0};
  std::atomic<bool> finished{false};
  std::atomic<uint32_t> lastId{0};
  std::chrono::milliseconds work{0};
  TimerServices* services = nullptr;
  bool killFromInside = false;
  std::atomic<uint32_t> restLimit{0};  // when set, every tick rests this long
};

void Procedure(uint32_t id, uint32_t, uintptr_t user, uintptr_t, uintptr_t) {
  auto* probe = reinterpret_cast<Probe*>(user);
  const int now = ++probe->running;
  int most = probe->mostAtOnce;
  while (now > most && !probe->mostAtOnce.compare_exchange_weak(most, now)) {
  }
  probe->lastId = id;
  probe->finished = false;
  if (probe->work.count() > 0) std::this_thread::sleep_for(probe->work);
  ++probe->calls;
  if (probe->killFromInside) probe->services->KillEvent(id);
  if (probe->restLimit != 0) probe->services->RestEvent(id, probe->restLimit);
  probe->finished = true;
  --probe->running;
}

bool WaitForCalls(const Probe& probe, int count) {
  const auto limit = std::chrono::steady_clock::now() + 10s;
  while (probe.calls < count) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(ThreadTimerServices, ReportsAOneMillisecondResolution) {
  auto services = MakeSystemTimerServices();
  TimeCaps caps;
  ASSERT_EQ(services->GetDevCaps(&caps), TIMERR_NOERROR);
  EXPECT_EQ(caps.wPeriodMin, 1u);
  EXPECT_GE(caps.wPeriodMax, 1000u);
  EXPECT_EQ(services->BeginPeriod(caps.wPeriodMin), TIMERR_NOERROR);
  EXPECT_EQ(services->EndPeriod(caps.wPeriodMin), TIMERR_NOERROR);
  EXPECT_NE(services->BeginPeriod(0), TIMERR_NOERROR);
}

TEST(ThreadTimerServices, PeriodicEventTicksOneCallAtATimeUntilKilled) {
  auto services = MakeSystemTimerServices();
  Probe probe;
  probe.work = 3ms;  // longer than the period: later ticks wait, they never overlap
  const uint32_t id =
      services->SetEvent(1, 1, &Procedure, reinterpret_cast<uintptr_t>(&probe), TIME_PERIODIC);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(WaitForCalls(probe, 10));
  EXPECT_EQ(services->KillEvent(id), TIMERR_NOERROR);
  EXPECT_EQ(probe.mostAtOnce, 1);
  EXPECT_EQ(probe.lastId, id);
  const int calls = probe.calls;
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(probe.calls, calls);
  EXPECT_EQ(services->KillEvent(id), TIMERR_NOCANDO);
}

TEST(ThreadTimerServices, KillEventWaitsForARunningTick) {
  auto services = MakeSystemTimerServices();
  Probe probe;
  probe.work = 100ms;
  const uint32_t id =
      services->SetEvent(1, 1, &Procedure, reinterpret_cast<uintptr_t>(&probe), TIME_PERIODIC);
  ASSERT_NE(id, 0u);
  while (probe.running == 0) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(services->KillEvent(id), TIMERR_NOERROR);
  EXPECT_EQ(probe.running, 0);
  EXPECT_TRUE(probe.finished);
  EXPECT_EQ(probe.calls, 1);
}

TEST(ThreadTimerServices, KillFromInsideTheProcedureEndsTheEvent) {
  auto services = MakeSystemTimerServices();
  Probe probe;
  probe.services = services.get();
  probe.killFromInside = true;
  const uint32_t id =
      services->SetEvent(1, 1, &Procedure, reinterpret_cast<uintptr_t>(&probe), TIME_PERIODIC);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(WaitForCalls(probe, 1));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(probe.calls, 1);
  // A later event still works, and the ended thread is joined on the way.
  Probe second;
  const uint32_t next =
      services->SetEvent(1, 1, &Procedure, reinterpret_cast<uintptr_t>(&second), TIME_PERIODIC);
  ASSERT_NE(next, 0u);
  EXPECT_NE(next, id);
  ASSERT_TRUE(WaitForCalls(second, 3));
  EXPECT_EQ(services->KillEvent(next), TIMERR_NOERROR);
}

TEST(ThreadTimerServices, OneShotEventRunsOnce) {
  auto services = MakeSystemTimerServices();
  Probe probe;
  const uint32_t id =
      services->SetEvent(2, 1, &Procedure, reinterpret_cast<uintptr_t>(&probe), TIME_ONESHOT);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(WaitForCalls(probe, 1));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(probe.calls, 1);
  EXPECT_EQ(services->KillEvent(id), TIMERR_NOCANDO);
}

TEST(ThreadTimerServices, RefusesEventsItCannotRun) {
  auto services = MakeSystemTimerServices();
  Probe probe;
  const auto user = reinterpret_cast<uintptr_t>(&probe);
  EXPECT_EQ(services->SetEvent(0, 1, &Procedure, user, TIME_PERIODIC), 0u);
  EXPECT_EQ(services->SetEvent(1, 1, nullptr, user, TIME_PERIODIC), 0u);
  EXPECT_EQ(services->KillEvent(12345), TIMERR_NOCANDO);
  EXPECT_EQ(services->WakeEvent(12345), TIMERR_NOCANDO);
  EXPECT_EQ(services->RestEvent(12345, 100), TIMERR_NOCANDO);
}

TEST(ThreadTimerServices, ARestingEventTicksAgainOnlyWhenWoken) {
  auto services = MakeSystemTimerServices();
  Probe probe;
  probe.services = services.get();
  probe.restLimit = 1000000;
  const uint32_t id =
      services->SetEvent(1, 1, &Procedure, reinterpret_cast<uintptr_t>(&probe), TIME_PERIODIC);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(WaitForCalls(probe, 1));
  std::this_thread::sleep_for(30ms);  // some thirty periods
  EXPECT_EQ(probe.calls, 1);
  EXPECT_EQ(services->WakeEvent(id), TIMERR_NOERROR);
  ASSERT_TRUE(WaitForCalls(probe, 2));
  // A tick that does not rest puts the event back on its period.
  probe.restLimit = 0;
  EXPECT_EQ(services->WakeEvent(id), TIMERR_NOERROR);
  EXPECT_TRUE(WaitForCalls(probe, 10));
  EXPECT_EQ(services->KillEvent(id), TIMERR_NOERROR);
}

TEST(ThreadTimerServices, WakesDuringATickBringOneMoreTickAfterIt) {
  auto services = MakeSystemTimerServices();
  Probe probe;
  probe.work = 50ms;
  // A period far longer than the test: every tick here is a wake's.
  const uint32_t id = services->SetEvent(1000000, 1, &Procedure,
                                         reinterpret_cast<uintptr_t>(&probe), TIME_PERIODIC);
  ASSERT_NE(id, 0u);
  EXPECT_EQ(services->WakeEvent(id), TIMERR_NOERROR);
  while (probe.running == 0) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(services->WakeEvent(id), TIMERR_NOERROR);
  EXPECT_EQ(services->WakeEvent(id), TIMERR_NOERROR);
  ASSERT_TRUE(WaitForCalls(probe, 2));
  std::this_thread::sleep_for(80ms);
  EXPECT_EQ(probe.calls, 2);
  EXPECT_EQ(probe.mostAtOnce, 1);
  EXPECT_EQ(services->KillEvent(id), TIMERR_NOERROR);
}

TEST(ThreadTimerServices, ARestEndsByItsLimitWithoutAWake) {
  auto services = MakeSystemTimerServices();
  Probe probe;
  probe.services = services.get();
  probe.restLimit = 5;
  // A period far longer than the test: every tick after the first is a rest's end.
  const uint32_t id = services->SetEvent(1000000, 1, &Procedure,
                                         reinterpret_cast<uintptr_t>(&probe), TIME_PERIODIC);
  ASSERT_NE(id, 0u);
  EXPECT_EQ(services->WakeEvent(id), TIMERR_NOERROR);
  EXPECT_TRUE(WaitForCalls(probe, 3));
  EXPECT_EQ(services->KillEvent(id), TIMERR_NOERROR);
}

TEST(ThreadTimerServices, DestructionEndsEveryEvent) {
  Probe first, second;
  {
    auto services = MakeSystemTimerServices();
    ASSERT_NE(
        services->SetEvent(1, 1, &Procedure, reinterpret_cast<uintptr_t>(&first), TIME_PERIODIC),
        0u);
    ASSERT_NE(
        services->SetEvent(1, 1, &Procedure, reinterpret_cast<uintptr_t>(&second), TIME_PERIODIC),
        0u);
    ASSERT_TRUE(WaitForCalls(first, 2));
    ASSERT_TRUE(WaitForCalls(second, 2));
  }
  const int a = first.calls, b = second.calls;
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(first.calls, a);
  EXPECT_EQ(second.calls, b);
}

}  // namespace
}  // namespace kv5
