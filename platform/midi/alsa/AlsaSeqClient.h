// A sequencer client of our own, set up to receive large SysEx, and the port lists other clients
// offer.
#pragma once

#include <alsa/asoundlib.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/midi/alsa/AlsaConfig.h"
#include "platform/midi/alsa/AlsaDeviceNames.h"

namespace kv5 {

struct SeqClientCloser {
  void operator()(snd_seq_t* seq) const { snd_seq_close(seq); }
};
using SeqClient = std::unique_ptr<snd_seq_t, SeqClientCloser>;

// Opens a non-blocking duplex client of this name with the configuration's input pool and buffer;
// nullptr with a reason in *error.
SeqClient OpenSeqClient(const std::string& name, const AlsaConfig& config, std::string* error);

// Which ports of other clients a list shows: Readable ones feed our input, Writable ones take
// our output.
enum class SeqDirection { Readable, Writable };

struct SeqPortInfo {
  int client = 0;
  int port = 0;
  bool hardware = false;  // a kernel MIDI device with a line behind it
  SeqPortLabel label;
  // For a port of a sound card, the card's long name: where the card is plugged in (its USB
  // path), so that two units of one model are told apart whichever card number each has.
  std::string card;
};

// The long name of the card of a client that has one, else empty.
std::string SeqClientCardName(const snd_seq_client_info_t* client);

// The subscribable MIDI ports of every client but ownClient and the system client, ordered by
// client and port number.
std::vector<SeqPortInfo> ListSeqPorts(snd_seq_t* seq, SeqDirection direction, int ownClient);

// The list's names for those ports (see DeviceListNames).
std::vector<std::string> SeqPortNames(const std::vector<SeqPortInfo>& ports);

// A port of our own client for one open device; no one else may subscribe to it. Its number is
// not one that a port of this process had shortly before, so events still queued for a closed
// device never reach the next one. A negative result is the library's error code.
enum class OwnPortRole { Receives, Sends };
int CreatePrivatePort(snd_seq_t* seq, const std::string& name, OwnPortRole role);

}  // namespace kv5
