// The input services of a backend whose devices fill the port's buffers through
// SysexInputBuffers: the table of open devices, and the calls the port makes on a device's
// buffers, which only forward. A backend derives from it, makes each device in Open with
// NewDevice and enters it in devices_ once it is open; what else a device holds ends in its
// destructor, or in Closed.
#pragma once

#include <memory>

#include "platform/midi/MidiServices.h"
#include "platform/midi/common/DeviceTable.h"
#include "platform/midi/common/SysexInputBuffers.h"

namespace kv5 {

class BufferedMidiIn : public MidiInServices {
 public:
  // What a backend keeps of one open device; its own kind derives from this. The buffers go
  // last, after everything the backend added (a stream that feeds them stops first).
  struct Device {
    virtual ~Device() = default;
    std::unique_ptr<SysexInputBuffers> buffers;
  };

  MidiResult Reset(MidiInHandle handle) override;
  MidiResult PrepareHeader(MidiInHandle handle, MidiHeader* header) override;
  MidiResult AddBuffer(MidiInHandle handle, MidiHeader* header) override;
  MidiResult Start(MidiInHandle handle) override;
  MidiResult Stop(MidiInHandle handle) override;
  MidiResult UnprepareHeader(MidiInHandle handle, MidiHeader* header) override;
  // Fails while the port's buffer is still queued; then the device leaves the table, and
  // Closed runs on it outside the table's lock before it is destroyed.
  MidiResult Close(MidiInHandle handle) override;

 protected:
  // A device of the backend's kind with its buffers for the port's callback, and the handle it
  // is to be entered under (devices_.Insert) once it is open.
  template <typename Kind>
  std::shared_ptr<Kind> NewDevice(MidiInProc callback, uintptr_t instance, MidiInHandle* handle) {
    *handle = devices_.NewHandle();
    auto device = std::make_shared<Kind>();
    device->buffers = std::make_unique<SysexInputBuffers>(*handle, callback, instance);
    return device;
  }

  // Backends that keep more about a device than the table (a map by port, a link to a device)
  // undo it here. The device is no longer in the table; its input has stopped.
  virtual void Closed(Device&) {}

  DeviceTable<MidiInHandle, Device> devices_;
};

}  // namespace kv5
