#include "platform/midi/jack/JackOutputStream.h"

#include <jack/midiport.h>

#include <algorithm>
#include <thread>

#include "platform/midi/MidiServices.h"

namespace kv5 {

JackOutputStream::JackOutputStream(JackClient& client, jack_port_t* port, size_t cycleByteLimit,
                                   size_t queueLength, JackBridgePacer* pacer)
    : client_(client),
      port_(port),
      cycleByteLimit_(cycleByteLimit),
      pacer_(pacer),
      jobs_(queueLength) {
  attached_ = client_.Attach(this);
}

JackOutputStream::~JackOutputStream() {
  if (attached_) {
    Cancel();
    if (bufferHoldsEvents_.load()) client_.WaitForCycles(1, std::chrono::milliseconds(200));
    client_.Detach(this);
  }
  DropAll();
}

bool JackOutputStream::Queue(const uint8_t* data, uint32_t length, std::atomic<uint32_t>* flags) {
  if (!attached_ || length == 0) return false;
  outstanding_.fetch_add(1);
  if (!jobs_.Push(Job{data, length, flags})) {
    outstanding_.fetch_sub(1);
    return false;
  }
  return true;
}

void JackOutputStream::Cancel() {
  if (outstanding_.load() == 0) return;
  const uint32_t request = cancelRequested_.fetch_add(1) + 1;
  // The next cycle drops the queue; wait for it, a few periods at most.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  while (cancelServed_.load() != request) {
    if (client_.ServerGone() || std::chrono::steady_clock::now() >= deadline) {
      // No cycle runs: drop the queue here, with the callback kept away meanwhile.
      client_.Detach(this);
      DropAll();
      cancelServed_.store(request);
      attached_ = client_.Attach(this);
      return;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

void JackOutputStream::Complete(const Job& job) noexcept {
  MarkHeaderDone(*job.flags);
  outstanding_.fetch_sub(1);
}

void JackOutputStream::DropAll() noexcept {
  if (hasCurrent_) {
    hasCurrent_ = false;
    Complete(current_);
  }
  Job job{};
  while (jobs_.Pop(&job)) Complete(job);
}

void JackOutputStream::Process(jack_nframes_t frames) noexcept {
  void* buffer = jack_port_get_buffer(port_, frames);
  // An output buffer keeps its events until cleared: clear it every cycle, or they repeat.
  jack_midi_clear_buffer(buffer);
  bufferHoldsEvents_.store(false);

  const uint32_t request = cancelRequested_.load();
  if (request != cancelServed_.load()) {
    DropAll();
    cancelServed_.store(request);
    return;
  }

  size_t budget = cycleByteLimit_ > 0 ? cycleByteLimit_ : SIZE_MAX;
  if (pacer_ != nullptr) budget = std::min(budget, pacer_->Allowance());
  for (;;) {
    if (!hasCurrent_) {
      if (!jobs_.Pop(&current_)) return;
      hasCurrent_ = true;
      written_ = 0;
    }
    if (written_ == current_.length) {
      // Towards a card behind a bridge a message is sent once the card has taken it, as through
      // its raw device; the next one waits until then.
      if (pacer_ != nullptr && !pacer_->Delivered(deliveredAt_)) return;
      hasCurrent_ = false;
      Complete(current_);
      continue;
    }
    const size_t room = std::min(budget, jack_midi_max_event_size(buffer));
    const size_t piece = std::min<size_t>(room, current_.length - written_);
    if (piece == 0) return;
    if (jack_midi_event_write(buffer, 0, current_.data + written_, piece) != 0) return;
    bufferHoldsEvents_.store(true);
    if (pacer_ != nullptr) deliveredAt_ = pacer_->Wrote(piece);
    written_ += static_cast<uint32_t>(piece);
    budget -= piece;
    if (written_ < current_.length) return;  // the rest goes into the next cycle
  }
}

}  // namespace kv5
