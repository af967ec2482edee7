// One in-process device of the loopback system, seen from its far side: the endpoint (the virtual
// unit's, or a test's), the host's input that the endpoint's messages feed, and the delivery of
// the host's output to the endpoint.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/midi/MidiEndpoint.h"
#include "platform/midi/MidiServices.h"
#include "platform/midi/common/SysexInputBuffers.h"

namespace kv5 {

// Host output reaches the endpoint's receiver on this device's own delivery thread, never on the
// sender's thread: a sender holds its port's send lock while it waits for the done bit, and a
// receiver that answered inline (sending on the host's port, or waiting for something the
// sender's thread does next) would deadlock against it. Messages are delivered one at a time, in
// the order they were sent, and a header is marked done once the receiver has returned.
class LoopbackEndpoint : public MidiEndpoint {
 public:
  explicit LoopbackEndpoint(std::string name);
  ~LoopbackEndpoint() override;
  LoopbackEndpoint(const LoopbackEndpoint&) = delete;
  LoopbackEndpoint& operator=(const LoopbackEndpoint&) = delete;

  // The endpoint's side.
  void SetReceiver(Receiver receiver) override;
  // Feeds the host's input device when it is open; otherwise the bytes go nowhere, as on a cable
  // that nobody listens to. The host's input callback may run on the calling thread, but nothing
  // waits for the host to take the message up.
  bool Send(const uint8_t* bytes, size_t length) override;
  std::string Name() const override { return name_; }

  // The host's input: the buffers of the open input device, or none. They must stay alive until
  // DetachInput has returned.
  void AttachInput(SysexInputBuffers* input);
  // Detaches the given input if it is the one attached; returns once no feed uses it.
  void DetachInput(const SysexInputBuffers* input);

  // The host's output.
  MidiResult TakeOutput(MidiHeader* header);
  // Gives every header not yet delivered back as done and waits for the one being delivered.
  void CancelOutput();
  bool OutputBusy() const;

 private:
  void DeliveryLoop();

  const std::string name_;

  std::mutex receiverLock_;
  Receiver receiver_;

  std::mutex inputLock_;
  SysexInputBuffers* input_ = nullptr;

  mutable std::mutex outputLock_;
  std::condition_variable outputChanged_;
  std::deque<MidiHeader*> outputQueue_;
  MidiHeader* inFlight_ = nullptr;
  bool quit_ = false;
  std::thread delivery_;
};

}  // namespace kv5
