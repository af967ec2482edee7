// A recording host that talks to a unit the way the updater does: the real MIDI input and output
// ports on a backend (loopback, in tests), and the periodic timer running the reply poller every
// millisecond on its own thread.
#pragma once

#include <cstdint>

#include "RecordingHost.h"
#include "midi/CDxMTimer.h"
#include "midi/MidiInPort.h"
#include "midi/MidiOutPort.h"
#include "platform/midi/MidiBackend.h"
#include "platform/timer/TimerServices.h"

namespace kv5::test {

class PortsHost : public RecordingHost {
 public:
  PortsHost(ExchangeState& state, const SessionTiming& timing, MidiBackend& midi,
            TimerServices& timer);
  // The timer is stopped before the ports close, so no tick outlives them.
  ~PortsHost() override;

  // Opens both ports at the devices of these indexes and starts the poller's timer; false when a
  // port or the timer failed.
  bool Open(int inDevice, int outDevice);

  int SendSysex(const uint8_t* bytes, uint32_t length) override;
  void CloseOutPort() override;
  void CloseInPortIfOpen() override;

  bool InOpen() const { return in_.IsOpen(); }
  bool OutOpen() const { return out_.IsOpen(); }

 private:
  static void PollerTimerProc(uint32_t id, uint32_t message, uintptr_t user, uintptr_t r1,
                              uintptr_t r2);

  ExchangeState& state_;
  MidiInPort in_;
  MidiOutPort out_;
  CDxMTimer timer_;
};

}  // namespace kv5::test
