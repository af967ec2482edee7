// A SessionHost for tests: records every feedback call and every send, in order, as short texts
// ("error:Transfer error occurred.", "leave", "actions:0", "status:...", "step:4/10",
// "range:10", "pos:1", "send:write", "close-out", "close-in", "done:-1"), and hands every message
// sent to a link (the scripted unit). Calls made after the exchange was aborted are counted.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "session/SessionHost.h"

namespace kv5::test {

// The kind of a message the host sends, as recorded: "identify", "enter", "erase", "write",
// "finish", "read", "result" (the poller's answers), "identity-reply", "other".
std::string MessageKind(const uint8_t* bytes, uint32_t length);

class RecordingHost : public SessionHost {
 public:
  using Link = std::function<int(const uint8_t* bytes, uint32_t length)>;

  RecordingHost(ExchangeState& state, const SessionTiming& timing)
      : state_(state), timing_(timing) {}

  // Where sent messages go; without a link every send succeeds and goes nowhere. afterSend runs
  // once the link has taken a message. The link serialises what it needs; the host holds no lock
  // while it calls out, so tests build no lock order of their own.
  void Connect(Link link, std::function<void()> afterSend = nullptr) {
    link_ = std::move(link);
    afterSend_ = std::move(afterSend);
  }

  int SendSysex(const uint8_t* bytes, uint32_t length) override;
  ExchangeState& Exchange() override { return state_; }
  const SessionTiming& Timing() const override { return timing_; }
  void ShowError(int stringId) override;
  void LeaveBusy() override;
  void EnableActions(bool enable) override;
  void SetStatusLine(const std::string& text) override;
  void SetStepCounter(const std::string& text) override;
  void SetProgressRange(int32_t maximum) override;
  void SetProgressPos(int32_t position) override;
  VersionTable& Versions() override;
  FlashVerification& Verification() override { return verification_; }
  void CloseOutPort() override;
  void CloseInPortIfOpen() override;
  void PostVersionCheckDone(int result) override;

  std::vector<std::string> Events() const;
  // Events whose text begins with prefix, in order.
  std::vector<std::string> EventsStartingWith(const std::string& prefix) const;
  int Count(const std::string& event) const;
  // Host calls (sends of the worker included) made after the abort.
  int CallsAfterAbort() const { return callsAfterAbort_.load(); }
  // The table a version check fills; read by the test after the worker ended.
  VersionTable& Table() { return table_; }

 protected:
  void Record(std::string event);

 private:
  ExchangeState& state_;
  const SessionTiming timing_;
  Link link_;
  std::function<void()> afterSend_;
  mutable std::mutex eventLock_;
  std::vector<std::string> events_;
  std::atomic<int> callsAfterAbort_{0};
  VersionTable table_;
  FlashVerification verification_;
};

}  // namespace kv5::test
