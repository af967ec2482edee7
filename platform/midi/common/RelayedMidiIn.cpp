#include "platform/midi/common/RelayedMidiIn.h"

#include <chrono>

namespace kv5 {
namespace {

// How often a buffer the driver refuses as still queued is offered again, a millisecond apart.
constexpr int kHandBackAttempts = 1000;

}  // namespace

RelayedMidiIn::RelayedMidiIn(std::unique_ptr<MidiInServices> driver, int driverBuffers,
                             uint32_t driverBufferSize)
    : driver_(std::move(driver)),
      driverBuffers_(driverBuffers),
      driverBufferSize_(driverBufferSize) {}

RelayedMidiIn::~RelayedMidiIn() {
  for (const auto& device : devices_.TakeAll()) EndThread(static_cast<Device&>(*device));
}

std::shared_ptr<RelayedMidiIn::Device> RelayedMidiIn::Find(MidiInHandle handle) const {
  return std::static_pointer_cast<Device>(devices_.Find(handle));
}

void RelayedMidiIn::EndThread(Device& device) {
  {
    std::lock_guard<std::mutex> hold(device.lock);
    device.quit = true;
  }
  device.changed.notify_all();
  if (device.thread.joinable()) device.thread.join();
}

MidiResult RelayedMidiIn::QueueBuffers(Device& device, std::vector<MidiHeader*> headers) {
  for (MidiHeader* header : headers) {
    MidiResult result = driver_->PrepareHeader(device.handle, header);
    if (result == MMSYSERR_NOERROR) result = driver_->AddBuffer(device.handle, header);
    if (result != MMSYSERR_NOERROR) return result;
  }
  return MMSYSERR_NOERROR;
}

MidiResult RelayedMidiIn::Open(MidiInHandle* handle, uint32_t deviceId, MidiInProc callback,
                               uintptr_t instance) {
  if (handle == nullptr || callback == nullptr) return MMSYSERR_INVALPARAM;
  // Complete before the driver's Open, which may already call back.
  MidiInHandle id = 0;
  auto device = NewDevice<Device>(callback, instance, &id);
  device->callback = callback;
  device->instance = instance;
  device->portHandle = id;
  std::vector<MidiHeader*> headers;
  for (int i = 0; i < driverBuffers_; ++i) {
    device->driverBuffers.push_back(std::make_unique<DriverBuffer>(driverBufferSize_));
    headers.push_back(&device->driverBuffers.back()->header);
  }
  MidiInHandle opened = 0;
  MidiResult result =
      driver_->Open(&opened, deviceId, &DriverProc, reinterpret_cast<uintptr_t>(device.get()));
  if (result != MMSYSERR_NOERROR) return result;
  {
    std::lock_guard<std::mutex> hold(device->lock);
    device->handle = opened;
  }
  device->thread = std::thread([this, raw = device.get()] { HandBackLoop(*raw); });
  result = QueueBuffers(*device, headers);
  if (result != MMSYSERR_NOERROR) {
    {
      std::lock_guard<std::mutex> hold(device->lock);
      device->closing = device->holding = true;
    }
    driver_->Reset(opened);
    for (MidiHeader* header : headers) driver_->UnprepareHeader(opened, header);
    driver_->Close(opened);
    EndThread(*device);
    return result;
  }
  devices_.Insert(id, device);
  *handle = id;
  return MMSYSERR_NOERROR;
}

MidiResult RelayedMidiIn::Start(MidiInHandle handle) {
  auto device = Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  device->buffers->Start();
  return driver_->Start(device->handle);
}

MidiResult RelayedMidiIn::Stop(MidiInHandle handle) {
  auto device = Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  // The driver's partly filled buffer brings the bytes so far; then the port's comes back.
  const MidiResult result = driver_->Stop(device->handle);
  {
    std::unique_lock<std::mutex> hold(device->lock);
    WaitForHandBacks(hold, *device);
  }
  device->buffers->Stop();
  return result;
}

MidiResult RelayedMidiIn::Reset(MidiInHandle handle) {
  auto device = Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  {
    std::unique_lock<std::mutex> hold(device->lock);
    WaitForHandBacks(hold, *device);
    device->holding = true;
  }
  const MidiResult result = driver_->Reset(device->handle);
  device->buffers->Reset();
  std::vector<MidiHeader*> held;
  {
    std::lock_guard<std::mutex> hold(device->lock);
    held.swap(device->held);
    device->holding = false;
  }
  // Capture goes on with our buffers; only Close keeps them back.
  const MidiResult queued = QueueBuffers(*device, held);
  return result != MMSYSERR_NOERROR ? result : queued;
}

MidiResult RelayedMidiIn::Close(MidiInHandle handle) {
  auto device = Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  const MidiResult busy = device->buffers->CanClose();  // the port's buffer still queued
  if (busy != MMSYSERR_NOERROR) return busy;
  {
    std::unique_lock<std::mutex> hold(device->lock);
    device->closing = device->holding = true;
    WaitForHandBacks(hold, *device);
  }
  MidiResult result = driver_->Reset(device->handle);
  for (auto& buffer : device->driverBuffers) {
    if (result != MMSYSERR_NOERROR) break;
    result = driver_->UnprepareHeader(device->handle, &buffer->header);
  }
  if (result == MMSYSERR_NOERROR) result = driver_->Close(device->handle);
  if (result != MMSYSERR_NOERROR) {
    // The device stays open as it was; our buffers go back to it.
    std::vector<MidiHeader*> held;
    {
      std::lock_guard<std::mutex> hold(device->lock);
      held.swap(device->held);
      device->closing = device->holding = false;
    }
    QueueBuffers(*device, held);
    return result;
  }
  EndThread(*device);
  devices_.Take(handle);
  return MMSYSERR_NOERROR;
}

void RelayedMidiIn::DriverProc(MidiInHandle, uint32_t message, uintptr_t instance, uintptr_t param1,
                               uintptr_t) {
  auto& device = *reinterpret_cast<Device*>(instance);
  if (message == MIM_CLOSE) {
    {
      std::lock_guard<std::mutex> hold(device.lock);
      if (device.closing || device.gone) return;
      device.gone = true;
    }
    device.callback(device.portHandle, MIM_CLOSE, device.instance, 0, 0);
    return;
  }
  if (message != MIM_LONGDATA && message != MIM_LONGERROR) return;
  auto* header = reinterpret_cast<MidiHeader*>(param1);
  // Bytes outside a message, and status bytes that cut one short, are SysexInputBuffers' to judge.
  const uint8_t* bytes = header->lpData;
  const uint32_t count = header->dwBytesRecorded;
  {
    std::unique_lock<std::mutex> hold(device.lock);
    if (!device.holding) {
      device.handBacks.push_back({header, std::vector<uint8_t>(bytes, bytes + count)});
      hold.unlock();
      device.changed.notify_all();
      return;
    }
    device.held.push_back(header);
  }
  // Reset or Close keeps the buffer: nothing waits for it to be queued again.
  if (count > 0) device.buffers->Feed(bytes, count);
}

void RelayedMidiIn::HandBackLoop(Device& device) {
  std::unique_lock<std::mutex> hold(device.lock);
  for (;;) {
    device.changed.wait(hold, [&] { return device.quit || !device.handBacks.empty(); });
    if (device.quit) return;
    HandBack handBack = std::move(device.handBacks.front());
    device.handBacks.pop_front();
    device.handingBack = true;
    const MidiInHandle handle = device.handle;
    // A driver may still count a buffer it has just returned as queued and refuse it: a buffer
    // given up there would be lost to capture for good, and once all are lost every message is
    // dropped. It is offered again every millisecond, for a bounded time; a close under way keeps
    // it instead. Any other refusal means the device is gone, and its close follows.
    for (int attempt = 0;; ++attempt) {
      hold.unlock();
      const MidiResult result = driver_->AddBuffer(handle, handBack.header);
      hold.lock();
      if (result != MIDIERR_STILLPLAYING || attempt == kHandBackAttempts) break;
      device.changed.wait_for(hold, std::chrono::milliseconds(1),
                              [&] { return device.quit || device.holding; });
      if (device.quit) break;
      if (device.holding) {
        device.held.push_back(handBack.header);
        break;
      }
    }
    if (!handBack.bytes.empty() && !device.quit) {
      // This thread holds no lock the port's callback takes, and Stop, Reset and Close wait for
      // it (handingBack), so it may run the callback itself.
      hold.unlock();
      device.buffers->FeedAndDeliver(handBack.bytes.data(), handBack.bytes.size());
      hold.lock();
    }
    device.handingBack = false;
    device.changed.notify_all();
  }
}

void RelayedMidiIn::WaitForHandBacks(std::unique_lock<std::mutex>& hold, Device& device) {
  device.changed.wait(hold, [&] { return device.handBacks.empty() && !device.handingBack; });
}

}  // namespace kv5
