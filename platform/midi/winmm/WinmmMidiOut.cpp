// MIDI output through winmm. LongMsg sends the message in pieces of at most maxSysexPiece bytes
// (see SysexPieces.h): each piece is copied into a buffer of the backend's own, which a MIDIHDR of
// its own describes, prepared, sent, waited for and unprepared before the next; the port's header
// is marked done after the last piece. The device calls back when it has finished with a buffer,
// which signals an event, so the wait needs no polling.
//
// Wine's MIDI driver makes every buffer a SysEx message of its own, adding the F0 and F7 a piece
// lacks, so a message in pieces reaches the device as several broken ones. That driver takes a
// message of any length in one buffer; under Wine the message therefore goes whole.
//
// A piece the device has still not given back after a reset is never unprepared or freed: the
// driver may still write to its header. It is kept until the device marks it done or is closed,
// and the send fails. A device that went away (an unasked MOM_CLOSE, or a send answered with
// "no driver" or "not enabled") makes every later prepare and send fail with MMSYSERR_NODRIVER.
//
// The kv5 headers come first: mmsystem.h defines macros with the names and values of the
// constants in MidiServices.h.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/midi/winmm/SysexPieces.h"
#include "platform/midi/winmm/WinmmMidi.h"
#include "platform/midi/winmm/WinmmOutCalls.h"

namespace kv5 {
namespace {

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

// One piece with the device: its header and its own copy of the bytes.
struct Piece {
  MIDIHDR header{};
  std::vector<uint8_t> bytes;
};

struct OutDevice {
  HMIDIOUT handle = nullptr;
  OwnedEvent finished;               // signalled for every buffer the device is done with
  std::atomic<uint32_t> resets{0};   // Reset calls so far; a message in pieces stops at a change
  std::atomic<bool> closing{false};  // our own Close runs: its MOM_CLOSE is no removal
  std::atomic<bool> gone{false};     // the device went away
  std::mutex lock;                   // guards pieces and stuck
  // The piece of each prepared port header.
  std::map<MidiHeader*, std::unique_ptr<Piece>> pieces;
  // Pieces the device did not give back, kept until it does or is closed.
  std::vector<std::unique_ptr<Piece>> stuck;
};

// Wine's ntdll exports its version; Windows' has no such entry.
bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool Removed(MMRESULT result) {
  return result == MMSYSERR_NODRIVER || result == MMSYSERR_NOTENABLED;
}

void CALLBACK WinmmOutProc(HMIDIOUT, UINT message, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
  auto* device = reinterpret_cast<OutDevice*>(instance);
  if (message == MOM_CLOSE && !device->closing.load()) device->gone = true;
  SetEvent(device->finished.get());
}

class WinmmMidiOut : public MidiOutServices {
 public:
  WinmmMidiOut(const WinmmOutCalls& calls, const WinmmConfig& config)
      : winmm_(calls), config_(config) {}

  uint32_t GetNumDevs() override { return winmm_.getNumDevs(); }

  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override {
    MIDIOUTCAPSA platform{};
    const MMRESULT result = winmm_.getDevCaps(device, &platform, sizeof platform);
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
        winmm_.open(&device->handle, deviceId, reinterpret_cast<DWORD_PTR>(&WinmmOutProc),
                    reinterpret_cast<DWORD_PTR>(device.get()), CALLBACK_FUNCTION);
    if (result != MMSYSERR_NOERROR) return result;
    *handle = reinterpret_cast<MidiOutHandle>(device.get());
    std::lock_guard<std::mutex> hold(lock_);
    devices_[*handle] = std::move(device);
    return MMSYSERR_NOERROR;
  }

  MidiResult Close(MidiOutHandle handle) override {
    OutDevice* device = Find(handle);
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    device->closing = true;
    // Pieces still with the device come back with a reset; the close fails while any is held.
    if (HasStuck(*device)) winmm_.reset(device->handle);
    const MMRESULT result = winmm_.close(device->handle);
    if (result != MMSYSERR_NOERROR) {
      device->closing = false;
      return result;
    }
    // Closed: the device holds no buffer any more, the stuck pieces go with it.
    std::lock_guard<std::mutex> hold(lock_);
    devices_.erase(handle);
    return MMSYSERR_NOERROR;
  }

  MidiResult PrepareHeader(MidiOutHandle handle, MidiHeader* header) override {
    OutDevice* device = Find(handle);
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    if (device->gone.load()) return MMSYSERR_NODRIVER;
    if (header == nullptr || header->lpData == nullptr || header->dwBufferLength == 0)
      return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> hold(device->lock);
    device->pieces.try_emplace(header);
    header->backendData = device;
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
  }

  MidiResult LongMsg(MidiOutHandle handle, MidiHeader* header) override {
    OutDevice* device = Find(handle);
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    if (device->gone.load()) return MMSYSERR_NODRIVER;
    if (!IsPrepared(*device, header)) return MIDIERR_UNPREPARED;
    ReleaseReturned(*device);
    const uint32_t resetsBefore = device->resets.load();
    header->dwFlags = (header->dwFlags.load() & ~MHDR_DONE) | MHDR_INQUEUE;
    const MidiResult result = SendInPieces(
        header->lpData, header->dwBufferLength, pieceLimit_,
        [&](const uint8_t* bytes, uint32_t length) {
          return SendPiece(*device, header, bytes, length);
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
    return winmm_.reset(device->handle);
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
    // Tells the port that its last send did not reach a device that is there.
    return device->gone.load() ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR;
  }

 private:
  // One piece: copied, handed to the device, waited for, given back.
  MidiResult SendPiece(OutDevice& device, MidiHeader* owner, const uint8_t* bytes,
                       uint32_t length) {
    Piece* piece = nullptr;
    {
      std::lock_guard<std::mutex> hold(device.lock);
      std::unique_ptr<Piece>& slot = device.pieces[owner];
      if (!slot) slot = std::make_unique<Piece>();
      piece = slot.get();
    }
    piece->bytes.assign(bytes, bytes + length);
    MIDIHDR& header = piece->header;
    header = MIDIHDR{};
    header.lpData = reinterpret_cast<LPSTR>(piece->bytes.data());
    header.dwBufferLength = length;
    header.dwBytesRecorded = length;
    MMRESULT result = winmm_.prepareHeader(device.handle, &header, sizeof(MIDIHDR));
    if (result != MMSYSERR_NOERROR) return Outcome(device, result);
    ResetEvent(device.finished.get());
    result = winmm_.longMsg(device.handle, &header, sizeof(MIDIHDR));
    if (result != MMSYSERR_NOERROR) {
      winmm_.unprepareHeader(device.handle, &header, sizeof(MIDIHDR));
      return Outcome(device, result);
    }
    // The event also fires for open and close notices; the done bit is what counts.
    bool stuck = false;
    while (!Done(header) && !device.gone.load()) {
      if (WaitForSingleObject(device.finished.get(), config_.pieceLimitMs) == WAIT_OBJECT_0)
        continue;
      if (Done(header)) break;
      // Stuck: a reset should give the buffer back, and the piece has not gone out whole.
      stuck = true;
      winmm_.reset(device.handle);
      WaitForSingleObject(device.finished.get(), config_.pieceLimitMs);
      break;
    }
    if (!Done(header)) {
      Retire(device, owner);
      return device.gone.load() ? MMSYSERR_NODRIVER : MMSYSERR_ERROR;
    }
    winmm_.unprepareHeader(device.handle, &header, sizeof(MIDIHDR));
    if (device.gone.load()) return MMSYSERR_NODRIVER;
    return stuck ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
  }

  static bool Done(const MIDIHDR& header) {
    return (reinterpret_cast<const volatile DWORD&>(header.dwFlags) & MHDR_DONE) != 0;
  }

  static MidiResult Outcome(OutDevice& device, MMRESULT result) {
    if (!Removed(result)) return result;
    device.gone = true;
    return MMSYSERR_NODRIVER;
  }

  // The piece stays with the device; the port header gets a new one for its next send.
  static void Retire(OutDevice& device, MidiHeader* owner) {
    std::lock_guard<std::mutex> hold(device.lock);
    auto found = device.pieces.find(owner);
    if (found == device.pieces.end() || !found->second) return;
    device.stuck.push_back(std::move(found->second));
  }

  // Stuck pieces that the device has marked done since are unprepared and freed.
  void ReleaseReturned(OutDevice& device) {
    std::vector<std::unique_ptr<Piece>> returned;
    {
      std::lock_guard<std::mutex> hold(device.lock);
      for (auto it = device.stuck.begin(); it != device.stuck.end();) {
        if (Done((*it)->header)) {
          returned.push_back(std::move(*it));
          it = device.stuck.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (auto& piece : returned)
      winmm_.unprepareHeader(device.handle, &piece->header, sizeof(MIDIHDR));
  }

  static bool HasStuck(OutDevice& device) {
    std::lock_guard<std::mutex> hold(device.lock);
    return !device.stuck.empty();
  }

  static bool IsPrepared(OutDevice& device, MidiHeader* header) {
    std::lock_guard<std::mutex> hold(device.lock);
    return device.pieces.count(header) != 0;
  }

  OutDevice* Find(MidiOutHandle handle) {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = devices_.find(handle);
    return found == devices_.end() ? nullptr : found->second.get();
  }

  const WinmmOutCalls winmm_;
  const WinmmConfig config_;
  const uint32_t pieceLimit_ = UnderWine() ? UINT32_MAX : config_.maxSysexPiece;
  std::mutex lock_;  // guards devices_
  std::map<MidiOutHandle, std::unique_ptr<OutDevice>> devices_;
};

}  // namespace

std::unique_ptr<MidiOutServices> MakeWinmmMidiOut(const WinmmOutCalls& calls,
                                                  const WinmmConfig& config) {
  return std::make_unique<WinmmMidiOut>(calls, config);
}

}  // namespace kv5
