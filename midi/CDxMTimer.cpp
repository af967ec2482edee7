#include "midi/CDxMTimer.h"

namespace kv5 {

CDxMTimer::CDxMTimer(TimerServices& services) : services_(services) {
  services_.GetDevCaps(&Caps);
}

CDxMTimer::~CDxMTimer() {
  Stop();
}

uint32_t CDxMTimer::Start(uint32_t delayMs, TimerProc procedure, uintptr_t user) {
  Stop();
  services_.BeginPeriod(Caps.wPeriodMin);
  if (procedure == nullptr) {
    procedure = &CDxMTimer::DefaultTimerProc;
    user = reinterpret_cast<uintptr_t>(this);
  }
  const uint32_t id = services_.SetEvent(delayMs, Caps.wPeriodMin, procedure, user, TIME_PERIODIC);
  timerId_.store(id);
  if (id == 0) services_.EndPeriod(Caps.wPeriodMin);
  return id;
}

int CDxMTimer::Stop() {
  const uint32_t id = timerId_.load();
  if (id != 0) {
    // KillEvent returns only when no tick runs or can start (from inside a tick: when none can
    // start), so whatever the ticks touch may be torn down once Stop returns.
    services_.KillEvent(id);
    services_.EndPeriod(Caps.wPeriodMin);
  }
  timerId_.store(0);
  return 1;
}

void CDxMTimer::Wake() {
  // A wake that meets an event being killed finds its id unknown to the services and does nothing.
  const uint32_t id = timerId_.load();
  if (id != 0) services_.WakeEvent(id);
}

void CDxMTimer::Rest(uint32_t restLimitMs) {
  const uint32_t id = timerId_.load();
  if (id != 0) services_.RestEvent(id, restLimitMs);
}

void CDxMTimer::DefaultTimerProc(uint32_t /*id*/, uint32_t /*message*/, uintptr_t user,
                                 uintptr_t /*r1*/, uintptr_t /*r2*/) {
  reinterpret_cast<CDxMTimer*>(user)->OnTick();
}

}  // namespace kv5
