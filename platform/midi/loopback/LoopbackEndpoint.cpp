#include "platform/midi/loopback/LoopbackEndpoint.h"

namespace kv5 {
namespace {

// The header leaves the device before it is marked done, so a sender that sees the done bit may
// unprepare it at once.
void MarkDone(MidiHeader* header) {
  MarkHeaderDone(header);
}

}  // namespace

LoopbackEndpoint::LoopbackEndpoint(std::string name) : name_(std::move(name)) {
  delivery_ = std::thread([this] { DeliveryLoop(); });
}

LoopbackEndpoint::~LoopbackEndpoint() {
  {
    std::lock_guard<std::mutex> hold(outputLock_);
    quit_ = true;
    for (MidiHeader* header : outputQueue_) MarkDone(header);
    outputQueue_.clear();
  }
  outputChanged_.notify_all();
  delivery_.join();
}

void LoopbackEndpoint::SetReceiver(Receiver receiver) {
  std::lock_guard<std::mutex> hold(receiverLock_);
  receiver_ = std::move(receiver);
}

bool LoopbackEndpoint::Send(const uint8_t* bytes, size_t length) {
  // Holding the lock keeps the input attached, and so alive, meanwhile. The host's callback runs on
  // this thread when the input is idle: it queues the message and wakes the consumer without a
  // thread of the input's own in between. It takes the services' table lock, which is never held
  // while this one is taken.
  std::lock_guard<std::mutex> hold(inputLock_);
  if (input_) input_->FeedAndDeliver(bytes, length);
  return true;
}

void LoopbackEndpoint::AttachInput(SysexInputBuffers* input) {
  std::lock_guard<std::mutex> hold(inputLock_);
  input_ = input;
}

void LoopbackEndpoint::DetachInput(const SysexInputBuffers* input) {
  std::lock_guard<std::mutex> hold(inputLock_);
  if (input_ == input) input_ = nullptr;
}

MidiResult LoopbackEndpoint::TakeOutput(MidiHeader* header) {
  {
    std::lock_guard<std::mutex> hold(outputLock_);
    if (quit_) return MMSYSERR_ERROR;
    header->dwFlags.fetch_and(~MHDR_DONE);
    header->dwFlags.fetch_or(MHDR_INQUEUE);
    outputQueue_.push_back(header);
  }
  outputChanged_.notify_all();
  return MMSYSERR_NOERROR;
}

void LoopbackEndpoint::CancelOutput() {
  std::unique_lock<std::mutex> hold(outputLock_);
  for (MidiHeader* header : outputQueue_) MarkDone(header);
  outputQueue_.clear();
  // A receiver that resets the output it is being fed from cannot wait for itself.
  if (std::this_thread::get_id() == delivery_.get_id()) return;
  outputChanged_.wait(hold, [this] { return inFlight_ == nullptr; });
}

bool LoopbackEndpoint::OutputBusy() const {
  std::lock_guard<std::mutex> hold(outputLock_);
  return inFlight_ != nullptr || !outputQueue_.empty();
}

void LoopbackEndpoint::DeliveryLoop() {
  std::unique_lock<std::mutex> hold(outputLock_);
  for (;;) {
    outputChanged_.wait(hold, [this] { return quit_ || !outputQueue_.empty(); });
    if (quit_) return;
    MidiHeader* header = outputQueue_.front();
    outputQueue_.pop_front();
    inFlight_ = header;
    hold.unlock();
    Receiver receiver;
    {
      std::lock_guard<std::mutex> holdReceiver(receiverLock_);
      receiver = receiver_;
    }
    if (receiver) receiver(header->lpData, header->dwBufferLength);
    hold.lock();
    MarkDone(header);
    inFlight_ = nullptr;
    outputChanged_.notify_all();
  }
}

}  // namespace kv5
