// What a session needs of the window (or the command line) that runs it. The feedback operations
// are called on the worker's thread; each is carried to the user-interface thread and has
// completed when it returns, or returns at once while the window is closing.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/ExchangeState.h"
#include "protocol/SessionTiming.h"
#include "protocol/SysexSender.h"
#include "session/FlashVerification.h"
#include "session/VersionTable.h"

namespace kv5 {

class SessionHost : public SysexSender {
 public:
  virtual ExchangeState& Exchange() = 0;
  virtual const SessionTiming& Timing() const = 0;

  // A modal error box (caption "Error", error icon, OK) with the text of the string id; returns
  // when the user has closed it.
  virtual void ShowError(int stringId) = 0;
  virtual void LeaveBusy() = 0;
  virtual void EnableActions(bool enable) = 0;
  virtual void SetStatusLine(const std::string& text) = 0;
  virtual void SetStepCounter(const std::string& text) = 0;
  // The progress bar's range is 0..maximum (32-bit).
  virtual void SetProgressRange(int32_t maximum) = 0;
  virtual void SetProgressPos(int32_t position) = 0;

  // Used by the version check only.
  virtual VersionTable& Versions() = 0;
  virtual void CloseOutPort() = 0;
  virtual void CloseInPortIfOpen() = 0;
  // Posts VersionCheckDone with the result (0 or -1) to the window; the worker does not wait.
  virtual void PostVersionCheckDone(int result) = 0;

  // Used by the verify session only: its verdicts, read once the worker has ended.
  virtual FlashVerification& Verification() = 0;
};

}  // namespace kv5
