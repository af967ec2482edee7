// Where an open output device's messages go: a port of another sequencer client, reached from a
// port of our own, or the raw MIDI output of a sound card (AlsaRawOutput).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/midi/alsa/AlsaSeqSender.h"
#include "platform/midi/alsa/OutputPacer.h"

namespace kv5 {

class OutputLink {
 public:
  enum class Outcome {
    Sent,       // every byte has left for the device
    Cancelled,  // cancelled() said so; the rest of the message is not sent
    Failed,     // the receiver took nothing for too long, or refused the message
    Gone,       // the device is gone; every later message fails the same way
  };

  virtual ~OutputLink() = default;
  // Sends one message on the calling thread; cancelled is asked while it waits.
  virtual Outcome Send(const uint8_t* bytes, size_t count,
                       const std::function<bool()>& cancelled) = 0;
  // Makes a Send that waits ask cancelled at once; any thread.
  virtual void Interrupt() {}
};

// To a sequencer port: whole or in pieces, paced when the port stands for a device with a buffer
// that drops what does not fit.
class SeqLink : public OutputLink {
 public:
  SeqLink(SeqSender& sender, int ownPort, std::unique_ptr<OutputPacer> pacer)
      : sender_(sender), ownPort_(ownPort), pacer_(std::move(pacer)) {}

  Outcome Send(const uint8_t* bytes, size_t count,
               const std::function<bool()>& cancelled) override {
    switch (sender_.Send(ownPort_, bytes, count, pacer_.get(), cancelled)) {
      case SeqSender::Outcome::Sent:
        return Outcome::Sent;
      case SeqSender::Outcome::Cancelled:
        return Outcome::Cancelled;
      case SeqSender::Outcome::Failed:
        break;
    }
    return Outcome::Failed;
  }

 private:
  SeqSender& sender_;
  const int ownPort_;
  const std::unique_ptr<OutputPacer> pacer_;
};

}  // namespace kv5
