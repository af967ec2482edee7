// MIDI input through winmm. Each MidiHeader the port queues is mirrored by a real MIDIHDR that
// points at the same bytes; winmm's callback copies the byte count and the done bit back into the
// port's header and hands the port that header. No lock is held across a winmm call: winmm may
// run the callback on its own thread while Stop or Reset is under way, and the callback prepares
// and adds buffers itself.
//
// The kv5 headers come first: mmsystem.h defines macros with the names and values of the
// constants in MidiServices.h.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/midi/common/DeviceTable.h"
#include "platform/midi/winmm/WinmmMidi.h"

#include <windows.h>

#include <mmsystem.h>

namespace kv5 {
namespace {

struct InDevice {
  HMIDIIN handle = nullptr;
  MidiInHandle ours = 0;  // what the port knows the device by
  MidiInProc callback = nullptr;
  uintptr_t instance = 0;
  std::mutex lock;  // guards headers
  std::map<MidiHeader*, std::unique_ptr<MIDIHDR>> headers;
};

void CALLBACK WinmmInProc(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                          DWORD_PTR param2) {
  auto* device = reinterpret_cast<InDevice*>(instance);
  if (message == MIM_LONGDATA || message == MIM_LONGERROR) {
    auto* platform = reinterpret_cast<MIDIHDR*>(param1);
    auto* header = reinterpret_cast<MidiHeader*>(platform->dwUser);
    header->dwBytesRecorded = platform->dwBytesRecorded;
    uint32_t flags = header->dwFlags.load() & ~MHDR_INQUEUE;
    if ((platform->dwFlags & MHDR_DONE) != 0) flags |= MHDR_DONE;
    header->dwFlags = flags;
    param1 = reinterpret_cast<DWORD_PTR>(header);
  }
  device->callback(device->ours, message, device->instance, param1, param2);
}

class WinmmMidiIn : public MidiInServices {
 public:
  uint32_t GetNumDevs() override { return midiInGetNumDevs(); }

  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override {
    MIDIINCAPSA platform{};
    const MMRESULT result = midiInGetDevCapsA(device, &platform, sizeof platform);
    if (result == MMSYSERR_NOERROR) {
      static_assert(sizeof caps->szPname == sizeof platform.szPname);
      std::memcpy(caps->szPname, platform.szPname, sizeof caps->szPname);
      caps->szPname[sizeof caps->szPname - 1] = '\0';
    }
    return result;
  }

  MidiResult Open(MidiInHandle* handle, uint32_t deviceId, MidiInProc callback,
                  uintptr_t instance) override {
    if (handle == nullptr || callback == nullptr) return MMSYSERR_INVALPARAM;
    // Complete before midiInOpen, which already calls back with MIM_OPEN.
    auto device = std::make_shared<InDevice>();
    device->ours = devices_.NewHandle();
    device->callback = callback;
    device->instance = instance;
    const MMRESULT result =
        midiInOpen(&device->handle, deviceId, reinterpret_cast<DWORD_PTR>(&WinmmInProc),
                   reinterpret_cast<DWORD_PTR>(device.get()), CALLBACK_FUNCTION);
    if (result != MMSYSERR_NOERROR) return result;
    const MidiInHandle ours = device->ours;
    devices_.Insert(ours, std::move(device));
    *handle = ours;
    return MMSYSERR_NOERROR;
  }

  MidiResult Reset(MidiInHandle handle) override {
    const std::shared_ptr<InDevice> device = devices_.Find(handle);
    return !device ? MMSYSERR_INVALHANDLE : midiInReset(device->handle);
  }

  MidiResult PrepareHeader(MidiInHandle handle, MidiHeader* header) override {
    const std::shared_ptr<InDevice> device = devices_.Find(handle);
    if (!device) return MMSYSERR_INVALHANDLE;
    if (header == nullptr || header->lpData == nullptr) return MMSYSERR_INVALPARAM;
    MIDIHDR* platform = nullptr;
    {
      std::lock_guard<std::mutex> hold(device->lock);
      std::unique_ptr<MIDIHDR>& entry = device->headers[header];
      if (!entry) entry = std::make_unique<MIDIHDR>();
      if ((entry->dwFlags & MHDR_PREPARED) == 0) {
        *entry = MIDIHDR{};
        entry->lpData = reinterpret_cast<LPSTR>(header->lpData);
        entry->dwBufferLength = header->dwBufferLength;
        entry->dwUser = reinterpret_cast<DWORD_PTR>(header);
      }
      platform = entry.get();
    }
    header->backendData = platform;
    // Preparing a header that is prepared already succeeds and changes nothing.
    const MMRESULT result = midiInPrepareHeader(device->handle, platform, sizeof(MIDIHDR));
    if (result == MMSYSERR_NOERROR) header->dwFlags |= MHDR_PREPARED;
    return result;
  }

  MidiResult AddBuffer(MidiInHandle handle, MidiHeader* header) override {
    const std::shared_ptr<InDevice> device = devices_.Find(handle);
    if (!device) return MMSYSERR_INVALHANDLE;
    MIDIHDR* platform = Mirror(*device, header);
    if (platform == nullptr) return MIDIERR_UNPREPARED;
    header->dwBytesRecorded = 0;
    // Queued before the call: the driver may hand the buffer back, and the callback mark it
    // done, before midiInAddBuffer returns.
    header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
    const MMRESULT result = midiInAddBuffer(device->handle, platform, sizeof(MIDIHDR));
    if (result != MMSYSERR_NOERROR) header->dwFlags &= ~MHDR_INQUEUE;
    return result;
  }

  MidiResult Start(MidiInHandle handle) override {
    const std::shared_ptr<InDevice> device = devices_.Find(handle);
    return !device ? MMSYSERR_INVALHANDLE : midiInStart(device->handle);
  }

  MidiResult Stop(MidiInHandle handle) override {
    const std::shared_ptr<InDevice> device = devices_.Find(handle);
    return !device ? MMSYSERR_INVALHANDLE : midiInStop(device->handle);
  }

  MidiResult UnprepareHeader(MidiInHandle handle, MidiHeader* header) override {
    const std::shared_ptr<InDevice> device = devices_.Find(handle);
    if (!device) return MMSYSERR_INVALHANDLE;
    MIDIHDR* platform = Mirror(*device, header);
    if (platform == nullptr) return MMSYSERR_NOERROR;  // never prepared on this device
    const MMRESULT result = midiInUnprepareHeader(device->handle, platform, sizeof(MIDIHDR));
    if (result != MMSYSERR_NOERROR) return result;
    header->dwFlags &= ~MHDR_PREPARED;
    header->backendData = nullptr;
    std::lock_guard<std::mutex> hold(device->lock);
    device->headers.erase(header);
    return MMSYSERR_NOERROR;
  }

  MidiResult Close(MidiInHandle handle) override {
    const std::shared_ptr<InDevice> device = devices_.Find(handle);
    if (!device) return MMSYSERR_INVALHANDLE;
    // Fails while a buffer is still queued; the device then stays as it was.
    const MMRESULT result = midiInClose(device->handle);
    if (result != MMSYSERR_NOERROR) return result;
    devices_.Take(handle);
    return MMSYSERR_NOERROR;
  }

 private:
  static MIDIHDR* Mirror(InDevice& device, MidiHeader* header) {
    std::lock_guard<std::mutex> hold(device.lock);
    auto found = device.headers.find(header);
    return found == device.headers.end() ? nullptr : found->second.get();
  }

  DeviceTable<MidiInHandle, InDevice> devices_;
};

}  // namespace

std::unique_ptr<MidiInServices> MakeWinmmMidiIn() {
  return std::make_unique<WinmmMidiIn>();
}

}  // namespace kv5
