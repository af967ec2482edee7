// The multimedia timer of Windows. winmm calls every event's procedure on its timer thread, and
// TIME_KILL_SYNCHRONOUS keeps a new call from starting once timeKillEvent returns, but a call that
// is already running may still be under way; a gate per event closes that gap, so KillEvent
// returns only when the procedure is not running and will not be called again.
#include "platform/timer/TimerServices.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/timer/win32/TimerEventGate.h"

#include <windows.h>

#include <mmsystem.h>

namespace kv5 {
namespace {

void CALLBACK GateProc(UINT id, UINT message, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
  reinterpret_cast<TimerEventGate*>(user)->Run(id, message);
}

class MultimediaTimerServices : public TimerServices {
 public:
  ~MultimediaTimerServices() override {
    std::vector<uint32_t> ids;
    {
      std::lock_guard<std::mutex> hold(lock_);
      for (const auto& entry : events_) ids.push_back(entry.first);
    }
    for (uint32_t id : ids) KillEvent(id);
  }

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

  uint32_t SetEvent(uint32_t delay, uint32_t resolution, TimerProc procedure, uintptr_t user,
                    uint32_t flags) override {
    if (procedure == nullptr) return 0;
    auto gate = std::make_unique<TimerEventGate>(procedure, user);
    // The flag values are winmm's own (mmsystem.h's macros shadow the names of TimerServices.h).
    const UINT kind = (flags & TIME_PERIODIC) != 0 ? TIME_PERIODIC : TIME_ONESHOT;
    // The lock is held across timeSetEvent, so a KillEvent of the new id finds it filed.
    std::lock_guard<std::mutex> hold(lock_);
    const UINT id =
        timeSetEvent(delay, resolution, &GateProc, reinterpret_cast<DWORD_PTR>(gate.get()),
                     kind | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
    if (id == 0) return 0;
    // A one-shot event that ran and was never killed may have left its id for winmm to reuse.
    std::unique_ptr<TimerEventGate>& entry = events_[id];
    if (entry) retired_.push_back(std::move(entry));
    entry = std::move(gate);
    return id;
  }

  uint32_t KillEvent(uint32_t id) override {
    TimerEventGate* gate = nullptr;
    {
      std::lock_guard<std::mutex> hold(lock_);
      auto found = events_.find(id);
      if (found == events_.end()) return TIMERR_NOCANDO;
      gate = found->second.get();
      // A call winmm dispatched just before the kill may still reach the gate, so gates are kept
      // until the services go; an event costs a few dozen bytes.
      retired_.push_back(std::move(found->second));
      events_.erase(found);
    }
    const bool fromInside = gate->Close();
    // Fails for a one-shot event that has run already: winmm ended it by itself.
    const MMRESULT result = timeKillEvent(id);
    if (!fromInside) gate->WaitUntilIdle();
    return result == TIMERR_NOERROR ? TIMERR_NOERROR : TIMERR_NOCANDO;
  }

  // The multimedia timer has no early tick and no longer sleep: every event ticks on its period.
  uint32_t WakeEvent(uint32_t) override { return TIMERR_NOCANDO; }
  uint32_t RestEvent(uint32_t, uint32_t) override { return TIMERR_NOCANDO; }

 private:
  std::mutex lock_;
  std::map<uint32_t, std::unique_ptr<TimerEventGate>> events_;
  std::vector<std::unique_ptr<TimerEventGate>> retired_;
};

}  // namespace

std::unique_ptr<TimerServices> MakeSystemTimerServices() {
  return std::make_unique<MultimediaTimerServices>();
}

}  // namespace kv5
