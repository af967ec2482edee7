#include "SoakSummary.h"

#include <cstdio>

namespace kv5::soak {

void SoakSummary::Count(uint32_t* counter) {
  std::lock_guard<std::mutex> hold(lock_);
  ++*counter;
}

void SoakSummary::AddFailed(const std::string& message) {
  std::lock_guard<std::mutex> hold(lock_);
  ++failedBy_[message];
}

void SoakSummary::AddRecovery(bool succeeded) {
  std::lock_guard<std::mutex> hold(lock_);
  ++recoveries_;
  if (succeeded) ++recovered_;
}

void SoakSummary::NoteDuration(std::chrono::milliseconds duration,
                               std::chrono::milliseconds bound) {
  std::lock_guard<std::mutex> hold(lock_);
  const double share = static_cast<double>(duration.count()) / static_cast<double>(bound.count());
  if (share > worstShare_) worstShare_ = share;
}

bool SoakSummary::Passed() const {
  std::lock_guard<std::mutex> hold(lock_);
  return hangs_ == 0 && mismatches_ == 0 && brokenRules_ == 0 && recovered_ == recoveries_;
}

std::string SoakSummary::Line(uint32_t sessions, uint64_t seed, std::chrono::milliseconds cleanTime,
                              std::chrono::milliseconds elapsed) const {
  std::lock_guard<std::mutex> hold(lock_);
  uint32_t failed = 0;
  std::string byMessage;
  for (const auto& [message, count] : failedBy_) {
    failed += count;
    byMessage += (byMessage.empty() ? "" : ", ") + message + ": " + std::to_string(count);
  }
  char line[1024];
  std::snprintf(line, sizeof line,
                "soak: sessions %u, completed %u, failed %u (%s), aborted %u, hangs %u, "
                "flash mismatches %u, broken rules %u, recovered %u/%u, worst time %.0f%% of "
                "bound (clean update %lld ms), seed %llu, %.1f s",
                sessions, completed_, failed, byMessage.c_str(), aborted_, hangs_, mismatches_,
                brokenRules_, recovered_, recoveries_, worstShare_ * 100.0,
                static_cast<long long>(cleanTime.count()), static_cast<unsigned long long>(seed),
                static_cast<double>(elapsed.count()) / 1000.0);
  return line;
}

}  // namespace kv5::soak
