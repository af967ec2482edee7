// The periodic timer services the timer class is written against, shaped like the multimedia
// timer calls.
#pragma once

#include <cstdint>
#include <memory>

namespace kv5 {

struct TimeCaps {
  uint32_t wPeriodMin = 0;
  uint32_t wPeriodMax = 0;
};

constexpr uint32_t TIMERR_NOERROR = 0;
constexpr uint32_t TIMERR_NOCANDO = 97;
constexpr uint32_t TIME_ONESHOT = 0;
constexpr uint32_t TIME_PERIODIC = 1;

// Timer procedure of the platform's form: (event id, message, user data, two reserved words).
using TimerProc = void (*)(uint32_t id, uint32_t message, uintptr_t user, uintptr_t reserved1,
                           uintptr_t reserved2);

// SetEvent calls the procedure every delay milliseconds on the timer's own thread, one call at a
// time, and returns the event id (0 on failure). KillEvent ends the event and returns only when
// its procedure is not running and will not be called again (unless it is called from inside
// that procedure, where it only makes sure no further call starts).
//
// WakeEvent asks for an early tick, from any thread: the procedure runs as soon as the timer
// thread can start it (at once, or right after the tick under way); wakes that come before that
// tick starts count as one, and the period goes on afterwards. RestEvent, called from inside the
// procedure, says that this tick found nothing left to do: the next tick then comes with a wake,
// or restLimit milliseconds after this one at the latest, instead of after the period. Both
// return TIMERR_NOCANDO for an id that is not running; a timer that cannot wake early ticks on
// its period and returns TIMERR_NOCANDO from both.
class TimerServices {
 public:
  virtual ~TimerServices() = default;
  virtual uint32_t GetDevCaps(TimeCaps* caps) = 0;
  virtual uint32_t BeginPeriod(uint32_t period) = 0;
  virtual uint32_t EndPeriod(uint32_t period) = 0;
  virtual uint32_t SetEvent(uint32_t delay, uint32_t resolution, TimerProc procedure,
                            uintptr_t user, uint32_t flags) = 0;
  virtual uint32_t KillEvent(uint32_t id) = 0;
  virtual uint32_t WakeEvent(uint32_t id) = 0;
  virtual uint32_t RestEvent(uint32_t id, uint32_t restLimit) = 0;
};

// The platform's timer: a thread per event with absolute-deadline sleeps, on a condition variable
// on Linux and in WaitOnAddress on Windows.
std::unique_ptr<TimerServices> MakeSystemTimerServices();

}  // namespace kv5
