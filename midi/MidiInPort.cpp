#include "midi/MidiInPort.h"

#include "midi/DeviceName.h"

namespace kv5 {

MidiInPort::MidiInPort(MidiInServices& services) : services_(services) {}

MidiInPort::~MidiInPort() {
  Close();
  // The queue's own destructor pops what is left.
}

int MidiInPort::GetDeviceCount() {
  return static_cast<int>(services_.GetNumDevs());
}

int MidiInPort::GetDeviceName(int index, char* name) {
  MidiDeviceCaps caps;
  const MidiResult result = services_.GetDevCaps(static_cast<uint32_t>(index), &caps);
  CopyDeviceName(result, caps, name);
  return result == MMSYSERR_NOERROR ? 1 : 0;
}

int MidiInPort::Open() {
  if (isOpen_ == 1) return 1;

  CaptureHeader = std::make_unique<MidiHeader>();
  CaptureBuffer = std::make_unique<uint8_t[]>(kCaptureBufferSize);
  CaptureHeader->lpData = CaptureBuffer.get();
  CaptureHeader->dwBufferLength = kCaptureBufferSize;

  MidiHeader* header = CaptureHeader.get();
  const uintptr_t self = reinterpret_cast<uintptr_t>(this);
  MidiResult result =
      services_.Open(&Handle, static_cast<uint32_t>(DeviceIndex), &MidiInPort::InputProc, self);
  const bool deviceOpened = result == MMSYSERR_NOERROR;
  if (result == MMSYSERR_NOERROR) result = services_.Reset(Handle);
  if (result == MMSYSERR_NOERROR) result = services_.PrepareHeader(Handle, header);
  if (result == MMSYSERR_NOERROR) result = services_.AddBuffer(Handle, header);
  if (result == MMSYSERR_NOERROR) result = services_.Start(Handle);
  if (result == MMSYSERR_NOERROR) {
    isOpen_ = 1;
    return 1;
  }

  // Undo what this Open did; the buffer is released only once the device has given it back.
  bool released = true;
  if (deviceOpened) released = ShutDownDevice(/*stop=*/false);
  if (released) {
    ReleaseCapture();
  } else {
    RetireCapture();
  }
  return 0;
}

int MidiInPort::Close() {
  if (isOpen_ == 0) return 0;
  bool released = true;
  if (Handle != 0) released = ShutDownDevice(/*stop=*/true);
  if (released) {
    ReleaseCapture();
  } else {
    RetireCapture();
  }
  isOpen_ = 0;
  return 0;
}

int MidiInPort::CloseIfOpen() {
  if (Handle == 0) return 0;
  Close();
  return 1;
}

bool MidiInPort::ShutDownDevice(bool stop) {
  // Stop hands back a partly filled buffer (captured and queued again); Reset then returns the
  // empty buffer, which is not queued again, so the device no longer holds it when unprepared.
  MidiResult result = stop ? services_.Stop(Handle) : MMSYSERR_NOERROR;
  if (result == MMSYSERR_NOERROR) result = services_.Reset(Handle);
  if (result == MMSYSERR_NOERROR) result = services_.UnprepareHeader(Handle, CaptureHeader.get());
  if (result == MMSYSERR_NOERROR) result = services_.Close(Handle);
  return result == MMSYSERR_NOERROR;
}

void MidiInPort::ReleaseCapture() {
  CaptureBuffer.reset();
  CaptureHeader.reset();
}

void MidiInPort::RetireCapture() {
  // The device may still hold the buffer: it stays allocated for the port's whole life.
  retired_.push_back(RetiredCapture{std::move(CaptureHeader), std::move(CaptureBuffer)});
}

void MidiInPort::SetQueuedNotice(QueuedNotice notice, uintptr_t user) {
  queuedNotice_ = notice;
  queuedNoticeUser_ = user;
}

void MidiInPort::InputProc(MidiInHandle /*device*/, uint32_t message, uintptr_t instance,
                           uintptr_t param1, uintptr_t /*param2*/) {
  reinterpret_cast<MidiInPort*>(instance)->OnMidiInput(message, param1);
}

void MidiInPort::OnMidiInput(uint32_t message, uintptr_t param1) {
  if (message == MIM_CLOSE) {
    // Closes that the port asks for itself come back through Close, not here.
    if (vanished_) vanished_();
    return;
  }
  if (message != MIM_LONGDATA && message != MIM_LONGERROR) return;
  auto* header = reinterpret_cast<MidiHeader*>(param1);
  if (header == nullptr) return;
  const bool done = (header->dwFlags & MHDR_DONE) != 0;
  if (message == MIM_LONGDATA) {
    // An empty buffer is one the device gives up (Reset): it is not queued again.
    if (!done || header->dwBytesRecorded == 0) return;
    queue_.Append(header->lpData, header->dwBytesRecorded);
  } else if (!done) {
    return;
  }
  // A broken message makes no entry, but its buffer goes back so that capture goes on.
  services_.PrepareHeader(Handle, header);
  services_.AddBuffer(Handle, header);
  // The consumer hears of the entry once the buffer is back, ready for the reply to its answer.
  if (message == MIM_LONGDATA && queuedNotice_ != nullptr) queuedNotice_(queuedNoticeUser_);
}

}  // namespace kv5
