// The Windows timer behind the timer class: winmm's resolution, and stops that come right after a
// start, while its thread may not have begun, never let a tick outlive them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "midi/CDxMTimer.h"
#include "platform/timer/TimerServices.h"

#include <windows.h>

#include <mmsystem.h>

namespace kv5 {
namespace {

using namespace std::chrono_literals;

struct TickProbe {
  std::atomic<int> ticks{0};
  std::atomic<bool> inside{false};
};

void Tick(uint32_t, uint32_t, uintptr_t user, uintptr_t, uintptr_t) {
  auto* probe = reinterpret_cast<TickProbe*>(user);
  probe->inside = true;
  std::this_thread::yield();
  ++probe->ticks;
  probe->inside = false;
}

bool WaitFor(const std::function<bool()>& condition) {
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(Win32Timer, ReportsWinmmsResolution) {
  auto services = MakeSystemTimerServices();
  TimeCaps caps;
  ASSERT_EQ(services->GetDevCaps(&caps), TIMERR_NOERROR);
  TIMECAPS platform{};
  ASSERT_EQ(timeGetDevCaps(&platform, sizeof platform), static_cast<MMRESULT>(TIMERR_NOERROR));
  EXPECT_EQ(caps.wPeriodMin, platform.wPeriodMin);
  EXPECT_EQ(caps.wPeriodMax, platform.wPeriodMax);
}

TEST(Win32Timer, RestartingWhileTicksRunNeverLetsATickOutliveItsStop) {
  auto services = MakeSystemTimerServices();
  CDxMTimer timer(*services);
  for (int round = 0; round < 200; ++round) {
    TickProbe probe;
    ASSERT_NE(timer.Start(1, &Tick, reinterpret_cast<uintptr_t>(&probe)), 0u);
    if (round % 4 == 0) {
      ASSERT_TRUE(WaitFor([&] { return probe.ticks > 0; }));
    }
    timer.Stop();
    // The probe goes out of scope here; a tick that still ran would touch it.
    ASSERT_FALSE(probe.inside) << round;
  }
}

}  // namespace
}  // namespace kv5
