#include "support/RecordingTimerServices.h"

#include <algorithm>

namespace kv5 {

std::string TimerCall::ToString() const {
  std::string text = name + "(";
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(args[i]);
  }
  return text + ")";
}

RecordingTimerServices::RecordingTimerServices(TimeCaps caps) : caps_(caps) {}

void RecordingTimerServices::Log(const char* name, std::vector<uint32_t> args) {
  log_.push_back(TimerCall{name, std::move(args)});
}

uint32_t RecordingTimerServices::GetDevCaps(TimeCaps* caps) {
  std::lock_guard<std::mutex> hold(lock_);
  Log("timeGetDevCaps", {});
  *caps = caps_;
  return TIMERR_NOERROR;
}

uint32_t RecordingTimerServices::BeginPeriod(uint32_t period) {
  std::lock_guard<std::mutex> hold(lock_);
  Log("timeBeginPeriod", {period});
  ++openPeriods_;
  return TIMERR_NOERROR;
}

uint32_t RecordingTimerServices::EndPeriod(uint32_t period) {
  std::lock_guard<std::mutex> hold(lock_);
  Log("timeEndPeriod", {period});
  --openPeriods_;
  return TIMERR_NOERROR;
}

uint32_t RecordingTimerServices::SetEvent(uint32_t delay, uint32_t resolution, TimerProc procedure,
                                          uintptr_t user, uint32_t flags) {
  std::lock_guard<std::mutex> hold(lock_);
  Log("timeSetEvent", {delay, resolution, flags});
  if (failSetEvent_ || procedure == nullptr) return 0;
  const uint32_t id = nextId_++;
  Event& event = events_[id];
  event.procedure = procedure;
  event.user = user;
  return id;
}

uint32_t RecordingTimerServices::KillEvent(uint32_t id) {
  std::unique_lock<std::mutex> hold(lock_);
  Log("timeKillEvent", {id});
  auto found = events_.find(id);
  if (found == events_.end() || found->second.killed) return TIMERR_NOCANDO;
  found->second.killed = true;  // no tick starts from here on
  const bool fromOwnTick =
      found->second.running > 0 && found->second.runner == std::this_thread::get_id();
  if (!fromOwnTick) {
    tickEnded_.wait(hold, [&] { return events_.at(id).running == 0; });
  }
  events_.erase(id);
  return TIMERR_NOERROR;
}

uint32_t RecordingTimerServices::WakeEvent(uint32_t id) {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = events_.find(id);
  if (found == events_.end() || found->second.killed) return TIMERR_NOCANDO;
  ++wakes_;
  return TIMERR_NOERROR;
}

uint32_t RecordingTimerServices::RestEvent(uint32_t id, uint32_t restLimit) {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = events_.find(id);
  if (found == events_.end() || found->second.killed) return TIMERR_NOCANDO;
  lastRestLimit_ = restLimit;
  return TIMERR_NOERROR;
}

size_t RecordingTimerServices::Wakes() const {
  std::lock_guard<std::mutex> hold(lock_);
  return wakes_;
}

uint32_t RecordingTimerServices::LastRestLimit() const {
  std::lock_guard<std::mutex> hold(lock_);
  return lastRestLimit_;
}

void RecordingTimerServices::SetFailSetEvent(bool fail) {
  std::lock_guard<std::mutex> hold(lock_);
  failSetEvent_ = fail;
}

std::vector<TimerCall> RecordingTimerServices::Calls() const {
  std::lock_guard<std::mutex> hold(lock_);
  return log_;
}

std::vector<std::string> RecordingTimerServices::CallNames() const {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<std::string> names;
  for (const TimerCall& call : log_) names.push_back(call.name);
  return names;
}

size_t RecordingTimerServices::Count(const std::string& call) const {
  std::lock_guard<std::mutex> hold(lock_);
  return static_cast<size_t>(std::count_if(
      log_.begin(), log_.end(), [&](const TimerCall& each) { return each.name == call; }));
}

void RecordingTimerServices::ClearLog() {
  std::lock_guard<std::mutex> hold(lock_);
  log_.clear();
}

std::vector<uint32_t> RecordingTimerServices::ActiveEvents() const {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<uint32_t> ids;
  for (const auto& entry : events_) {
    if (!entry.second.killed) ids.push_back(entry.first);
  }
  return ids;
}

int RecordingTimerServices::OpenPeriods() const {
  std::lock_guard<std::mutex> hold(lock_);
  return openPeriods_;
}

bool RecordingTimerServices::Tick(uint32_t id) {
  TimerProc procedure = nullptr;
  uintptr_t user = 0;
  {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = events_.find(id);
    if (found == events_.end() || found->second.killed) return false;
    procedure = found->second.procedure;
    user = found->second.user;
    ++found->second.running;
    found->second.runner = std::this_thread::get_id();
  }
  procedure(id, 0, user, 0, 0);
  {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = events_.find(id);
    if (found != events_.end()) --found->second.running;
  }
  tickEnded_.notify_all();
  return true;
}

size_t RecordingTimerServices::TickAll() {
  size_t ran = 0;
  for (uint32_t id : ActiveEvents()) ran += Tick(id) ? 1 : 0;
  return ran;
}

}  // namespace kv5
