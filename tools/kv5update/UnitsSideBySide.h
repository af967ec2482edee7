// update --all: every unit that probing finds (or each --pair given) is updated in a session of
// its own, each in a child process, side by side. The terminal shows a line per unit; a summary
// table follows at the end. Ctrl-C aborts every session as closing a window aborts one.
#pragma once

#include <atomic>
#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "platform/midi/MidiBackend.h"
#include "tools/kv5update/FrontEndOptions.h"
#include "tools/kv5update/ProgressLine.h"
#include "tools/kv5update/SessionReporter.h"

namespace kv5 {

// What the parent knows of one unit's session, from the lines its child reports.
struct UnitProgress {
  std::string inName;
  std::string outName;
  std::string step;
  std::string status;
  int32_t lower = 0;
  int32_t upper = 0;
  int32_t position = 0;
  RateMeter rate;
  bool ended = false;
  int exitCode = -1;
  std::string message;  // the session's last word: its error, or the completion
  std::string logPath;  // the session's own support log, when there is one
  ProgressClock::time_point started{};
  ProgressClock::time_point endedAt{};

  // Takes one "@step/@status/@range/@pos" line of the child's standard output.
  void TakeReport(const std::string& line, ProgressClock::time_point now);
  // Takes one line of its standard error: the error message (not the warnings, not the advice).
  void TakeError(const std::string& line);
  // "unit 2  IN "A" OUT "A"  [3/10] Data transmit  12288 / 110592   34.5 KiB/s"
  std::string Line(size_t number) const;
  // "updated", "failed", "aborted", "not started".
  std::string Result() const;
};

// The summary table: one row per unit (unit, result, message, time).
std::string SummaryTable(const std::vector<UnitProgress>& units);

// Runs update --all; the exit code: 0 when every unit was updated, 1 when any failed, 2 when
// none could be started, 128 + the signal after an interrupt (the caller has made sure there is
// a MIDI system). The units' endings go to *ended.
int UpdateSideBySide(const FrontEndOptions& options, MidiBackend& midi, bool inProcessUnit,
                     ConsoleStreams& streams, const std::atomic<int>& interrupt,
                     ProgressOutput progress, std::vector<UnitProgress>* ended);

}  // namespace kv5
