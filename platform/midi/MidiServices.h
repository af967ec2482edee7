// The MIDI services the ports are written against, shaped like the multimedia MIDI calls: every
// backend (winmm, alsa, jack, loopback, the recording fake) implements these two interfaces with
// the same semantics, so the ports keep one algorithm for every platform.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace kv5 {

// Result codes of the services: 0 is success, everything else a failure (values as winmm's).
using MidiResult = uint32_t;
constexpr MidiResult MMSYSERR_NOERROR = 0;
constexpr MidiResult MMSYSERR_ERROR = 1;
constexpr MidiResult MMSYSERR_BADDEVICEID = 2;
constexpr MidiResult MMSYSERR_ALLOCATED = 4;
constexpr MidiResult MMSYSERR_INVALHANDLE = 5;
// The device went away while open (cable pulled, its program ended, its server stopped).
constexpr MidiResult MMSYSERR_NODRIVER = 6;
constexpr MidiResult MMSYSERR_NOMEM = 7;
constexpr MidiResult MMSYSERR_INVALPARAM = 11;
constexpr MidiResult MIDIERR_UNPREPARED = 64;
constexpr MidiResult MIDIERR_STILLPLAYING = 65;
constexpr MidiResult MIDIERR_NOTREADY = 67;

// Header flag bits.
constexpr uint32_t MHDR_DONE = 0x00000001;
constexpr uint32_t MHDR_PREPARED = 0x00000002;
constexpr uint32_t MHDR_INQUEUE = 0x00000004;

// Input callback messages.
constexpr uint32_t MIM_OPEN = 0x3C1;
constexpr uint32_t MIM_CLOSE = 0x3C2;
constexpr uint32_t MIM_DATA = 0x3C3;
constexpr uint32_t MIM_LONGDATA = 0x3C4;
constexpr uint32_t MIM_ERROR = 0x3C5;
constexpr uint32_t MIM_LONGERROR = 0x3C6;

// The device number of the system's default output; an unselected list hands it to Open.
constexpr uint32_t MIDI_MAPPER = 0xFFFFFFFFu;

// A SysEx buffer handed between a port and a backend. The backend writes dwBytesRecorded and the
// flags from its own thread while the owner polls the done bit, so the flags are atomic.
struct MidiHeader {
  uint8_t* lpData = nullptr;
  uint32_t dwBufferLength = 0;
  uint32_t dwBytesRecorded = 0;
  std::atomic<uint32_t> dwFlags{0};
  // Private to the backend that prepared the header (winmm keeps its own MIDIHDR here).
  void* backendData = nullptr;
};

// The one way a backend marks an output header done (in common/HeaderDone.cpp): clears
// MHDR_INQUEUE and sets MHDR_DONE in one step, so an owner that sees the bit may unprepare the
// header at once, and wakes whoever waits for it. The backend must not touch the header
// afterwards. Fit for a real-time thread: it takes a lock only while a thread is waiting.
void MarkHeaderDone(std::atomic<uint32_t>& flags);
inline void MarkHeaderDone(MidiHeader* header) {
  MarkHeaderDone(header->dwFlags);
}
// The owner's side: true once MHDR_DONE is set in flags, false when limit passed first. Sleeps
// until a backend marks a header done; no polling.
bool WaitHeaderDone(const std::atomic<uint32_t>& flags, std::chrono::milliseconds limit);

// Device name as the capability record holds it: at most 31 characters and a terminating zero.
struct MidiDeviceCaps {
  char szPname[32] = {};
};

// Opaque handle of an open device; 0 means none.
using MidiInHandle = uintptr_t;
using MidiOutHandle = uintptr_t;

// Input callback of the platform's form: (device, message, instance data, parameter 1,
// parameter 2). For MIM_LONGDATA and MIM_LONGERROR, parameter 1 is the MidiHeader*.
using MidiInProc = void (*)(MidiInHandle device, uint32_t message, uintptr_t instance,
                            uintptr_t param1, uintptr_t param2);

// Input semantics every backend keeps: the device fills the first queued buffer with one SysEx
// message from F0 to F7 and hands it back as MIM_LONGDATA with MHDR_DONE and the byte count; a
// message longer than the buffer fills it and continues in the next queued buffer. Stop hands back
// a partly filled buffer; Reset hands back every queued buffer, empty ones with zero bytes. No
// callback runs once Stop, Reset or Close has returned, other than those they make themselves.
// When an open device goes away, the callback runs once with MIM_CLOSE (parameter 1 = 0) and no
// data callback follows; Stop, Reset and Close still hand back the buffers and release it.
class MidiInServices {
 public:
  virtual ~MidiInServices() = default;
  virtual uint32_t GetNumDevs() = 0;
  virtual MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) = 0;
  virtual MidiResult Open(MidiInHandle* handle, uint32_t device, MidiInProc callback,
                          uintptr_t instance) = 0;
  virtual MidiResult Reset(MidiInHandle handle) = 0;
  virtual MidiResult PrepareHeader(MidiInHandle handle, MidiHeader* header) = 0;
  virtual MidiResult AddBuffer(MidiInHandle handle, MidiHeader* header) = 0;
  virtual MidiResult Start(MidiInHandle handle) = 0;
  virtual MidiResult Stop(MidiInHandle handle) = 0;
  virtual MidiResult UnprepareHeader(MidiInHandle handle, MidiHeader* header) = 0;
  virtual MidiResult Close(MidiInHandle handle) = 0;
};

// Output semantics: LongMsg returns at once; MHDR_DONE is set in the header once its bytes have
// left. UnprepareHeader of a header still with the device fails with MIDIERR_STILLPLAYING;
// Reset gives every pending header back (done) and cancels what has not left yet. When an open
// device goes away, a pending header comes back done at once, the UnprepareHeader that follows
// returns MMSYSERR_NODRIVER (the send failed), and so do every later PrepareHeader and LongMsg.
class MidiOutServices {
 public:
  virtual ~MidiOutServices() = default;
  virtual uint32_t GetNumDevs() = 0;
  virtual MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) = 0;
  virtual MidiResult Open(MidiOutHandle* handle, uint32_t device) = 0;
  virtual MidiResult Close(MidiOutHandle handle) = 0;
  virtual MidiResult PrepareHeader(MidiOutHandle handle, MidiHeader* header) = 0;
  virtual MidiResult LongMsg(MidiOutHandle handle, MidiHeader* header) = 0;
  virtual MidiResult Reset(MidiOutHandle handle) = 0;
  virtual MidiResult UnprepareHeader(MidiOutHandle handle, MidiHeader* header) = 0;
};

}  // namespace kv5
