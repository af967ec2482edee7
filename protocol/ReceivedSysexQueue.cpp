#include "protocol/ReceivedSysexQueue.h"

#include <cstring>

namespace kv5 {

ReceivedSysexQueue::~ReceivedSysexQueue() {
  // Released one by one: a recursive release of a long list could exhaust the stack.
  while (!Empty()) PopSysex();
}

void ReceivedSysexQueue::Append(const uint8_t* bytes, uint32_t length) {
  auto entry = std::make_unique<SysexEntry>();
  entry->bytes = std::make_unique<uint8_t[]>(length);
  std::memcpy(entry->bytes.get(), bytes, length);
  entry->length = length;
  SysexEntry* raw = entry.get();
  std::lock_guard<std::mutex> hold(QueueLock);
  if (tail_ != nullptr) {
    tail_->next = std::move(entry);
  } else {
    head_ = std::move(entry);
  }
  tail_ = raw;
}

const SysexEntry* ReceivedSysexQueue::PeekSysex() const {
  std::lock_guard<std::mutex> hold(QueueLock);
  return head_.get();
}

int ReceivedSysexQueue::PopSysex() {
  std::unique_ptr<SysexEntry> released;
  {
    std::lock_guard<std::mutex> hold(QueueLock);
    if (!head_) return 0;
    released = std::move(head_);
    head_ = std::move(released->next);
    if (!head_) tail_ = nullptr;
  }
  return 0;
}

bool ReceivedSysexQueue::Empty() const {
  std::lock_guard<std::mutex> hold(QueueLock);
  return head_ == nullptr;
}

}  // namespace kv5
