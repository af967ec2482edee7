// The state of the reply handshake between the poller (timer thread), the worker of a session
// and the window's teardown. The poller writes a reply's outcome under RecordLock and then
// signals ReplyEvent; the worker reads it after its wait.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/event/AutoResetEvent.h"
#include "protocol/ProtocolMessages.h"

namespace kv5 {

// ReplyStatus values with a meaning of their own; any other is the unit's failure code.
constexpr int kReplySuccess = 0;
constexpr int kReplyNotAccepted = 1;  // a read reply that was not accepted
constexpr int kReplyNotInUpdateMode = 11;
constexpr int kReplyUnreadableCode = 128;  // a result code byte of 0x80 or more
constexpr int kReplyAborted = 255;         // the window is being destroyed; set by Abort only
// The session's MIDI device went away; no result code of the unit (those are below 128).
constexpr int kReplyDeviceLost = 256;

class ExchangeState {
 public:
  static constexpr uint32_t kReadBackCapacity = 0x58E000;  // 5,824,512 bytes

  ExchangeState();
  ExchangeState(const ExchangeState&) = delete;
  ExchangeState& operator=(const ExchangeState&) = delete;

  // --- Guarded by RecordLock: what the poller records of a reply. ---
  mutable std::mutex RecordLock;
  int ReplyStatus = 0;
  DeviceCodeBytes ReportedDeviceCode{};
  std::unique_ptr<uint8_t[]> ReadBackBuffer;  // kReadBackCapacity bytes, all zero at first
  int ReadTotal = 0;

  AutoResetEvent ReplyEvent;

  // Reads ReplyStatus under the lock.
  int Status() const;
  // Stores a reply's status, unless an abort came first: an abort is final.
  void SetStatusUnlessAborted(int status);

  // The window is going away: ReplyStatus becomes 255 for good, the event is signalled and every
  // pause ends. Later waits return at once.
  void Abort();
  // The one answer to "was the session aborted?": every wait asks this, never ReplyStatus.
  bool Aborted() const { return aborted_.load(); }

  // The session's MIDI device went away: until ClearDeviceLost, ReplyStatus is kReplyDeviceLost
  // (a failure that replies do not overwrite), every wait returns at once and every pause ends,
  // so the session meets failure after failure and ends within moments, not after its timeouts.
  void DeviceLost();
  bool Lost() const { return lost_.load(); }
  // Before the next session's ports open.
  void ClearDeviceLost();

  // Waits for a reply. True when ReplyEvent was signalled in time, or at once after an abort
  // (the caller then reads 255).
  bool WaitReply(uint32_t milliseconds);
  // Sleeps, or returns early once aborted.
  void Pause(uint32_t milliseconds);

  // DeviceCode (its byte 0 is the ModelByte of every vendor message) and EchoCode are read by
  // the poller's answers on the timer thread while a worker may set them.
  DeviceCodeBytes DeviceCode() const;
  void SetDeviceCode(const DeviceCodeBytes& code);
  uint8_t ModelByte() const { return DeviceCode()[0]; }
  DeviceCodeBytes EchoCode() const;
  void SetEchoCode(const DeviceCodeBytes& code);

 private:
  mutable std::mutex codeLock_;
  DeviceCodeBytes deviceCode_{};
  DeviceCodeBytes echoCode_{};

  std::atomic<bool> aborted_{false};
  std::atomic<bool> lost_{false};
  std::mutex pauseLock_;
  std::condition_variable pauseEnded_;
};

}  // namespace kv5
