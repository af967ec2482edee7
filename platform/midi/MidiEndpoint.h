// The far side of a MIDI connection, as the virtual unit or a test sees it: whole SysEx messages
// in and out, over loopback, JACK or the ALSA sequencer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kv5 {

class MidiEndpoint {
 public:
  using Receiver = std::function<void(const uint8_t* bytes, size_t length)>;

  virtual ~MidiEndpoint() = default;
  // Called with every complete SysEx message (F0 to F7) that arrives, on a thread of the
  // transport; it must return quickly. Set it before traffic starts.
  virtual void SetReceiver(Receiver receiver) = 0;
  // Sends the bytes as they stand (normally one whole message, but any bytes are allowed, so
  // malformed traffic can be produced on purpose). Returns when the transport has taken them;
  // false when it refused them.
  virtual bool Send(const uint8_t* bytes, size_t length) = 0;
  virtual std::string Name() const = 0;
};

}  // namespace kv5
