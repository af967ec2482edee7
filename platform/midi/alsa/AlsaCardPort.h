// The raw MIDI device behind a sequencer port of a sound card. The kernel publishes a card's raw
// MIDI devices on the sequencer in two ways:
// - one client per card (USB-MIDI class devices, DIN interfaces, every driver that leaves the
//   bridging to the sequencer's MIDI module): port number = device * 32 + subdevice, named after
//   the subdevice;
// - one client per device, named after the device with " CARD-DEVICE" added, whose one port is
//   port 0 (virtual raw MIDI ports); subdevice 0 is taken.
// Other clients of a card (a synthesizer's ports) and ports of software clients (other programs,
// the virtual unit) stand for no raw MIDI device and stay on the sequencer.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The library's client handle, as its header declares it; the mapping itself needs no library.
typedef struct _snd_seq snd_seq_t;

namespace kv5 {

struct RawMidiAddress {
  int card = -1;
  int device = 0;
  int subdevice = 0;
  // Published by the sequencer's bridge, through which other programs may share the device;
  // a virtual raw port's client is the device's other end instead.
  bool bridged = false;
  bool operator==(const RawMidiAddress&) const = default;
  // The name snd_rawmidi_open takes: "hw:CARD,DEVICE,SUBDEVICE".
  std::string Name() const;
};

// A raw MIDI output device of one card, as its control interface lists it.
struct CardRawOutput {
  int device = 0;
  std::string name;
  int subdevices = 0;
  int inputs = 0;  // the device's input subdevices: the bridge names ports by the larger count
  std::vector<std::string> subdeviceNames;  // of the outputs; empty where the driver gives none
};

// The name the sequencer's bridge gives the port of one output subdevice.
std::string BridgedPortName(int card, const CardRawOutput& output, int subdevice);

// Which of a card's outputs stands behind port (so named) of the client so named; nullopt when
// none does.
std::optional<RawMidiAddress> MatchCardPort(int card, const std::string& clientName,
                                            const std::string& portName, int port,
                                            const std::vector<CardRawOutput>& outputs);

// The raw MIDI output behind client:port, or nullopt when the client belongs to no card or its
// card lists no matching output.
std::optional<RawMidiAddress> FindRawMidiOutput(snd_seq_t* seq, int client, int port);

}  // namespace kv5
