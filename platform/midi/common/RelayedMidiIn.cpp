#include "platform/midi/common/RelayedMidiIn.h"

#include <algorithm>
#include <cstring>

namespace kv5 {
namespace {

constexpr uint8_t kSysexStart = 0xF0;
constexpr uint8_t kSysexEnd = 0xF7;
// Reset rounds: a buffer that comes back empty while pieces were joined carries them to the port,
// which queues it again; the next round gives it back empty.
constexpr int kResetRounds = 3;

// The device whose port callback runs on this thread, if any.
thread_local const void* tPortCallbackOf = nullptr;

}  // namespace

RelayedMidiIn::RelayedMidiIn(std::unique_ptr<MidiInServices> driver) : driver_(std::move(driver)) {}

RelayedMidiIn::~RelayedMidiIn() {
  for (auto& [handle, device] : devices_) {
    {
      std::lock_guard<std::mutex> hold(device->lock);
      device->quit = true;
    }
    device->changed.notify_all();
    device->thread.join();
  }
}

std::shared_ptr<RelayedMidiIn::Device> RelayedMidiIn::Find(MidiInHandle handle) {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = devices_.find(handle);
  return found == devices_.end() ? nullptr : found->second;
}

MidiResult RelayedMidiIn::Open(MidiInHandle* handle, uint32_t deviceId, MidiInProc callback,
                               uintptr_t instance) {
  if (handle == nullptr || callback == nullptr) return MMSYSERR_INVALPARAM;
  // Complete before the driver's Open, which may already call back.
  auto device = std::make_shared<Device>();
  device->owner = this;
  device->callback = callback;
  device->instance = instance;
  device->thread = std::thread([this, raw = device.get()] { HandBackLoop(*raw); });
  MidiInHandle opened = 0;
  const MidiResult result =
      driver_->Open(&opened, deviceId, &DriverProc, reinterpret_cast<uintptr_t>(device.get()));
  if (result != MMSYSERR_NOERROR) {
    {
      std::lock_guard<std::mutex> hold(device->lock);
      device->quit = true;
    }
    device->changed.notify_all();
    device->thread.join();
    return result;
  }
  {
    std::lock_guard<std::mutex> hold(device->lock);
    device->handle = opened;
  }
  std::lock_guard<std::mutex> hold(lock_);
  devices_[opened] = device;
  *handle = opened;
  return MMSYSERR_NOERROR;
}

MidiResult RelayedMidiIn::PrepareHeader(MidiInHandle handle, MidiHeader* header) {
  auto device = Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  // Inside the callback the header comes back prepared; preparing it again changes nothing.
  if (tPortCallbackOf == device.get() && header != nullptr &&
      (header->dwFlags.load() & MHDR_PREPARED) != 0)
    return MMSYSERR_NOERROR;
  return driver_->PrepareHeader(handle, header);
}

MidiResult RelayedMidiIn::AddBuffer(MidiInHandle handle, MidiHeader* header) {
  auto device = Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (tPortCallbackOf != device.get()) return driver_->AddBuffer(handle, header);
  if (header == nullptr) return MMSYSERR_INVALPARAM;
  {
    std::lock_guard<std::mutex> hold(device->lock);
    device->handBacks.push_back(header);
  }
  device->changed.notify_all();
  return MMSYSERR_NOERROR;
}

MidiResult RelayedMidiIn::Start(MidiInHandle handle) {
  auto device = Find(handle);
  return device ? driver_->Start(handle) : MMSYSERR_INVALHANDLE;
}

MidiResult RelayedMidiIn::Stop(MidiInHandle handle) {
  auto device = Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  {
    std::unique_lock<std::mutex> hold(device->lock);
    WaitForHandBacks(hold, *device);
    device->draining = true;
  }
  // The partly filled buffer comes back with the pieces joined so far in front of its bytes.
  const MidiResult result = driver_->Stop(handle);
  std::unique_lock<std::mutex> hold(device->lock);
  WaitForHandBacks(hold, *device);
  device->draining = false;
  return result;
}

MidiResult RelayedMidiIn::Reset(MidiInHandle handle) {
  auto device = Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  {
    std::unique_lock<std::mutex> hold(device->lock);
    WaitForHandBacks(hold, *device);
    device->draining = true;
  }
  MidiResult result = MMSYSERR_NOERROR;
  for (int round = 0; round < kResetRounds; ++round) {
    result = driver_->Reset(handle);
    std::unique_lock<std::mutex> hold(device->lock);
    const bool queuedAgain = !device->handBacks.empty();
    WaitForHandBacks(hold, *device);
    if (!queuedAgain || result != MMSYSERR_NOERROR) break;
  }
  std::lock_guard<std::mutex> hold(device->lock);
  device->draining = false;
  device->joined.clear();
  return result;
}

MidiResult RelayedMidiIn::UnprepareHeader(MidiInHandle handle, MidiHeader* header) {
  auto device = Find(handle);
  return device ? driver_->UnprepareHeader(handle, header) : MMSYSERR_INVALHANDLE;
}

MidiResult RelayedMidiIn::Close(MidiInHandle handle) {
  auto device = Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  {
    std::unique_lock<std::mutex> hold(device->lock);
    WaitForHandBacks(hold, *device);
    device->closing = true;
  }
  const MidiResult result = driver_->Close(handle);
  {
    std::lock_guard<std::mutex> hold(device->lock);
    if (result != MMSYSERR_NOERROR) {
      device->closing = false;
      return result;
    }
    device->quit = true;
  }
  device->changed.notify_all();
  device->thread.join();
  std::lock_guard<std::mutex> hold(lock_);
  devices_.erase(handle);
  return MMSYSERR_NOERROR;
}

void RelayedMidiIn::DriverProc(MidiInHandle handle, uint32_t message, uintptr_t instance,
                               uintptr_t param1, uintptr_t param2) {
  auto& device = *reinterpret_cast<Device*>(instance);
  switch (message) {
    case MIM_LONGDATA:
      device.owner->LongData(device, handle, reinterpret_cast<MidiHeader*>(param1));
      return;
    case MIM_LONGERROR: {
      std::lock_guard<std::mutex> hold(device.lock);
      device.joined.clear();
      break;
    }
    case MIM_CLOSE: {
      std::lock_guard<std::mutex> hold(device.lock);
      if (device.closing || device.gone) return;
      device.gone = true;
      device.joined.clear();
      break;
    }
    default:
      break;
  }
  ToPort(device, handle, message, param1, param2);
}

void RelayedMidiIn::LongData(Device& device, MidiInHandle handle, MidiHeader* header) {
  {
    std::lock_guard<std::mutex> hold(device.lock);
    const uint32_t count = header->dwBytesRecorded;
    const uint8_t* bytes = header->lpData;
    if ((header->dwFlags.load() & MHDR_DONE) != 0) {
      // A new message while pieces wait: the unfinished one was cut short and is dropped.
      if (count > 0 && bytes[0] == kSysexStart) device.joined.clear();
      const bool piece =
          count > 0 && count < header->dwBufferLength && bytes[count - 1] != kSysexEnd;
      if (piece && !device.draining && device.joined.size() + count < header->dwBufferLength) {
        device.joined.insert(device.joined.end(), bytes, bytes + count);
        device.handBacks.push_back(header);
        device.changed.notify_all();
        return;
      }
      if (!device.joined.empty()) {
        device.joined.insert(device.joined.end(), bytes, bytes + count);
        FillFromJoined(device, header);
      }
    }
  }
  ToPort(device, handle, MIM_LONGDATA, reinterpret_cast<uintptr_t>(header), 0);
}

void RelayedMidiIn::FillFromJoined(Device& device, MidiHeader* header) {
  const size_t count = std::min<size_t>(device.joined.size(), header->dwBufferLength);
  std::memcpy(header->lpData, device.joined.data(), count);
  header->dwBytesRecorded = static_cast<uint32_t>(count);
  device.joined.erase(device.joined.begin(), device.joined.begin() + static_cast<long>(count));
}

void RelayedMidiIn::ToPort(Device& device, MidiInHandle handle, uint32_t message, uintptr_t param1,
                           uintptr_t param2) {
  const void* outer = tPortCallbackOf;
  tPortCallbackOf = &device;
  device.callback(handle, message, device.instance, param1, param2);
  tPortCallbackOf = outer;
}

void RelayedMidiIn::HandBackLoop(Device& device) {
  std::unique_lock<std::mutex> hold(device.lock);
  for (;;) {
    device.changed.wait(hold, [&] { return device.quit || !device.handBacks.empty(); });
    if (device.quit) return;
    MidiHeader* header = device.handBacks.front();
    device.handBacks.pop_front();
    device.handingBack = true;
    const MidiInHandle handle = device.handle;
    // What went beyond a full buffer and already ends its message needs no more input.
    if (!device.joined.empty() && device.joined.back() == kSysexEnd) {
      FillFromJoined(device, header);
      header->dwFlags = header->dwFlags.load() | MHDR_DONE;
      hold.unlock();
      ToPort(device, handle, MIM_LONGDATA, reinterpret_cast<uintptr_t>(header), 0);
    } else {
      hold.unlock();
      driver_->AddBuffer(handle, header);
    }
    hold.lock();
    device.handingBack = false;
    device.changed.notify_all();
  }
}

void RelayedMidiIn::WaitForHandBacks(std::unique_lock<std::mutex>& hold, Device& device) {
  device.changed.wait(hold, [&] { return device.handBacks.empty() && !device.handingBack; });
}

}  // namespace kv5
