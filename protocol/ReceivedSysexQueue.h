// The first-in first-out list of captured SysEx messages: the MIDI input port appends on its
// input thread, the reply poller peeks and pops on the timer thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

namespace kv5 {

struct SysexEntry {
  std::unique_ptr<uint8_t[]> bytes;
  uint32_t length = 0;  // at least 1
  std::unique_ptr<SysexEntry> next;
};

class ReceivedSysexQueue {
 public:
  ReceivedSysexQueue() = default;
  ReceivedSysexQueue(const ReceivedSysexQueue&) = delete;
  ReceivedSysexQueue& operator=(const ReceivedSysexQueue&) = delete;
  ~ReceivedSysexQueue();

  // Copies length bytes (length >= 1) into a new entry, built before the lock is taken, and links
  // it at the tail.
  void Append(const uint8_t* bytes, uint32_t length);
  // The head entry or nullptr; it stays valid until the same consumer pops it.
  const SysexEntry* PeekSysex() const;
  // Unlinks and releases the head entry; nothing on an empty queue. Always 0.
  int PopSysex();
  bool Empty() const;

 private:
  mutable std::mutex QueueLock;
  std::unique_ptr<SysexEntry> head_;
  SysexEntry* tail_ = nullptr;
};

}  // namespace kv5
