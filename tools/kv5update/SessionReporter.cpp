#include "tools/kv5update/SessionReporter.h"

#include "session/StringTable.h"
#include "session/VersionTable.h"
#include "tools/kv5update/SessionLog.h"

namespace kv5 {

SessionReporter::SessionReporter(ConsoleStreams& streams, ProgressOutput output)
    : streams_(streams),
      output_(output),
      progress_(output.toErr ? streams.err : streams.out, streams.outIsTerminal && !output.toErr,
                streams.width) {}

void SessionReporter::Line(const std::string& text) {
  streams_.out << text << '\n';
  streams_.out.flush();
}

void SessionReporter::OnControlText(int id, const std::string& text) {
  if (id == IDC_STEP_COUNTER) {
    if (log_ != nullptr) log_->Step(text);
    if (asLines_) {
      Line("@step " + text);
      return;
    }
    if (!output_.quiet) progress_.SetStep(text, ProgressClock::now());
  }
  if (id != IDC_STATUS_LINE) return;
  if (log_ != nullptr && !text.empty()) log_->Status(text);
  if (asLines_) {
    Line("@status " + text);
    if (text == LoadString(IDS_UPDATE_COMPLETED)) completed_ = true;
    return;
  }
  // The completion is the session's last word: the front end prints it on a line of its own.
  if (text == LoadString(IDS_UPDATE_COMPLETED)) {
    completed_ = true;
    return;
  }
  if (!output_.quiet) progress_.SetStatus(text, ProgressClock::now());
}

void SessionReporter::OnProgressRange(int32_t lower, int32_t upper) {
  if (asLines_) {
    Line("@range " + std::to_string(lower) + " " + std::to_string(upper));
    return;
  }
  if (!output_.quiet) progress_.SetRange(lower, upper, ProgressClock::now());
}

void SessionReporter::OnProgressPos(int32_t position) {
  if (asLines_) {
    Line("@pos " + std::to_string(position));
    return;
  }
  if (!output_.quiet) progress_.SetPosition(position, ProgressClock::now());
}

void SessionReporter::OnMessageBox(const std::string& text, const std::string& caption,
                                   MessageIcon icon) {
  Finish();
  if (log_ != nullptr) log_->Note("message box \"" + caption + "\": " + text);
  if (icon == MessageIcon::Error) {
    // The box's text alone, as the window shows it under its caption "Error".
    errors_.push_back(text);
    streams_.err << text << '\n';
    streams_.err.flush();
  } else if (caption == kVersionReportCaption) {
    reportShown_ = true;
  } else {
    streams_.err << caption << ": " << text << '\n';
    streams_.err.flush();
  }
}

void SessionReporter::OnIdle() {
  if (asLines_ || output_.quiet) return;
  progress_.Refresh(ProgressClock::now());
}

void SessionReporter::Finish() {
  if (asLines_ || output_.quiet) return;
  progress_.Refresh(ProgressClock::now(), true);
  progress_.Break();
}

}  // namespace kv5
