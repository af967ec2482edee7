// The host as a session's worker uses it: once the window has aborted the session (ReplyStatus
// 255), every call is dropped, so a worker never touches a window that is going away. Once the
// session's device has gone, nothing more is sent or displayed, and the session's one error box
// says "Can't open MIDI Out device." whatever failure ended it.
#pragma once

#include <cstdint>
#include <string>

#include "session/SessionHost.h"
#include "session/StringTable.h"

namespace kv5 {

class GuardedHost : public SysexSender {
 public:
  explicit GuardedHost(SessionHost& host) : host_(host), state_(host.Exchange()) {}

  ExchangeState& Exchange() { return state_; }
  const SessionTiming& Timing() const { return host_.Timing(); }
  bool Aborted() const { return state_.Aborted(); }
  bool Lost() const { return state_.Lost(); }

  // -1 without sending once aborted or lost; the wait that follows returns at once.
  int SendSysex(const uint8_t* bytes, uint32_t length) override {
    return Aborted() || Lost() ? -1 : host_.SendSysex(bytes, length);
  }

  void ShowError(int stringId) {
    if (Aborted()) return;
    boxShown_ = true;
    host_.ShowError(Lost() ? kDeviceGoneMessage : stringId);
  }
  void LeaveBusy() {
    if (Aborted()) return;
    // An ending without a box of its own (the BOOT stamp read) still says why, when the device
    // went away.
    if (Lost() && !boxShown_) ShowError(kDeviceGoneMessage);
    host_.LeaveBusy();
  }
  // A failed session ends with its error box, then leaves the busy state.
  void Fail(int stringId) {
    ShowError(stringId);
    LeaveBusy();
  }
  // A session whose device went before the finish was answered has not completed.
  void EnableActions(bool enable) {
    if (!Aborted() && !Lost()) host_.EnableActions(enable);
  }
  // The displays keep what they showed when the device went.
  void SetStatusLine(const std::string& text) {
    if (!Aborted() && !Lost()) host_.SetStatusLine(text);
  }
  void SetStepCounter(const std::string& text) {
    if (!Aborted() && !Lost()) host_.SetStepCounter(text);
  }
  void SetProgressRange(int32_t maximum) {
    if (!Aborted() && !Lost()) host_.SetProgressRange(maximum);
  }
  void SetProgressPos(int32_t position) {
    if (!Aborted() && !Lost()) host_.SetProgressPos(position);
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
  static constexpr int kDeviceGoneMessage = IDS_CANT_OPEN_OUT;

  SessionHost& host_;
  ExchangeState& state_;
  bool boxShown_ = false;
};

}  // namespace kv5
