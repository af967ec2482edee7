#include "platform/midi/alsa/AlsaOutputDevice.h"

namespace kv5 {
namespace {

void MarkDone(MidiHeader* header) {
  MarkHeaderDone(header);
}

}  // namespace

AlsaOutputDevice::AlsaOutputDevice(SeqSender& sender, int port, bool hardwareLine)
    : sender_(sender), port_(port) {
  if (hardwareLine) pacer_.emplace();
  thread_ = std::thread([this] { Loop(); });
}

AlsaOutputDevice::~AlsaOutputDevice() {
  Reset();
  {
    std::lock_guard<std::mutex> hold(lock_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

MidiResult AlsaOutputDevice::LongMsg(MidiHeader* header) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    const uint32_t flags = header->dwFlags;
    if (!(flags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (flags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    header->dwFlags = (flags & ~MHDR_DONE) | MHDR_INQUEUE;
    queue_.push_back(header);
  }
  changed_.notify_all();
  return MMSYSERR_NOERROR;
}

void AlsaOutputDevice::Reset() {
  std::unique_lock<std::mutex> hold(lock_);
  cancel_ = true;
  while (!queue_.empty()) {
    MarkDone(queue_.front());
    queue_.pop_front();
  }
  changed_.wait(hold, [this] { return sending_ == nullptr; });
  cancel_ = false;
}

bool AlsaOutputDevice::Busy() {
  std::lock_guard<std::mutex> hold(lock_);
  return sending_ != nullptr || !queue_.empty();
}

void AlsaOutputDevice::Loop() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    changed_.wait(hold, [this] { return quit_ || !queue_.empty(); });
    if (quit_) return;
    sending_ = queue_.front();
    queue_.pop_front();
    hold.unlock();
    // A message that fails (its receiver stopped reading) is lost on the way, as on a cable
    // nobody listens to; the header still comes back done.
    sender_.Send(port_, sending_->lpData, sending_->dwBufferLength, pacer_ ? &*pacer_ : nullptr,
                 [this] { return cancel_.load(); });
    hold.lock();
    MarkDone(sending_);
    sending_ = nullptr;
    changed_.notify_all();
  }
}

}  // namespace kv5
