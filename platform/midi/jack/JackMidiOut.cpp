#include "platform/midi/jack/JackMidiOut.h"

#include <algorithm>
#include <chrono>

namespace kv5 {

JackMidiOut::JackMidiOut(JackLink& link) : link_(link), list_(link, /*theirOutputs=*/false) {}

JackMidiOut::~JackMidiOut() {
  devices_.TakeAll();
}

void JackMidiOut::CheckDevices() {
  for (const auto& device : devices_.All()) {
    if (device->vanished.load() || device->client->HasPort(device->theirs)) continue;
    device->vanished = true;
    // What is queued comes back done now: at once when the server has gone, else in the next
    // cycle. A send that comes later finds the device vanished; one its owner closed meanwhile
    // has no stream left.
    std::lock_guard<std::mutex> sending(device->sending);
    if (!device->stream) continue;
    device->stream->Cancel();
    if (device->pacer) device->pacer->Dropped();
  }
}

MidiResult JackMidiOut::Open(MidiOutHandle* handle, uint32_t device) {
  if (handle == nullptr) return MMSYSERR_INVALPARAM;
  const std::string theirs = list_.Port(device);
  if (theirs.empty()) return MMSYSERR_BADDEVICEID;
  auto opened = std::make_shared<Device>();
  opened->client = link_.Current();
  opened->theirs = theirs;
  // The device of the list entry, or none: a port that has gone since the list was filled fails.
  if (!opened->client->HasPort(theirs)) return MMSYSERR_BADDEVICEID;
  const MidiResult locked = link_.LockDevice(theirs, /*output=*/true, &opened->lock);
  if (locked != MMSYSERR_NOERROR) return locked;
  JackClient& client = *opened->client;
  jack_port_t* ours = client.RegisterMidiPort("midi_out", /*input=*/false);
  if (ours == nullptr) return MMSYSERR_ERROR;

  const JackConfig& config = link_.Config();
  opened->port = std::make_unique<JackPort>(client, ours);
  size_t cycleBytes = config.cycleByteLimit;
  if (const auto card = link_.CardPortOf(theirs)) {
    opened->pacer = std::make_unique<JackBridgePacer>(
        *card, config.bridgeInFlightBytes, std::chrono::microseconds(config.bridgeRecheckUs));
    cycleBytes =
        cycleBytes == 0 ? config.bridgeCycleBytes : std::min(cycleBytes, config.bridgeCycleBytes);
  }
  opened->stream = std::make_unique<JackOutputStream>(
      client, ours, cycleBytes, config.outputQueueLength, opened->pacer.get());
  if (!opened->stream->Attached()) return MMSYSERR_NOMEM;
  // A message written before the connection is in place would be lost.
  if (!client.ConnectAndWait(opened->port->Name(), theirs, ours, theirs,
                             std::chrono::milliseconds(config.connectTimeoutMs))) {
    return MMSYSERR_ERROR;
  }
  const MidiOutHandle id = devices_.NewHandle();
  devices_.Insert(id, std::move(opened));
  *handle = id;
  return MMSYSERR_NOERROR;
}

MidiResult JackMidiOut::Close(MidiOutHandle handle) {
  const std::shared_ptr<Device> closing = devices_.Take(handle);
  if (!closing) return MMSYSERR_INVALHANDLE;
  // A send may still be between queueing and returning; let it finish first.
  std::lock_guard<std::mutex> sending(closing->sending);
  closing->stream.reset();  // gives back what is still queued, done
  // The port and the lock go now, not with the last holder of the device: the observer's check
  // may hold it a moment longer, and the port would still be listed after Close returned.
  closing->port.reset();
  closing->lock.reset();
  return MMSYSERR_NOERROR;
}

MidiResult JackMidiOut::PrepareHeader(MidiOutHandle handle, MidiHeader* header) {
  const std::shared_ptr<Device> device = devices_.Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (device->Gone()) return MMSYSERR_NODRIVER;
  if (header == nullptr || header->lpData == nullptr || header->dwBufferLength == 0) {
    return MMSYSERR_INVALPARAM;
  }
  header->dwFlags |= MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MidiResult JackMidiOut::LongMsg(MidiOutHandle handle, MidiHeader* header) {
  const std::shared_ptr<Device> device = devices_.Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (header == nullptr || header->lpData == nullptr || header->dwBufferLength == 0) {
    return MMSYSERR_INVALPARAM;
  }
  const uint32_t flags = header->dwFlags;
  if (!(flags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
  if ((flags & MHDR_INQUEUE) && !(flags & MHDR_DONE)) return MIDIERR_STILLPLAYING;

  std::lock_guard<std::mutex> sending(device->sending);
  // Asked under `sending`: a vanish either comes first and is seen here, or cancels this message.
  if (device->Gone()) return MMSYSERR_NODRIVER;
  // In the queue from here on; the process callback clears INQUEUE and sets DONE together.
  header->dwFlags = (flags & ~MHDR_DONE) | MHDR_INQUEUE;
  if (!device->stream->Queue(header->lpData, header->dwBufferLength, &header->dwFlags)) {
    header->dwFlags = flags & ~MHDR_INQUEUE;
    return MIDIERR_NOTREADY;
  }
  if (device->pacer) device->pacer->Queued(header->dwBufferLength);
  return MMSYSERR_NOERROR;
}

MidiResult JackMidiOut::Reset(MidiOutHandle handle) {
  const std::shared_ptr<Device> device = devices_.Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  std::lock_guard<std::mutex> sending(device->sending);
  device->stream->Cancel();
  if (device->pacer) device->pacer->Dropped();
  return MMSYSERR_NOERROR;
}

MidiResult JackMidiOut::UnprepareHeader(MidiOutHandle handle, MidiHeader* header) {
  const std::shared_ptr<Device> device = devices_.Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (header == nullptr) return MMSYSERR_INVALPARAM;
  const uint32_t flags = header->dwFlags;
  if ((flags & MHDR_INQUEUE) && !(flags & MHDR_DONE)) return MIDIERR_STILLPLAYING;
  header->dwFlags = flags & ~MHDR_PREPARED;
  // A header given back because the device went away was not sent.
  return device->Gone() ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR;
}

}  // namespace kv5
