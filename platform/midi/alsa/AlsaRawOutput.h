// A sound card's raw MIDI output as the link of an open output device. The bytes go into the
// kernel's buffer as fast as the driver takes them out, so the device's own flow control sets the
// speed (a USB unit takes an update in seconds, a DIN line at 31250 baud as slowly as it must); a
// message counts as sent once the buffer is empty, every byte handed to the driver. That is the
// first half of snd_rawmidi_drain, without its costs: the drain wakes the waiting writer for every
// byte the driver takes (a 4700-byte message through the virtual raw MIDI card took 1.3 ms this
// way and 1.9 ms drained, in the emulated test machine), its second half (the driver's own drain,
// or a fixed 50 ms sleep for drivers without one, such as many DIN interfaces) would add 50 ms to
// each of an update's ~370 messages there, and it cannot be interrupted by Reset. Here the writer
// sleeps until the driver has taken all but the last byte, and is woken once.
//
// A card that goes away (a USB cable pulled) ends the message at once, whatever the output is
// doing: writing, waiting for room or waiting for the buffer to empty; and its close does not
// wait out the kernel's ten-second drain of the bytes left in the buffer.
#pragma once

#include <alsa/asoundlib.h>

#include <memory>

#include "platform/midi/MidiServices.h"
#include "platform/midi/alsa/AlsaCardPort.h"
#include "platform/midi/alsa/AlsaConfig.h"
#include "platform/midi/alsa/AlsaOutputLink.h"
#include "platform/midi/alsa/RawMidiCalls.h"

namespace kv5 {

class RawMidiOutput : public OutputLink {
 public:
  // Opens the output without waiting for it: a device that another program holds fails at once
  // with MMSYSERR_ALLOCATED (in *result), one that cannot be opened otherwise with
  // MMSYSERR_ERROR.
  static std::unique_ptr<RawMidiOutput> Open(const RawMidiAddress& address,
                                             const AlsaConfig& config, MidiResult* result,
                                             const RawMidiCalls& calls = RawMidiCalls{});
  ~RawMidiOutput() override;
  RawMidiOutput(const RawMidiOutput&) = delete;
  RawMidiOutput& operator=(const RawMidiOutput&) = delete;

  Outcome Send(const uint8_t* bytes, size_t count, const std::function<bool()>& cancelled) override;
  void Interrupt() override;

 private:
  RawMidiOutput(const RawMidiCalls& calls, snd_rawmidi_t* raw, int wakeFd,
                const AlsaConfig& config);
  // Waits until the kernel's buffer has room (it is empty but for at most one byte), the device
  // has gone, the stall limit passed or Interrupt was called.
  enum class Wait { Room, Interrupted, Stalled, Gone };
  Wait WaitForRoom();
  // After the last write: Sent once the buffer is empty.
  Outcome WaitUntilEmpty(const std::function<bool()>& cancelled);

  const RawMidiCalls calls_;
  snd_rawmidi_t* const raw_;
  const int wakeFd_;
  const size_t bufferBytes_;
  const int stallLimitMs_;
};

}  // namespace kv5
