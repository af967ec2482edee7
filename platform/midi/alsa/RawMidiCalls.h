// The raw MIDI calls a card's output makes, as a table: the library's by default, a test's
// stand-ins for a device that goes away, or stops taking bytes, in the middle of a message.
#pragma once

#include <alsa/asoundlib.h>
#include <poll.h>

#include <cstddef>

namespace kv5 {

// Opens the output named (hw:CARD,DEVICE,SUBDEVICE) without waiting for another program to let go.
int OpenRawMidiOutput(snd_rawmidi_t** raw, const char* name);
// A kernel buffer of bufferBytes; room is reported only when it is empty but for one byte, and
// the kernel sends no byte of its own at the close.
int ConfigureRawMidiOutput(snd_rawmidi_t* raw, size_t bufferBytes);
// How much of the kernel's buffer is free, or a negative error code.
long RawMidiFreeBytes(snd_rawmidi_t* raw);

struct RawMidiCalls {
  int (*open)(snd_rawmidi_t** raw, const char* name) = &OpenRawMidiOutput;
  int (*configure)(snd_rawmidi_t* raw, size_t bufferBytes) = &ConfigureRawMidiOutput;
  ssize_t (*write)(snd_rawmidi_t* raw, const void* bytes, size_t count) = &snd_rawmidi_write;
  long (*freeBytes)(snd_rawmidi_t* raw) = &RawMidiFreeBytes;
  int (*pollDescriptors)(snd_rawmidi_t* raw, pollfd* fds,
                         unsigned int space) = &snd_rawmidi_poll_descriptors;
  int (*pollRevents)(snd_rawmidi_t* raw, pollfd* fds, unsigned int count,
                     unsigned short* revents) = &snd_rawmidi_poll_descriptors_revents;
  int (*drop)(snd_rawmidi_t* raw) = &snd_rawmidi_drop;
  int (*close)(snd_rawmidi_t* raw) = &snd_rawmidi_close;
};

}  // namespace kv5
