// A scripted timer for unit tests: every call is logged, SetEvent can be made to fail, and ticks
// are fired by hand on the test's thread. KillEvent keeps the real services' promise: it returns
// only when the event's procedure is not running (unless called from inside it). Wakes and rests
// are counted, not logged, and fire nothing: the test decides when a tick runs.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/timer/TimerServices.h"

namespace kv5 {

// One logged call: "timeGetDevCaps", "timeBeginPeriod", "timeEndPeriod", "timeSetEvent",
// "timeKillEvent", with its numeric arguments (SetEvent: delay, resolution, flags).
struct TimerCall {
  std::string name;
  std::vector<uint32_t> args;
  std::string ToString() const;  // "timeSetEvent(1, 1, 1)"
};

class RecordingTimerServices : public TimerServices {
 public:
  explicit RecordingTimerServices(TimeCaps caps = TimeCaps{1, 1000000});

  uint32_t GetDevCaps(TimeCaps* caps) override;
  uint32_t BeginPeriod(uint32_t period) override;
  uint32_t EndPeriod(uint32_t period) override;
  uint32_t SetEvent(uint32_t delay, uint32_t resolution, TimerProc procedure, uintptr_t user,
                    uint32_t flags) override;
  uint32_t KillEvent(uint32_t id) override;
  uint32_t WakeEvent(uint32_t id) override;
  uint32_t RestEvent(uint32_t id, uint32_t restLimit) override;

  // Every later SetEvent returns 0 (no event) while on.
  void SetFailSetEvent(bool fail);

  std::vector<TimerCall> Calls() const;
  std::vector<std::string> CallNames() const;
  size_t Count(const std::string& call) const;
  void ClearLog();

  // Ids of the events that are set and not killed.
  std::vector<uint32_t> ActiveEvents() const;
  // BeginPeriod calls not yet matched by an EndPeriod.
  int OpenPeriods() const;
  // Wakes of running events so far, and the limit of the latest rest (0 before any).
  size_t Wakes() const;
  uint32_t LastRestLimit() const;
  // Runs the event's procedure once on the calling thread, as a tick; false for an unknown id.
  bool Tick(uint32_t id);
  // One tick of every active event; returns how many ran.
  size_t TickAll();

 private:
  struct Event {
    TimerProc procedure = nullptr;
    uintptr_t user = 0;
    int running = 0;  // ticks inside the procedure now
    bool killed = false;
    std::thread::id runner;
  };

  void Log(const char* name, std::vector<uint32_t> args);

  const TimeCaps caps_;
  mutable std::mutex lock_;
  std::condition_variable tickEnded_;
  std::vector<TimerCall> log_;
  std::map<uint32_t, Event> events_;
  uint32_t nextId_ = 1;
  int openPeriods_ = 0;
  size_t wakes_ = 0;
  uint32_t lastRestLimit_ = 0;
  bool failSetEvent_ = false;
};

}  // namespace kv5
