#include "web/SessionRecord.h"

#include <cstdio>

#include "firmware/FirmwarePackage.h"
#include "session/StringTable.h"
#include "session/VersionTable.h"
#include "tools/kv5update/NextSteps.h"

namespace kv5 {

SessionRecord::SessionRecord(std::string path, std::string program, RefusedChunkWatch& watch)
    : path_(std::move(path)), program_(std::move(program)), watch_(watch) {}

void SessionRecord::Begin(Command command, const std::string& system, const std::string& inName,
                          const std::string& outName) {
  std::lock_guard<std::mutex> hold(lock_);
  std::string reason;
  // The log offered for download is the last session's: a new session starts a new file.
  log_.reset();
  std::remove(path_.c_str());
  log_ = SessionLog::Open(&path_, nullptr, &reason);
  command_ = command;
  active_ = true;
  completed_ = false;
  reportShown_ = false;
  errors_.clear();
  watch_.Restart();
  if (!log_) return;
  log_->Note(program_ + " (" + PackageDescription() + ")");
  std::string stamps = "package stamps:";
  for (const StampLocation& stamp : StampLocations)
    stamps += std::string(" ") + stamp.component + " " + stamp.packageStamp;
  log_->Note(stamps);
  log_->Note(command == Command::Update ? "command: update" : "command: check");
  log_->Note("MIDI system: " + system);
  log_->Note("MIDI IN \"" + inName + "\"");
  log_->Note("MIDI OUT \"" + outName + "\"");
}

void SessionRecord::NotStarted() {
  std::lock_guard<std::mutex> hold(lock_);
  if (!active_) return;
  active_ = false;
  if (log_) log_->Outcome("not started", errors_.empty() ? "" : errors_.back());
}

void SessionRecord::OnControlText(int id, const std::string& text) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!active_) return;
  if (id == IDC_STEP_COUNTER && log_) log_->Step(text);
  if (id != IDC_STATUS_LINE || text.empty()) return;
  if (log_) log_->Status(text);
  if (text == LoadString(IDS_UPDATE_COMPLETED)) completed_ = true;
}

void SessionRecord::OnMessageBox(const std::string& text, const std::string& caption,
                                 MessageIcon icon) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!active_) return;
  if (log_) log_->Note("message box \"" + caption + "\": " + text);
  if (icon == MessageIcon::Error) errors_.push_back(text);
  if (caption == kVersionReportCaption) reportShown_ = true;
}

void SessionRecord::OnBusy(bool busy) {
  if (!busy) End();
}

void SessionRecord::End() {
  std::lock_guard<std::mutex> hold(lock_);
  if (!active_) return;
  active_ = false;
  if (!log_) return;
  // As the command line judges a session: the window shows nothing for a failed stamp read.
  if (!errors_.empty()) {
    log_->Outcome("failed", errors_.back());
  } else if (command_ == Command::Check) {
    if (reportShown_) {
      log_->Outcome("version report shown", "");
    } else {
      log_->Outcome("failed", kStampReadFailedText);
    }
  } else if (completed_) {
    log_->Outcome("completed", LoadString(IDS_UPDATE_COMPLETED));
  } else {
    log_->Outcome("failed", kBootReadFailedText);
  }
}

void SessionRecord::OnSent(const uint8_t* bytes, uint32_t length, int result) {
  std::lock_guard<std::mutex> hold(lock_);
  if (log_) log_->OnSent(bytes, length, result);
  if (active_) watch_.OnSent(bytes, length);
}

void SessionRecord::OnReceived(const uint8_t* bytes, uint32_t length) {
  std::lock_guard<std::mutex> hold(lock_);
  if (log_) log_->OnReceived(bytes, length);
}

}  // namespace kv5
