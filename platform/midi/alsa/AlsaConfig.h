// The tunables of the ALSA backend in one place: what the sequencer client asks of the kernel, how
// messages are cut and paced on the way out, and how the raw MIDI output of a sound card behaves.
// The defaults are the values the backend was measured with against the kernel's sequencer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kv5 {

struct AlsaConfig {
  // The kernel keeps a whole incoming event in the client's input pool, 28 bytes a cell, and
  // drops what does not fit; 2000 cells is the most it grants (a SysEx event of ~55000 bytes).
  int inputPoolCells = 2000;
  // The library reads whole events into this buffer and loses those larger than it.
  size_t inputBufferBytes = 64 * 1024;

  // Up to this size a message goes to a sequencer client as one event, the fewest pool cells
  // (one plus one per 28 bytes): a receiver with the library's default pool of 200 holds it.
  size_t largestWholeEvent = 5000;
  // Larger ones go in pieces of this size, as the sequencer itself hands on raw port SysEx.
  size_t pieceBytes = 256;
  // A receiver whose pool stays full, or a raw device that takes no byte, for this long is not
  // reading; the message is given up.
  int stallLimitMs = 2000;

  // A card's port reached through the sequencer (another program holds the card's raw device
  // through the kernel's bridge): how long to wait before looking again at the bridge's buffer
  // when a piece does not fit.
  int bridgeRecheckUs = 250;

  // A port that claims a hardware line but has no raw MIDI device behind it is paced as a
  // 31250-baud line (ten bits a byte) in front of the kernel's 4096-byte buffer.
  size_t lineBufferBytes = 4096;
  uint32_t lineBytesPerSecond = 3125;

  // The kernel buffer of a sound card's raw MIDI output: a message of the protocol (at most
  // ~4700 bytes) goes in with one write, and the driver empties it at the device's own speed.
  size_t rawOutputBufferBytes = 8192;

  // What the published endpoint assembles at most before it drops a message without its F7.
  size_t longestEndpointMessage = 1u << 20;

  // A set of per-device locks apart from the updater's own (tests); empty for the updater's.
  std::string lockSpace;
};

}  // namespace kv5
