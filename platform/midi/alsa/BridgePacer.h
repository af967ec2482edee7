// Paces output to a sound card's port through the sequencer, where the kernel's bridge writes
// each event into the card's raw MIDI buffer (4096 bytes unless its module says otherwise) and
// silently drops what does not fit. A piece goes only when the buffer has room for it, as the
// kernel's account of that buffer says (CardMidiState); the driver empties it at the device's own
// speed, so the message goes about as fast as the device takes it. Where that account cannot be
// read, the buffer is taken to feed a 31250-baud line, the slowest a card may have.
#pragma once

#include "platform/midi/alsa/AlsaCardPort.h"
#include "platform/midi/alsa/AlsaConfig.h"
#include "platform/midi/alsa/OutputPacer.h"
#include "platform/midi/alsa/WirePacer.h"

namespace kv5 {

class BridgePacer : public OutputPacer {
 public:
  BridgePacer(const RawMidiAddress& card, const AlsaConfig& config);

  Clock::duration DelayBefore(size_t bytes, Clock::time_point now) override;
  void Sent(size_t bytes, Clock::time_point now) override;

 private:
  const RawMidiAddress card_;
  const Clock::duration recheck_;
  // What was free at the last look, less what went since.
  size_t room_ = 0;
  bool readable_ = true;
  WirePacer line_;
};

}  // namespace kv5
