#include "tools/kv5update/ProgressLine.h"

#include <algorithm>
#include <cstdio>

#include "firmware/FirmwarePackage.h"
#include "session/StringTable.h"
#include "tools/kv5update/PlanStepText.h"

namespace kv5 {
namespace {

constexpr std::chrono::milliseconds kShortestSpan{100};

double Seconds(ProgressClock::duration span) {
  return std::chrono::duration<double>(span).count();
}

}  // namespace

int64_t PlanBytesAfter(int step) {
  int64_t bytes = 0;
  for (size_t i = static_cast<size_t>(std::max(step, 0)); i < UpdatePlan.size(); ++i) {
    const PlanStep& each = UpdatePlan[i];
    if (each.kind != kWriteStep) continue;
    bytes += each.size != 0 ? each.size : OpenImage(each.resourceId).size;
  }
  return bytes;
}

void RateMeter::Reset() {
  points_.clear();
}

void RateMeter::Sample(int64_t position, ProgressClock::time_point now) {
  // A position that goes back starts a new transfer.
  if (!points_.empty() && position < points_.back().position) points_.clear();
  points_.push_back({position, now});
  // Keep the newest point that is at least a window old, so the span covers the whole window.
  while (points_.size() > 2 && now - points_[1].at >= kWindow) points_.pop_front();
}

std::optional<double> RateMeter::BytesPerSecond() const {
  if (points_.size() < 2) return std::nullopt;
  const Point& first = points_.front();
  const Point& last = points_.back();
  if (last.at - first.at < kShortestSpan) return std::nullopt;
  return static_cast<double>(last.position - first.position) / Seconds(last.at - first.at);
}

std::optional<std::chrono::seconds> RateMeter::TimeLeft(int64_t remaining) const {
  const std::optional<double> rate = BytesPerSecond();
  if (!rate || *rate <= 0.0) return std::nullopt;
  const double seconds = static_cast<double>(std::max<int64_t>(remaining, 0)) / *rate;
  return std::chrono::seconds(static_cast<int64_t>(seconds + 0.5));
}

std::string FormatRate(double bytesPerSecond) {
  char text[32];
  if (bytesPerSecond < 1024.0) {
    std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
  } else if (bytesPerSecond < 1024.0 * 1024.0) {
    std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / 1024.0);
  } else {
    std::snprintf(text, sizeof text, "%.1f MiB/s", bytesPerSecond / (1024.0 * 1024.0));
  }
  return text;
}

std::string FormatDuration(std::chrono::seconds duration) {
  const int64_t total = std::max<int64_t>(duration.count(), 0);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(total / 3600),
                  static_cast<long long>(total / 60 % 60), static_cast<long long>(total % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(total / 60),
                  static_cast<long long>(total % 60));
  }
  return text;
}

std::string FormatBar(int64_t lower, int64_t upper, int64_t position, int width) {
  int filled = 0;
  if (upper > lower && width > 0) {
    const int64_t clamped = std::clamp(position, lower, upper);
    filled = static_cast<int>((clamped - lower) * width / (upper - lower));
  }
  std::string bar = "[";
  bar.append(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(std::max(width - filled, 0)), '.');
  bar += ']';
  return bar;
}

ProgressLine::ProgressLine(std::ostream& out, bool live, int width)
    : out_(out), live_(live), width_(std::max(width, 40)) {}

bool ProgressLine::Transmitting() const {
  static const std::string kPrefix = [] {
    const std::string format = LoadString(IDS_DATA_TRANSMIT);
    return format.substr(0, format.find('%'));
  }();
  return status_.compare(0, kPrefix.size(), kPrefix) == 0;
}

std::string ProgressLine::Label() const {
  return StepLabel(step_, status_);
}

void ProgressLine::SetStep(const std::string& step, ProgressClock::time_point now) {
  if (step == step_) return;
  if (!step_.empty() && !stepShown_) {
    // A step that showed nothing sent nothing: the BOOT steps when the unit's BOOT is current.
    const std::string component = PlanStepComponent(PlanStepNumber(step_));
    ShowLine(
        "[" + step_ + "] " +
            (component.empty() ? "skipped, nothing to send" : component + " unchanged, skipped"),
        now);
  } else if (live_ && lineOpen_) {
    // Each step keeps a line of its own, as it was last drawn.
    Refresh(now, true);
    Break();
  }
  step_ = step;
  stepShown_ = false;
  dirty_ = true;
}

void ProgressLine::SetStatus(const std::string& status, ProgressClock::time_point now) {
  const bool wasTransmitting = Transmitting();
  const bool changed = status != status_;
  status_ = status;
  dirty_ = true;
  if (status_.empty()) return;
  // Plain lines: a line when the phase changes, not one per chunk or per retry.
  const bool sameTransfer = Transmitting() && wasTransmitting && transferShown_;
  if ((changed || !stepShown_) && !sameTransfer) {
    phaseAt_ = now;
    if (!live_) PrintPlain(Label(), now);
  }
  stepShown_ = true;
  transferShown_ = true;
}

void ProgressLine::SetRange(int32_t lower, int32_t upper, ProgressClock::time_point now) {
  lower_ = lower;
  upper_ = upper;
  dirty_ = true;
  rate_.Reset();
  transferStart_ = now;
  transferShown_ = false;
  transferReported_ = false;
}

void ProgressLine::SetPosition(int32_t position, ProgressClock::time_point now) {
  // The first position of a transfer counts from the range's start, not from what the bar held.
  if (rate_.Empty()) rate_.Sample(lower_, transferStart_);
  position_ = position;
  dirty_ = true;
  if (!Transmitting()) return;
  rate_.Sample(position_, now);
  if (position_ >= upper_ && upper_ > lower_ && !transferReported_) ImageWritten(now);
}

void ProgressLine::ImageWritten(ProgressClock::time_point now) {
  transferReported_ = true;
  if (live_) return;
  const double seconds = Seconds(now - transferStart_);
  const std::string component = PlanStepComponent(PlanStepNumber(step_));
  char text[128];
  std::snprintf(text, sizeof text, "[%s] %s%d bytes written in %.1f s", step_.c_str(),
                component.empty() ? "" : (component + ": ").c_str(),
                static_cast<int>(upper_ - lower_), seconds);
  std::string line = text;
  if (seconds > 0.0) line += " (" + FormatRate((upper_ - lower_) / seconds) + ")";
  PrintPlain(line, now);
}

std::string ProgressLine::RateAndTimeLeft() const {
  std::string text;
  if (const std::optional<double> rate = rate_.BytesPerSecond()) {
    text += "  " + FormatRate(*rate);
    // The whole update's time: this image's rest and every image of the steps still to come.
    const int64_t remaining = static_cast<int64_t>(upper_) - position_ +
                              PlanBytesAfter(std::max(PlanStepNumber(step_), 0));
    if (const auto left = rate_.TimeLeft(remaining)) {
      text += "  " + FormatDuration(*left) + " left";
    }
  }
  return text;
}

std::string ProgressLine::StandingText(ProgressClock::time_point now) const {
  if (Transmitting()) {
    return StepLabel(step_, DataTransmitText(position_, upper_)) + RateAndTimeLeft();
  }
  const auto waited = std::chrono::duration_cast<std::chrono::seconds>(now - phaseAt_);
  return Label() + " (" + std::to_string(waited.count()) + " s so far)";
}

std::string ProgressLine::LiveText() const {
  // Until the step shows a status of its own, what the displays hold is the previous step's.
  if (!stepShown_) return "[" + step_ + "]";
  std::string text = Label();
  if (!status_.empty() && status_.back() != ' ') text += ' ';
  text += ' ' + FormatBar(lower_, upper_, position_, 20);
  if (upper_ > lower_) {
    const int64_t percent = (static_cast<int64_t>(std::clamp(position_, lower_, upper_)) - lower_) *
                            100 / (static_cast<int64_t>(upper_) - lower_);
    text += ' ';
    text += std::to_string(percent);
    text += '%';
  }
  if (Transmitting()) text += RateAndTimeLeft();
  const size_t limit = static_cast<size_t>(width_ - 1);
  if (text.size() > limit) text.resize(limit);
  return text;
}

void ProgressLine::Refresh(ProgressClock::time_point now, bool force) {
  if (!live_) {
    // A long phase (a write over a slow line, an erase the unit takes long over) is not silent.
    if (stepShown_ && !status_.empty() && now - printedAt_ >= kQuietLimit && !force) {
      PrintPlain(StandingText(now), now);
    }
    return;
  }
  if (!dirty_ || step_.empty()) return;
  if (!force && lineOpen_ && now - drawnAt_ < kRedrawInterval) return;
  const std::string text = LiveText();
  out_ << '\r' << text;
  // Blanks over what a longer earlier drawing left behind.
  if (lineOpen_ && drawnLength_ > text.size()) {
    out_ << std::string(drawnLength_ - text.size(), ' ') << '\r' << text;
  }
  out_.flush();
  drawnLength_ = text.size();
  drawnAt_ = now;
  lineOpen_ = true;
  dirty_ = false;
}

void ProgressLine::Break() {
  if (!lineOpen_) return;
  out_ << '\n';
  out_.flush();
  lineOpen_ = false;
  drawnLength_ = 0;
  dirty_ = true;
}

void ProgressLine::ShowLine(const std::string& text, ProgressClock::time_point now) {
  if (!live_) {
    PrintPlain(text, now);
    return;
  }
  const size_t blanks = lineOpen_ && drawnLength_ > text.size() ? drawnLength_ - text.size() : 0;
  out_ << '\r' << text << std::string(blanks, ' ') << '\n';
  out_.flush();
  lineOpen_ = false;
  drawnLength_ = 0;
}

void ProgressLine::PrintPlain(const std::string& text, ProgressClock::time_point now) {
  out_ << text << '\n';
  out_.flush();
  printedAt_ = now;
}

}  // namespace kv5
