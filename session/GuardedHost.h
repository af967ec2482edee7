// The host as a session's worker uses it: once the window has aborted the session (ReplyStatus
// 255), every call is dropped, so a worker never touches a window that is going away.
#pragma once

#include <cstdint>
#include <string>

#include "session/SessionHost.h"

namespace kv5 {

class GuardedHost : public SysexSender {
 public:
  explicit GuardedHost(SessionHost& host) : host_(host), state_(host.Exchange()) {}

  ExchangeState& Exchange() { return state_; }
  const SessionTiming& Timing() const { return host_.Timing(); }
  bool Aborted() const { return state_.Aborted(); }

  // -1 without sending once aborted; the wait that follows returns at once and sees 255.
  int SendSysex(const uint8_t* bytes, uint32_t length) override {
    return Aborted() ? -1 : host_.SendSysex(bytes, length);
  }

  void ShowError(int stringId) {
    if (!Aborted()) host_.ShowError(stringId);
  }
  void LeaveBusy() {
    if (!Aborted()) host_.LeaveBusy();
  }
  // A failed session ends with its error box, then leaves the busy state.
  void Fail(int stringId) {
    ShowError(stringId);
    LeaveBusy();
  }
  void EnableActions(bool enable) {
    if (!Aborted()) host_.EnableActions(enable);
  }
  void SetStatusLine(const std::string& text) {
    if (!Aborted()) host_.SetStatusLine(text);
  }
  void SetStepCounter(const std::string& text) {
    if (!Aborted()) host_.SetStepCounter(text);
  }
  void SetProgressRange(int32_t maximum) {
    if (!Aborted()) host_.SetProgressRange(maximum);
  }
  void SetProgressPos(int32_t position) {
    if (!Aborted()) host_.SetProgressPos(position);
  }

  void SetVersionSlot(int slot, const std::string& text) {
    if (!Aborted()) host_.Versions().slots[slot] = text;
  }
  void CloseOutPort() {
    if (!Aborted()) host_.CloseOutPort();
  }
  void CloseInPortIfOpen() {
    if (!Aborted()) host_.CloseInPortIfOpen();
  }
  void PostVersionCheckDone(int result) {
    if (!Aborted()) host_.PostVersionCheckDone(result);
  }

 private:
  SessionHost& host_;
  ExchangeState& state_;
};

}  // namespace kv5
