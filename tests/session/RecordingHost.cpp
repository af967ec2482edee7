#include "RecordingHost.h"

#include "protocol/ProtocolMessages.h"
#include "session/StringTable.h"

namespace kv5::test {

std::string MessageKind(const uint8_t* bytes, uint32_t length) {
  if (length >= 5 && bytes[0] == kSysexStart && bytes[1] == kUniversalNonRealTime) {
    if (bytes[4] == kIdentityRequestId) return "identify";
    if (bytes[4] == kIdentityReplyId) return "identity-reply";
  }
  if (length >= 5 && bytes[0] == kSysexStart && bytes[1] == kVendorId) {
    if (bytes[4] == kCommandResult) return "result";
    if (const char* name = HostRequestName(bytes[4])) return name;
  }
  return "other";
}

void RecordingHost::Record(std::string event) {
  // Sends of the poller (its answers) may go on after an abort; only the worker's calls count.
  const bool pollerAnswer = event == "send:result" || event == "send:identity-reply";
  if (state_.Aborted() && !pollerAnswer) ++callsAfterAbort_;
  std::lock_guard<std::mutex> hold(eventLock_);
  events_.push_back(std::move(event));
}

int RecordingHost::SendSysex(const uint8_t* bytes, uint32_t length) {
  Record("send:" + MessageKind(bytes, length));
  const int result = link_ ? link_(bytes, length) : 0;
  if (afterSend_) afterSend_();
  return result;
}

void RecordingHost::ShowError(int stringId) {
  Record("error:" + LoadString(stringId));
}
void RecordingHost::LeaveBusy() {
  Record("leave");
}
void RecordingHost::EnableActions(bool enable) {
  Record(enable ? "actions:1" : "actions:0");
}
void RecordingHost::SetStatusLine(const std::string& text) {
  Record("status:" + text);
}
void RecordingHost::SetStepCounter(const std::string& text) {
  Record("step:" + text);
}
void RecordingHost::SetProgressRange(int32_t maximum) {
  Record("range:" + std::to_string(maximum));
}
void RecordingHost::SetProgressPos(int32_t position) {
  Record("pos:" + std::to_string(position));
}

VersionTable& RecordingHost::Versions() {
  if (state_.Aborted()) ++callsAfterAbort_;
  return table_;
}

void RecordingHost::CloseOutPort() {
  Record("close-out");
}
void RecordingHost::CloseInPortIfOpen() {
  Record("close-in");
}
void RecordingHost::PostVersionCheckDone(int result) {
  Record("done:" + std::to_string(result));
}

std::vector<std::string> RecordingHost::Events() const {
  std::lock_guard<std::mutex> hold(eventLock_);
  return events_;
}

std::vector<std::string> RecordingHost::EventsStartingWith(const std::string& prefix) const {
  std::vector<std::string> matching;
  for (const std::string& event : Events())
    if (event.compare(0, prefix.size(), prefix) == 0) matching.push_back(event);
  return matching;
}

int RecordingHost::Count(const std::string& event) const {
  int count = 0;
  for (const std::string& recorded : Events()) count += recorded == event ? 1 : 0;
  return count;
}

}  // namespace kv5::test
