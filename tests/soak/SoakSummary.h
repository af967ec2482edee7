// The soak's counts, printed as one line at the end (and by the watchdog if the soak hangs).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace kv5::soak {

class SoakSummary {
 public:
  void AddCompleted() { Count(&completed_); }
  void AddFailed(const std::string& message);
  void AddAborted() { Count(&aborted_); }
  void AddHang() { Count(&hangs_); }
  void AddFlashMismatch() { Count(&mismatches_); }
  // A session that broke a rule other than time and flash: it should have completed, it showed a
  // box after the window closed, it claimed success next to an error box.
  void AddBrokenRule() { Count(&brokenRules_); }
  void AddRecovery(bool succeeded);
  // How close a session came to its time bound.
  void NoteDuration(std::chrono::milliseconds duration, std::chrono::milliseconds bound);

  // Hangs, mismatches, failed recoveries or broken rules.
  bool Passed() const;
  // cleanTime: the calibrating clean update's length, which every bound starts from.
  std::string Line(uint32_t sessions, uint64_t seed, std::chrono::milliseconds cleanTime,
                   std::chrono::milliseconds elapsed) const;

 private:
  void Count(uint32_t* counter);

  mutable std::mutex lock_;
  uint32_t completed_ = 0;
  std::map<std::string, uint32_t> failedBy_;
  uint32_t aborted_ = 0;
  uint32_t hangs_ = 0;
  uint32_t mismatches_ = 0;
  uint32_t brokenRules_ = 0;
  uint32_t recoveries_ = 0;
  uint32_t recovered_ = 0;
  double worstShare_ = 0;  // largest duration / bound
};

}  // namespace kv5::soak
