#include "platform/midi/common/SysexInputBuffers.h"

namespace kv5 {

SysexInputBuffers::SysexInputBuffers(MidiInHandle handle, MidiInProc callback, uintptr_t instance)
    : handle_(handle), callback_(callback), instance_(instance) {
  delivery_ = std::thread([this] { DeliveryLoop(); });
}

SysexInputBuffers::~SysexInputBuffers() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    quit_ = true;
  }
  work_.notify_one();
  changed_.notify_all();
  delivery_.join();
}

MidiResult SysexInputBuffers::PrepareHeader(MidiHeader* header) {
  if (header == nullptr || header->lpData == nullptr) return MMSYSERR_INVALPARAM;
  std::lock_guard<std::mutex> hold(lock_);
  header->dwFlags |= MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MidiResult SysexInputBuffers::AddBuffer(MidiHeader* header) {
  if (header == nullptr || header->lpData == nullptr || header->dwBufferLength == 0)
    return MMSYSERR_INVALPARAM;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const uint32_t flags = header->dwFlags;
    if (!(flags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (flags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    header->dwBytesRecorded = 0;
    header->dwFlags = (flags & ~MHDR_DONE) | MHDR_INQUEUE;
    queued_.push_back(header);
    // Whoever is handing a buffer back (the owner queues the next one from inside that callback)
    // looks for more work once the callback has returned: waking the delivery thread as well
    // would only make it look and sleep again.
    if (delivering_) return MMSYSERR_NOERROR;
  }
  work_.notify_one();
  return MMSYSERR_NOERROR;
}

MidiResult SysexInputBuffers::Start() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    started_ = true;
  }
  work_.notify_one();
  return MMSYSERR_NOERROR;
}

void SysexInputBuffers::StopInput(std::unique_lock<std::mutex>& hold) {
  // Without this drain a message that had fully arrived could vanish, depending on whether the
  // delivery thread had got to it before the stop.
  if (started_) {
    stopping_ = true;
    work_.notify_one();
    changed_.wait(hold, [this] { return !delivering_ && !CanConsume(); });
    stopping_ = false;
  }
  started_ = false;
  pending_.clear();
  WaitUntilNoDelivery(hold);
  // The owner is ending input itself: a notice not yet sent would come after Stop returned.
  closeNoticeDue_ = false;
  HandBackPartial(hold);
  inSysex_ = false;
}

MidiResult SysexInputBuffers::Stop() {
  std::unique_lock<std::mutex> hold(lock_);
  StopInput(hold);
  return MMSYSERR_NOERROR;
}

MidiResult SysexInputBuffers::Reset() {
  std::unique_lock<std::mutex> hold(lock_);
  StopInput(hold);
  // A partly filled buffer handed back above may be queued again by the owner; it is empty then
  // and comes back here with zero bytes, which the owner does not queue again.
  while (!queued_.empty()) HandBack(hold, MIM_LONGDATA);
  return MMSYSERR_NOERROR;
}

MidiResult SysexInputBuffers::UnprepareHeader(MidiHeader* header) {
  if (header == nullptr) return MMSYSERR_INVALPARAM;
  std::lock_guard<std::mutex> hold(lock_);
  if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
  header->dwFlags &= ~MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MidiResult SysexInputBuffers::CanClose() {
  std::unique_lock<std::mutex> hold(lock_);
  WaitUntilNoDelivery(hold);
  return queued_.empty() ? MMSYSERR_NOERROR : MIDIERR_STILLPLAYING;
}

bool SysexInputBuffers::Append(const uint8_t* bytes, size_t count) {
  if (!started_ || stopping_ || quit_ || vanished_) return false;
  pending_.insert(pending_.end(), bytes, bytes + count);
  while (pending_.size() > kPendingLimit) pending_.pop_front();
  return true;
}

void SysexInputBuffers::Feed(const uint8_t* bytes, size_t count) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!Append(bytes, count)) return;
  }
  work_.notify_one();
}

void SysexInputBuffers::FeedAndDeliver(const uint8_t* bytes, size_t count) {
  std::unique_lock<std::mutex> hold(lock_);
  if (!Append(bytes, count)) return;
  // While a callback runs, its caller (the delivery thread or another feeder) goes on with these
  // bytes after it; otherwise nobody is consuming, and this thread does it.
  if (delivering_) return;
  bool consumed = false;
  while (!closeNoticeDue_ && CanConsume()) {
    ConsumeByte(hold);
    consumed = true;
  }
  if (!consumed) {
    // The bytes wait for a buffer, or behind a close notice: the delivery thread's work.
    hold.unlock();
    work_.notify_one();
    return;
  }
  // A Stop may be waiting for the delivery to run dry.
  changed_.notify_all();
}

void SysexInputBuffers::MarkLoss() {
  Feed(&kLossMark, 1);
}

void SysexInputBuffers::Vanish() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (vanished_) return;
    vanished_ = true;
    closeNoticeDue_ = true;
    pending_.clear();
    // The message begun will never end: its bytes must not come back as if received.
    if (inSysex_ && !queued_.empty()) queued_.front()->dwBytesRecorded = 0;
    inSysex_ = false;
  }
  work_.notify_one();
  changed_.notify_all();  // nothing is left to consume, which a Stop may be waiting for
}

void SysexInputBuffers::HandBack(std::unique_lock<std::mutex>& hold, uint32_t message) {
  MidiHeader* header = queued_.front();
  queued_.pop_front();
  header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
  delivering_ = true;
  hold.unlock();
  callback_(handle_, message, instance_, reinterpret_cast<uintptr_t>(header), 0);
  hold.lock();
  delivering_ = false;
  changed_.notify_all();
}

void SysexInputBuffers::HandBackPartial(std::unique_lock<std::mutex>& hold) {
  if (!queued_.empty() && queued_.front()->dwBytesRecorded > 0) HandBack(hold, MIM_LONGDATA);
}

void SysexInputBuffers::WaitUntilNoDelivery(std::unique_lock<std::mutex>& hold) {
  changed_.wait(hold, [this] { return !delivering_; });
}

bool SysexInputBuffers::CanConsume() const {
  // Bytes outside a message need no buffer; a message's bytes wait for one.
  if (!started_ || vanished_ || pending_.empty() || delivering_) return false;
  const bool needsBuffer = inSysex_ || pending_.front() == kSysexStartByte;
  return !needsBuffer || !queued_.empty();
}

void SysexInputBuffers::DeliveryLoop() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    if (!quit_ && !closeNoticeDue_ && !CanConsume()) {
      changed_.notify_all();  // a Stop may be waiting for the delivery to run dry
      work_.wait(hold, [this] { return quit_ || closeNoticeDue_ || CanConsume(); });
    }
    if (quit_) return;
    if (closeNoticeDue_) {
      // A feeder may be inside a data callback: the notice comes after it.
      if (delivering_) {
        changed_.wait(hold, [this] { return quit_ || !delivering_; });
        continue;
      }
      closeNoticeDue_ = false;
      delivering_ = true;
      hold.unlock();
      callback_(handle_, MIM_CLOSE, instance_, 0, 0);
      hold.lock();
      delivering_ = false;
      changed_.notify_all();
      continue;
    }
    ConsumeByte(hold);
  }
}

void SysexInputBuffers::ConsumeByte(std::unique_lock<std::mutex>& hold) {
  const uint8_t byte = pending_.front();
  if (byte >= 0xF8) {  // real-time bytes may appear anywhere and are not part of a message
    pending_.pop_front();
    return;
  }
  if (!inSysex_) {
    pending_.pop_front();
    if (byte != kSysexStartByte) return;  // outside a message: short messages are not captured
    inSysex_ = true;
    MidiHeader* header = queued_.front();
    header->lpData[header->dwBytesRecorded++] = byte;
    return;
  }
  MidiHeader* header = queued_.front();
  if (byte & 0x80 && byte != kSysexEndByte) {
    // A status byte ends the message before its F7: what was captured comes back as an error.
    // A new F0 then starts the next message; any other status byte is dropped.
    inSysex_ = false;
    if (byte != kSysexStartByte) pending_.pop_front();
    if (header->dwBytesRecorded > 0) HandBack(hold, MIM_LONGERROR);
    return;
  }
  pending_.pop_front();
  header->lpData[header->dwBytesRecorded++] = byte;
  if (byte == kSysexEndByte) {
    inSysex_ = false;
    HandBack(hold, MIM_LONGDATA);
  } else if (header->dwBytesRecorded == header->dwBufferLength) {
    HandBack(hold, MIM_LONGDATA);  // the message goes on in the next buffer
  }
}

}  // namespace kv5
