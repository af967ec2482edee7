// MIDI output through winmm. LongMsg sends the message in pieces of at most kMaxSysexPiece bytes
// (see SysexPieces.h): each piece is a MIDIHDR of its own that is prepared, sent, waited for and
// unprepared before the next; the port's header is marked done after the last piece. The device
// signals an event when it has finished with a buffer, so the wait needs no polling.
//
// The kv5 headers come first: mmsystem.h defines macros with the names and values of the
// constants in MidiServices.h.
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/midi/winmm/SysexPieces.h"
#include "platform/midi/winmm/WinmmMidi.h"

#include <windows.h>

#include <mmsystem.h>

namespace kv5 {
namespace {

// A piece that the device has not finished after this long never will be: a 2048-byte piece
// takes about 0.7 s on a 31250-baud cable.
constexpr DWORD kPieceLimitMs = 10000;

class OwnedEvent {
 public:
  OwnedEvent() : event_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
  ~OwnedEvent() {
    if (event_ != nullptr) CloseHandle(event_);
  }
  OwnedEvent(const OwnedEvent&) = delete;
  OwnedEvent& operator=(const OwnedEvent&) = delete;
  HANDLE get() const { return event_; }

 private:
  HANDLE event_;
};

struct OutDevice {
  HMIDIOUT handle = nullptr;
  OwnedEvent finished;              // signalled by the device for every buffer it is done with
  std::atomic<uint32_t> resets{0};  // Reset calls so far; a message in pieces stops at a change
  std::mutex lock;                  // guards pieces
  // The MIDIHDR that carries the pieces of each prepared port header.
  std::map<MidiHeader*, std::unique_ptr<MIDIHDR>> pieces;
};

class WinmmMidiOut : public MidiOutServices {
 public:
  uint32_t GetNumDevs() override { return midiOutGetNumDevs(); }

  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override {
    MIDIOUTCAPSA platform{};
    const MMRESULT result = midiOutGetDevCapsA(device, &platform, sizeof platform);
    if (result == MMSYSERR_NOERROR) {
      static_assert(sizeof caps->szPname == sizeof platform.szPname);
      std::memcpy(caps->szPname, platform.szPname, sizeof caps->szPname);
      caps->szPname[sizeof caps->szPname - 1] = '\0';
    }
    return result;
  }

  // The device number goes to winmm unchanged: 0xFFFFFFFF is MIDI_MAPPER, the system's default.
  MidiResult Open(MidiOutHandle* handle, uint32_t deviceId) override {
    if (handle == nullptr) return MMSYSERR_INVALPARAM;
    auto device = std::make_unique<OutDevice>();
    if (device->finished.get() == nullptr) return MMSYSERR_NOMEM;
    const MMRESULT result =
        midiOutOpen(&device->handle, deviceId, reinterpret_cast<DWORD_PTR>(device->finished.get()),
                    0, CALLBACK_EVENT);
    if (result != MMSYSERR_NOERROR) return result;
    *handle = reinterpret_cast<MidiOutHandle>(device.get());
    std::lock_guard<std::mutex> hold(lock_);
    devices_[*handle] = std::move(device);
    return MMSYSERR_NOERROR;
  }

  MidiResult Close(MidiOutHandle handle) override {
    OutDevice* device = Find(handle);
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    const MMRESULT result = midiOutClose(device->handle);
    if (result != MMSYSERR_NOERROR) return result;
    std::lock_guard<std::mutex> hold(lock_);
    devices_.erase(handle);
    return MMSYSERR_NOERROR;
  }

  MidiResult PrepareHeader(MidiOutHandle handle, MidiHeader* header) override {
    OutDevice* device = Find(handle);
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    if (header == nullptr || header->lpData == nullptr || header->dwBufferLength == 0)
      return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> hold(device->lock);
    std::unique_ptr<MIDIHDR>& entry = device->pieces[header];
    if (!entry) entry = std::make_unique<MIDIHDR>();
    header->backendData = entry.get();
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
  }

  MidiResult LongMsg(MidiOutHandle handle, MidiHeader* header) override {
    OutDevice* device = Find(handle);
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    MIDIHDR* piece = Pieces(*device, header);
    if (piece == nullptr) return MIDIERR_UNPREPARED;
    const uint32_t resetsBefore = device->resets.load();
    header->dwFlags = (header->dwFlags.load() & ~MHDR_DONE) | MHDR_INQUEUE;
    const MidiResult result = SendInPieces(
        header->lpData, header->dwBufferLength, kMaxSysexPiece,
        [&](const uint8_t* bytes, uint32_t length) {
          return SendPiece(*device, *piece, bytes, length);
        },
        [&] { return device->resets.load() != resetsBefore; });
    if (result != MMSYSERR_NOERROR) {
      header->dwFlags &= ~MHDR_INQUEUE;
      return result;
    }
    MarkHeaderDone(header);
    return MMSYSERR_NOERROR;
  }

  MidiResult Reset(MidiOutHandle handle) override {
    OutDevice* device = Find(handle);
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    ++device->resets;
    return midiOutReset(device->handle);
  }

  MidiResult UnprepareHeader(MidiOutHandle handle, MidiHeader* header) override {
    OutDevice* device = Find(handle);
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    if (header == nullptr) return MMSYSERR_INVALPARAM;
    if ((header->dwFlags.load() & MHDR_INQUEUE) != 0) return MIDIERR_STILLPLAYING;
    std::lock_guard<std::mutex> hold(device->lock);
    device->pieces.erase(header);
    header->backendData = nullptr;
    header->dwFlags &= ~MHDR_PREPARED;
    return MMSYSERR_NOERROR;
  }

 private:
  // One piece: handed to the device, waited for, given back.
  static MidiResult SendPiece(OutDevice& device, MIDIHDR& piece, const uint8_t* bytes,
                              uint32_t length) {
    piece = MIDIHDR{};
    piece.lpData = reinterpret_cast<LPSTR>(const_cast<uint8_t*>(bytes));
    piece.dwBufferLength = length;
    piece.dwBytesRecorded = length;
    MMRESULT result = midiOutPrepareHeader(device.handle, &piece, sizeof(MIDIHDR));
    if (result != MMSYSERR_NOERROR) return result;
    ResetEvent(device.finished.get());
    result = midiOutLongMsg(device.handle, &piece, sizeof(MIDIHDR));
    if (result == MMSYSERR_NOERROR) {
      // The event also fires for open and close notices; the done bit is what counts.
      while ((piece.dwFlags & MHDR_DONE) == 0) {
        if (WaitForSingleObject(device.finished.get(), kPieceLimitMs) == WAIT_OBJECT_0) continue;
        if ((piece.dwFlags & MHDR_DONE) != 0) break;
        // Stuck: a reset gives the buffer back, so it can be unprepared below.
        midiOutReset(device.handle);
        WaitForSingleObject(device.finished.get(), kPieceLimitMs);
        result = MMSYSERR_ERROR;
        break;
      }
    }
    midiOutUnprepareHeader(device.handle, &piece, sizeof(MIDIHDR));
    return result;
  }

  OutDevice* Find(MidiOutHandle handle) {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = devices_.find(handle);
    return found == devices_.end() ? nullptr : found->second.get();
  }

  static MIDIHDR* Pieces(OutDevice& device, MidiHeader* header) {
    std::lock_guard<std::mutex> hold(device.lock);
    auto found = device.pieces.find(header);
    return found == device.pieces.end() ? nullptr : found->second.get();
  }

  std::mutex lock_;  // guards devices_
  std::map<MidiOutHandle, std::unique_ptr<OutDevice>> devices_;
};

}  // namespace

std::unique_ptr<MidiOutServices> MakeWinmmMidiOut() {
  return std::make_unique<WinmmMidiOut>();
}

}  // namespace kv5
