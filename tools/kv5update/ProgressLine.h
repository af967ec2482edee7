// The console's rendering of the window's step counter, status line and progress bar: on a
// terminal one live line per plan step with a bar, the transfer rate and the time left; in a log a
// plain line per phase, without carriage returns, and one every ten seconds while a phase lasts.
// Each line names the component its step works on. The time left is the whole update's.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <ostream>
#include <string>

namespace kv5 {

using ProgressClock = std::chrono::steady_clock;

// Bytes per second over the last few seconds of one image's transfer.
class RateMeter {
 public:
  static constexpr std::chrono::milliseconds kWindow{3000};

  void Reset();
  void Sample(int64_t position, ProgressClock::time_point now);
  bool Empty() const { return points_.empty(); }
  // Nothing until two samples lie at least 100 ms apart.
  std::optional<double> BytesPerSecond() const;
  std::optional<std::chrono::seconds> TimeLeft(int64_t remaining) const;

 private:
  struct Point {
    int64_t position;
    ProgressClock::time_point at;
  };
  std::deque<Point> points_;
};

// Bytes the update plan writes in the steps after step `step` (1..10; 0 counts every write step).
// The BOOT image counts until its steps are skipped.
int64_t PlanBytesAfter(int step);

// "512 B/s", "34.5 KiB/s", "1.2 MiB/s".
std::string FormatRate(double bytesPerSecond);
// "0:07", "12:34", "1:02:03".
std::string FormatDuration(std::chrono::seconds duration);
// "[#######.............]": width characters between the brackets, filled in proportion.
std::string FormatBar(int64_t lower, int64_t upper, int64_t position, int width);

class ProgressLine {
 public:
  // Plain mode: how long a phase goes without a line before one says where it stands.
  static constexpr std::chrono::seconds kQuietLimit{10};

  // live: rewrite one line per step in place (a terminal); otherwise print plain lines. width is
  // the terminal's, used to keep the live line from wrapping.
  ProgressLine(std::ostream& out, bool live, int width = 80);

  void SetStep(const std::string& step, ProgressClock::time_point now);
  void SetStatus(const std::string& status, ProgressClock::time_point now);
  // A new range begins a new transfer (each image's write sets its range first).
  void SetRange(int32_t lower, int32_t upper, ProgressClock::time_point now);
  void SetPosition(int32_t position, ProgressClock::time_point now);
  // Live mode: redraws when something changed and the last drawing is old enough (or force).
  void Refresh(ProgressClock::time_point now, bool force = false);
  // Ends the live line so that other text can follow on a line of its own.
  void Break();

  const std::string& Step() const { return step_; }
  const std::string& Status() const { return status_; }

 private:
  static constexpr std::chrono::milliseconds kRedrawInterval{100};

  bool Transmitting() const;
  // "[7/10] SYSTEM: Data transmit ...": the step, its component and the status as the console
  // words it.
  std::string Label() const;
  std::string RateAndTimeLeft() const;
  std::string LiveText() const;
  // Plain mode: a line on where a long phase stands.
  std::string StandingText(ProgressClock::time_point now) const;
  void PrintPlain(const std::string& text, ProgressClock::time_point now);
  // A finished line of its own: printed, or drawn over the live line.
  void ShowLine(const std::string& text, ProgressClock::time_point now);
  void ImageWritten(ProgressClock::time_point now);

  std::ostream& out_;
  const bool live_;
  const int width_;

  std::string step_;
  std::string status_;
  int32_t lower_ = 0;
  int32_t upper_ = 100;
  int32_t position_ = 0;

  bool stepShown_ = false;                 // plain mode: a line was printed for the current step
  ProgressClock::time_point printedAt_{};  // plain mode: the last line's time
  ProgressClock::time_point phaseAt_{};    // when the current status began
  bool lineOpen_ = false;  // live mode: the cursor stands at the end of a drawn line
  bool dirty_ = false;
  size_t drawnLength_ = 0;
  ProgressClock::time_point drawnAt_{};
  RateMeter rate_;
  ProgressClock::time_point transferStart_{};
  bool transferShown_ = false;     // plain mode: the current transfer's status was printed
  bool transferReported_ = false;  // plain mode: its completion was printed
};

}  // namespace kv5
