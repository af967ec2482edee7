// The input side that every backend other than winmm shares: it takes the bytes a transport
// received, in any split, and fills the buffers the owner queued, as the multimedia input device
// does. Bytes fed with Feed are handed over to a delivery thread of its own, so the transport's
// thread never runs the owner's callback; a transport whose thread may run it (it holds no lock
// that the callback takes and nothing waits for it meanwhile) feeds with FeedAndDeliver instead
// and saves the wake-up of the delivery thread for every message.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/midi/MidiServices.h"

namespace kv5 {

class SysexInputBuffers {
 public:
  // Bytes received while no buffer is queued wait for one up to this many bytes; beyond it the
  // oldest are dropped, so a port that stopped queueing buffers cannot exhaust memory.
  static constexpr size_t kPendingLimit = 4u << 20;

  SysexInputBuffers(MidiInHandle handle, MidiInProc callback, uintptr_t instance);
  ~SysexInputBuffers();
  SysexInputBuffers(const SysexInputBuffers&) = delete;
  SysexInputBuffers& operator=(const SysexInputBuffers&) = delete;

  MidiResult PrepareHeader(MidiHeader* header);
  MidiResult AddBuffer(MidiHeader* header);
  MidiResult Start();
  // Input ends. Bytes fed before the call are first delivered as far as queued buffers take them;
  // then a partly filled buffer comes back (done, with the bytes so far) through the callback on
  // the calling thread, and the rest of that message is discarded. Stop, Reset, CanClose and the
  // destructor must not be called from inside the callback (they wait for it to return).
  MidiResult Stop();
  // As Stop, then every queued buffer comes back, an empty one with zero bytes.
  MidiResult Reset();
  MidiResult UnprepareHeader(MidiHeader* header);
  // MIDIERR_STILLPLAYING while a buffer is queued.
  MidiResult CanClose();

  // The device went away: bytes not yet delivered are dropped (a message begun is not handed on),
  // no data callback follows, and the delivery thread calls the callback once with MIM_CLOSE.
  // Stop, Reset and Close still hand back the buffers. Non-blocking; later calls do nothing.
  void Vanish();

  // Bytes from the transport, in arrival order. Bytes outside a SysEx message (short messages,
  // real-time bytes) are ignored. Non-blocking; bytes received while stopped are discarded.
  void Feed(const uint8_t* bytes, size_t count);
  // As Feed, but when no callback is running the calling thread consumes the bytes itself and
  // runs the callbacks they complete; otherwise (and for bytes that wait for a buffer) the one
  // already delivering, or the delivery thread, goes on with them. The caller must hold no lock
  // that the callback may take.
  void FeedAndDeliver(const uint8_t* bytes, size_t count);
  // The transport lost bytes at this point of the stream: the message being received is dropped
  // (its buffer comes back as MIM_LONGERROR, which makes no entry), never delivered with a hole.
  void MarkLoss();

 private:
  static constexpr uint8_t kSysexStartByte = 0xF0;
  static constexpr uint8_t kSysexEndByte = 0xF7;
  // An undefined status byte: inside a message it ends that message as broken.
  static constexpr uint8_t kLossMark = 0xF4;

  void DeliveryLoop();
  // Appends fed bytes to pending_; false when input refuses them (lock held).
  bool Append(const uint8_t* bytes, size_t count);
  // Consumes the front pending byte, which CanConsume allowed (lock held, released during a
  // callback).
  void ConsumeByte(std::unique_lock<std::mutex>& hold);
  // True when the delivery thread has a byte it can consume now.
  bool CanConsume() const;
  // Ends input: new bytes are refused, those already fed are delivered where a buffer takes them.
  void StopInput(std::unique_lock<std::mutex>& hold);
  // Hands the front buffer back through the callback with the lock released.
  void HandBack(std::unique_lock<std::mutex>& hold, uint32_t message);
  void HandBackPartial(std::unique_lock<std::mutex>& hold);
  void WaitUntilNoDelivery(std::unique_lock<std::mutex>& hold);

  const MidiInHandle handle_;
  const MidiInProc callback_;
  const uintptr_t instance_;

  std::mutex lock_;
  // The delivery thread waits on work_ alone, so the notices that only callers wait for
  // (changed_) never wake it.
  std::condition_variable work_;
  std::condition_variable changed_;
  std::deque<MidiHeader*> queued_;
  std::deque<uint8_t> pending_;
  bool started_ = false;
  bool stopping_ = false;    // Stop or Reset is delivering what was fed before it; Feed refuses
  bool inSysex_ = false;     // a message has begun and not yet ended
  bool delivering_ = false;  // a callback runs (on the delivery thread, a feeder or a Stop)
  bool quit_ = false;
  bool vanished_ = false;
  bool closeNoticeDue_ = false;  // MIM_CLOSE is still to be sent
  std::thread delivery_;
};

}  // namespace kv5
