#include "PortsHost.h"

#include "protocol/ReplyPoller.h"

namespace kv5::test {

PortsHost::PortsHost(ExchangeState& state, const SessionTiming& timing, MidiBackend& midi,
                     TimerServices& timer)
    : RecordingHost(state, timing),
      state_(state),
      in_(midi.In()),
      out_(midi.Out()),
      timer_(timer) {}

PortsHost::~PortsHost() {
  timer_.Stop();
  out_.Close();
  in_.CloseIfOpen();
}

bool PortsHost::Open(int inDevice, int outDevice) {
  if (out_.Open(outDevice) != 1) return false;
  in_.DeviceIndex = inDevice;
  if (in_.Open() != 1) return false;
  return timer_.Start(1, &PortsHost::PollerTimerProc, reinterpret_cast<uintptr_t>(this)) != 0;
}

void PortsHost::PollerTimerProc(uint32_t /*id*/, uint32_t /*message*/, uintptr_t user,
                                uintptr_t /*r1*/, uintptr_t /*r2*/) {
  PortsHost* host = reinterpret_cast<PortsHost*>(user);
  ReplyPoller(host->in_.Queue(), host->state_, *host);
}

int PortsHost::SendSysex(const uint8_t* bytes, uint32_t length) {
  Record("send:" + MessageKind(bytes, length));
  MidiHeader header;
  header.lpData = const_cast<uint8_t*>(bytes);  // the device only reads them
  header.dwBufferLength = length;
  header.dwFlags = 0;
  return out_.SendLong(&header) == 1 ? 0 : -1;
}

void PortsHost::CloseOutPort() {
  RecordingHost::CloseOutPort();
  out_.Close();
}

void PortsHost::CloseInPortIfOpen() {
  RecordingHost::CloseInPortIfOpen();
  in_.CloseIfOpen();
}

}  // namespace kv5::test
