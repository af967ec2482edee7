// The periodic timer of Windows: one thread per event, sleeping in WaitOnAddress on a counter of
// notices with the time left to its next deadline as the timeout. A wake or a kill bumps the
// counter, so a tick comes early or the thread ends at once; a tick that rests lets the thread
// sleep up to its rest limit, and an idle window then wakes a few times a second instead of a
// thousand. WaitOnAddress needs no kernel object: under Wine it stays inside the process, where a
// wait on an event object goes through the Wine server and wakes late when the machine is busy.
//
// A wait's timeout counts in the system's timer resolution, so every event holds a
// timeBeginPeriod of its resolution for as long as it runs, as the multimedia timer does for its
// own events: 1 ms waits are then 1 ms, not the default tick of 15.6 ms.
#include <algorithm>
#include <chrono>
#include <memory>

#include "platform/timer/TimerEventThreads.h"
#include "platform/timer/TimerServices.h"

#include <windows.h>

#include <mmsystem.h>

namespace kv5 {
namespace {

class AddressSignal : public TimerSignal {
 public:
  static std::unique_ptr<TimerSignal> Make(uint32_t resolution) {
    return std::make_unique<AddressSignal>(resolution);
  }

  explicit AddressSignal(uint32_t resolution) {
    TIMECAPS caps{};
    if (timeGetDevCaps(&caps, sizeof caps) != TIMERR_NOERROR) return;
    // 0 asks for the finest resolution, as with timeSetEvent.
    const UINT period = std::clamp<UINT>(resolution, caps.wPeriodMin, caps.wPeriodMax);
    if (timeBeginPeriod(period) == TIMERR_NOERROR) period_ = period;
  }
  ~AddressSignal() override { Ended(); }
  AddressSignal(const AddressSignal&) = delete;
  AddressSignal& operator=(const AddressSignal&) = delete;

  void Notify() override {
    InterlockedIncrement(&notices_);
    WakeByAddressAll(const_cast<LONG*>(&notices_));
  }

  void WaitUntil(std::unique_lock<std::mutex>& hold,
                 std::chrono::steady_clock::time_point deadline) override {
    // Rounded up: a wait that ended short of the deadline would only come round again.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    // Read under the lock: a notice after the caller's look at the event changes the counter
    // from this value, and WaitOnAddress then returns at once.
    LONG seen = notices_;
    hold.unlock();
    WaitOnAddress(&notices_, &seen, sizeof seen, static_cast<DWORD>(left.count()));
    hold.lock();
  }

  void Ended() override {
    if (period_ != 0) timeEndPeriod(period_);
    period_ = 0;
  }

 private:
  volatile LONG notices_ = 0;
  UINT period_ = 0;  // the resolution begun for this event; 0: none
};

class Win32TimerServices : public EventThreadTimerServices {
 public:
  Win32TimerServices() : EventThreadTimerServices(&AddressSignal::Make) {}

  uint32_t GetDevCaps(TimeCaps* caps) override {
    if (caps == nullptr) return TIMERR_NOCANDO;
    TIMECAPS platform{};
    const MMRESULT result = timeGetDevCaps(&platform, sizeof platform);
    caps->wPeriodMin = platform.wPeriodMin;
    caps->wPeriodMax = platform.wPeriodMax;
    return result;
  }

  uint32_t BeginPeriod(uint32_t period) override { return timeBeginPeriod(period); }
  uint32_t EndPeriod(uint32_t period) override { return timeEndPeriod(period); }
};

}  // namespace

std::unique_ptr<TimerServices> MakeSystemTimerServices() {
  return std::make_unique<Win32TimerServices>();
}

}  // namespace kv5
