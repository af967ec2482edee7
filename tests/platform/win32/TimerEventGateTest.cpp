// The gate between winmm's timer thread and a timer procedure: a kill waits for the call under
// way, no call reaches the procedure after the kill, and a procedure may kill its own event.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/timer/win32/TimerEventGate.h"

namespace kv5 {
namespace {

using namespace std::chrono_literals;

struct Probe {
  std::atomic<int> calls{0};
  std::atomic<bool> inside{false};
  std::atomic<bool> release{false};
  TimerEventGate* gate = nullptr;
  std::atomic<int> closedFromInside{-1};
};

void Blocking(uint32_t, uint32_t, uintptr_t user, uintptr_t, uintptr_t) {
  auto* probe = reinterpret_cast<Probe*>(user);
  ++probe->calls;
  probe->inside = true;
  while (!probe->release) std::this_thread::sleep_for(1ms);
  probe->inside = false;
}

void KillsItself(uint32_t, uint32_t, uintptr_t user, uintptr_t, uintptr_t) {
  auto* probe = reinterpret_cast<Probe*>(user);
  ++probe->calls;
  probe->closedFromInside = probe->gate->Close() ? 1 : 0;
}

bool WaitFor(const std::atomic<bool>& flag) {
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (!flag) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(TimerEventGate, AKillWaitsForTheCallUnderWayAndLetsNoLaterCallThrough) {
  Probe probe;
  TimerEventGate gate(&Blocking, reinterpret_cast<uintptr_t>(&probe));
  std::thread timerThread([&] { gate.Run(7, 0); });
  ASSERT_TRUE(WaitFor(probe.inside));

  EXPECT_FALSE(gate.Close());  // not from inside the call
  std::atomic<bool> idle{false};
  std::thread killer([&] {
    gate.WaitUntilIdle();
    idle = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(idle) << "the kill returned while the call was still under way";
  probe.release = true;
  killer.join();
  EXPECT_TRUE(idle);
  EXPECT_FALSE(probe.inside);
  timerThread.join();

  // A tick winmm dispatched before the kill arrives late: it does not reach the procedure.
  gate.Run(7, 0);
  EXPECT_EQ(probe.calls, 1);
}

TEST(TimerEventGate, AProcedureThatKillsItsOwnEventDoesNotWaitForItself) {
  Probe probe;
  TimerEventGate gate(&KillsItself, reinterpret_cast<uintptr_t>(&probe));
  probe.gate = &gate;
  std::thread timerThread([&] { gate.Run(3, 0); });
  timerThread.join();
  EXPECT_EQ(probe.closedFromInside, 1);
  gate.WaitUntilIdle();  // returns at once: the call has ended
  gate.Run(3, 0);
  EXPECT_EQ(probe.calls, 1);
}

}  // namespace
}  // namespace kv5
