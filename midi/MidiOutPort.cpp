#include "midi/MidiOutPort.h"

#include <chrono>

#include "midi/DeviceName.h"

namespace kv5 {

MidiOutPort::MidiOutPort(MidiOutServices& services, uint32_t completionLimitMs)
    : services_(services), completionLimitMs_(completionLimitMs) {}

MidiOutPort::~MidiOutPort() {
  Close();
}

int MidiOutPort::GetDeviceCount() {
  return static_cast<int>(services_.GetNumDevs());
}

int MidiOutPort::GetDeviceName(int index, char* name) {
  MidiDeviceCaps caps;
  const MidiResult result = services_.GetDevCaps(static_cast<uint32_t>(index), &caps);
  CopyDeviceName(result, caps, name);
  return result == MMSYSERR_NOERROR ? 1 : 0;
}

int MidiOutPort::Open(int deviceIndex) {
  std::lock_guard<std::mutex> hold(SendLock);
  if (Handle != 0) {
    if (deviceIndex == deviceIndex_) return 1;
    CloseLocked();
  }
  SetDeviceIndex(deviceIndex);
  // -1 (nothing selected) reaches the services unchanged: it is the system's default output.
  MidiOutHandle opened = 0;
  if (services_.Open(&opened, static_cast<uint32_t>(deviceIndex)) != MMSYSERR_NOERROR) return 0;
  SetHandle(opened);
  return 1;
}

int MidiOutPort::Close() {
  std::lock_guard<std::mutex> hold(SendLock);
  return CloseLocked();
}

int MidiOutPort::CloseLocked() {
  if (Handle == 0) return 0;
  services_.Close(Handle);
  SetHandle(0);
  return 1;
}

bool MidiOutPort::StillThere(MidiResult result) const {
  if (result != MMSYSERR_NODRIVER) return true;
  if (vanished_) vanished_();
  return false;
}

int MidiOutPort::SendLong(MidiHeader* header) {
  std::lock_guard<std::mutex> hold(SendLock);
  if (Handle == 0) return 0;
  const MidiResult prepared = services_.PrepareHeader(Handle, header);
  if (prepared != MMSYSERR_NOERROR) {
    StillThere(prepared);
    return 0;
  }
  const MidiResult sent = services_.LongMsg(Handle, header);
  if (sent != MMSYSERR_NOERROR) {
    StillThere(sent);
    services_.UnprepareHeader(Handle, header);  // the device never took it
    return 0;
  }
  if (!WaitUntilDone(*header)) {
    // The device has not finished with the caller's buffer: take it back before returning.
    services_.Reset(Handle);
    services_.UnprepareHeader(Handle, header);
    return 0;
  }
  // Otherwise ignored; a device that went away while the message was with it gave the buffer
  // back unsent, which this says.
  return StillThere(services_.UnprepareHeader(Handle, header)) ? 1 : 0;
}

bool MidiOutPort::WaitUntilDone(const MidiHeader& header) const {
  return WaitHeaderDone(header.dwFlags, std::chrono::milliseconds(completionLimitMs_));
}

int MidiOutPort::DeviceIndex() const {
  return shownIndex_.load();
}

bool MidiOutPort::IsOpen() const {
  return shownOpen_.load();
}

void MidiOutPort::SetHandle(MidiOutHandle handle) {
  Handle = handle;
  shownOpen_.store(handle != 0);
}

void MidiOutPort::SetDeviceIndex(int index) {
  deviceIndex_ = index;
  shownIndex_.store(index);
}

}  // namespace kv5
