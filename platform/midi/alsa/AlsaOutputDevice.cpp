#include "platform/midi/alsa/AlsaOutputDevice.h"

namespace kv5 {
namespace {

void MarkDone(MidiHeader* header) {
  MarkHeaderDone(header);
}

}  // namespace

AlsaOutputDevice::AlsaOutputDevice(std::unique_ptr<OutputLink> link) : link_(std::move(link)) {
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
    if (gone_) return MMSYSERR_NODRIVER;
    const uint32_t flags = header->dwFlags;
    if (!(flags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (flags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    header->dwFlags = (flags & ~MHDR_DONE) | MHDR_INQUEUE;
    queue_.push_back(header);
  }
  changed_.notify_all();
  return MMSYSERR_NOERROR;
}

void AlsaOutputDevice::GiveBackQueued() {
  while (!queue_.empty()) {
    MarkDone(queue_.front());
    queue_.pop_front();
  }
}

void AlsaOutputDevice::Reset() {
  std::unique_lock<std::mutex> hold(lock_);
  cancel_ = true;
  GiveBackQueued();
  link_->Interrupt();
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
    const OutputLink::Outcome outcome =
        link_->Send(sending_->lpData, sending_->dwBufferLength, [this] { return cancel_.load(); });
    hold.lock();
    if (outcome == OutputLink::Outcome::Gone) {
      // Set before the done bit, so the owner that sees the header back sees the device gone.
      gone_ = true;
      GiveBackQueued();
    }
    MarkDone(sending_);
    sending_ = nullptr;
    changed_.notify_all();
  }
}

}  // namespace kv5
