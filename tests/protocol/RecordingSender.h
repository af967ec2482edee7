// A SysexSender for tests: keeps a copy of every message sent and lets a test answer it (or make
// the send fail) through a hook that runs outside the recorder's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "protocol/SysexSender.h"

namespace kv5::test {

class RecordingSender : public SysexSender {
 public:
  using Hook = std::function<int(const std::vector<uint8_t>& message)>;

  int SendSysex(const uint8_t* bytes, uint32_t length) override {
    std::vector<uint8_t> message(bytes, bytes + length);
    Hook hook;
    {
      std::lock_guard<std::mutex> hold(lock_);
      sent_.push_back(message);
      hook = hook_;
    }
    return hook ? hook(message) : 0;
  }

  // Runs for every message sent; its result is the send's result.
  void OnSend(Hook hook) {
    std::lock_guard<std::mutex> hold(lock_);
    hook_ = std::move(hook);
  }

  std::vector<std::vector<uint8_t>> Sent() const {
    std::lock_guard<std::mutex> hold(lock_);
    return sent_;
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    sent_.clear();
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::vector<uint8_t>> sent_;
  Hook hook_;
};

}  // namespace kv5::test
