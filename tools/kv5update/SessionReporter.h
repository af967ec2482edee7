// Shows on the console what the window would show: the error boxes on stderr, and the step
// counter, status line and progress bar as a progress line (on stdout; on stderr when stdout
// carries a JSON document; none when quiet). The version report is noted, and the front end
// prints the stamps in its own table.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tools/kv5update/ConsoleView.h"
#include "tools/kv5update/ProgressLine.h"

namespace kv5 {

class SessionLog;

struct ConsoleStreams {
  std::ostream& out;
  std::ostream& err;
  bool outIsTerminal = false;  // draw live lines instead of plain ones
  int width = 80;              // of the terminal
};

// Where a run's progress goes, and whether there is any.
struct ProgressOutput {
  bool quiet = false;  // results and errors only
  bool toErr = false;  // stdout carries a JSON document: progress as plain lines on stderr
};

class SessionReporter : public ViewObserver {
 public:
  explicit SessionReporter(ConsoleStreams& streams, ProgressOutput output = {});

  void OnControlText(int id, const std::string& text) override;
  void OnProgressRange(int32_t lower, int32_t upper) override;
  void OnProgressPos(int32_t position) override;
  void OnMessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;
  void OnIdle() override;

  // Steps, status lines and message boxes also go to the support log.
  void SetLog(SessionLog* log) { log_ = log; }
  // Instead of a progress line, each change of the displays as a line "@step TEXT",
  // "@status TEXT", "@range LOWER UPPER", "@pos N" on stdout, for a parent process to read.
  void ReportAsLines() { asLines_ = true; }

  // Draws the last state and ends the live line, so that other text can follow.
  void Finish();

  // The texts of the error boxes shown, in order.
  const std::vector<std::string>& Errors() const { return errors_; }
  bool ReportShown() const { return reportShown_; }
  // The status line showed "Version update completed.".
  bool Completed() const { return completed_; }

 private:
  void Line(const std::string& text);

  ConsoleStreams& streams_;
  const ProgressOutput output_;
  SessionLog* log_ = nullptr;
  bool asLines_ = false;
  ProgressLine progress_;
  std::vector<std::string> errors_;
  bool reportShown_ = false;
  bool completed_ = false;
};

}  // namespace kv5
