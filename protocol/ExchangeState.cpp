#include "protocol/ExchangeState.h"

#include <chrono>

namespace kv5 {

ExchangeState::ExchangeState() : ReadBackBuffer(std::make_unique<uint8_t[]>(kReadBackCapacity)) {}

int ExchangeState::Status() const {
  std::lock_guard<std::mutex> hold(RecordLock);
  return ReplyStatus;
}

void ExchangeState::SetStatusUnlessAborted(int status) {
  std::lock_guard<std::mutex> hold(RecordLock);
  // The abort flag decides, not the stored value: no reply can make an abort of itself.
  if (!aborted_ && !lost_) ReplyStatus = status;
}

void ExchangeState::DeviceLost() {
  {
    std::lock_guard<std::mutex> hold(RecordLock);
    if (!aborted_) ReplyStatus = kReplyDeviceLost;
    std::lock_guard<std::mutex> pauses(pauseLock_);
    lost_ = true;
  }
  pauseEnded_.notify_all();
  ReplyEvent.Set();
}

void ExchangeState::ClearDeviceLost() {
  std::lock_guard<std::mutex> hold(RecordLock);
  if (!lost_) return;
  lost_ = false;
  if (ReplyStatus == kReplyDeviceLost) ReplyStatus = 0;
}

void ExchangeState::Abort() {
  {
    // Status and flag change together, so a reply recorded meanwhile cannot come between them.
    std::lock_guard<std::mutex> hold(RecordLock);
    ReplyStatus = kReplyAborted;
    std::lock_guard<std::mutex> pause(pauseLock_);
    aborted_ = true;
  }
  pauseEnded_.notify_all();
  ReplyEvent.Set();
}

bool ExchangeState::WaitReply(uint32_t milliseconds) {
  if (aborted_ || lost_) return true;
  return ReplyEvent.Wait(milliseconds);
}

void ExchangeState::Pause(uint32_t milliseconds) {
  std::unique_lock<std::mutex> hold(pauseLock_);
  pauseEnded_.wait_for(hold, std::chrono::milliseconds(milliseconds),
                       [this] { return aborted_.load() || lost_.load(); });
}

DeviceCodeBytes ExchangeState::DeviceCode() const {
  std::lock_guard<std::mutex> hold(codeLock_);
  return deviceCode_;
}

void ExchangeState::SetDeviceCode(const DeviceCodeBytes& code) {
  std::lock_guard<std::mutex> hold(codeLock_);
  deviceCode_ = code;
}

DeviceCodeBytes ExchangeState::EchoCode() const {
  std::lock_guard<std::mutex> hold(codeLock_);
  return echoCode_;
}

void ExchangeState::SetEchoCode(const DeviceCodeBytes& code) {
  std::lock_guard<std::mutex> hold(codeLock_);
  echoCode_ = code;
}

}  // namespace kv5
