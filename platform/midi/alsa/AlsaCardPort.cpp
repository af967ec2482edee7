#include "platform/midi/alsa/AlsaCardPort.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <memory>

namespace kv5 {
namespace {

// The sequencer's MIDI module numbers a device's ports in blocks of 256 / 8 raw MIDI devices.
constexpr int kPortsPerDevice = 32;

template <typename T, void (*Free)(T*)>
struct Freer {
  void operator()(T* info) const { Free(info); }
};
using ClientInfo =
    std::unique_ptr<snd_seq_client_info_t, Freer<snd_seq_client_info_t, snd_seq_client_info_free>>;
using RawInfo =
    std::unique_ptr<snd_rawmidi_info_t, Freer<snd_rawmidi_info_t, snd_rawmidi_info_free>>;

struct CtlCloser {
  void operator()(snd_ctl_t* ctl) const { snd_ctl_close(ctl); }
};
using Ctl = std::unique_ptr<snd_ctl_t, CtlCloser>;

// The sequencer limits a port's name to 63 bytes.
constexpr size_t kLongestPortName = 63;

int SubdeviceCount(snd_ctl_t* ctl, snd_rawmidi_info_t* info, int device,
                   snd_rawmidi_stream_t stream) {
  snd_rawmidi_info_set_device(info, static_cast<unsigned int>(device));
  snd_rawmidi_info_set_subdevice(info, 0);
  snd_rawmidi_info_set_stream(info, stream);
  if (snd_ctl_rawmidi_info(ctl, info) < 0) return 0;
  return static_cast<int>(snd_rawmidi_info_get_subdevices_count(info));
}

std::vector<CardRawOutput> ListCardOutputs(int card) {
  std::vector<CardRawOutput> outputs;
  snd_ctl_t* rawCtl = nullptr;
  if (snd_ctl_open(&rawCtl, ("hw:" + std::to_string(card)).c_str(), 0) < 0) return outputs;
  Ctl ctl(rawCtl);
  snd_rawmidi_info_t* rawInfo = nullptr;
  if (snd_rawmidi_info_malloc(&rawInfo) < 0) return outputs;
  RawInfo info(rawInfo);
  int device = -1;
  while (snd_ctl_rawmidi_next_device(ctl.get(), &device) >= 0 && device >= 0) {
    CardRawOutput output;
    output.device = device;
    output.inputs = SubdeviceCount(ctl.get(), info.get(), device, SND_RAWMIDI_STREAM_INPUT);
    output.subdevices = SubdeviceCount(ctl.get(), info.get(), device, SND_RAWMIDI_STREAM_OUTPUT);
    if (output.subdevices == 0) continue;  // an input-only device
    output.name = snd_rawmidi_info_get_name(info.get());
    for (int subdevice = 0; subdevice < output.subdevices; ++subdevice) {
      snd_rawmidi_info_set_subdevice(info.get(), static_cast<unsigned int>(subdevice));
      const bool named = snd_ctl_rawmidi_info(ctl.get(), info.get()) >= 0;
      output.subdeviceNames.push_back(named ? snd_rawmidi_info_get_subdevice_name(info.get()) : "");
    }
    outputs.push_back(std::move(output));
  }
  return outputs;
}

}  // namespace

std::string RawMidiAddress::Name() const {
  return "hw:" + std::to_string(card) + "," + std::to_string(device) + "," +
         std::to_string(subdevice);
}

std::string BridgedPortName(int card, const CardRawOutput& output, int subdevice) {
  std::string name;
  if (static_cast<size_t>(subdevice) < output.subdeviceNames.size())
    name = output.subdeviceNames[static_cast<size_t>(subdevice)];
  if (name.empty()) {
    if (!output.name.empty()) {
      name = output.name;
    } else {
      name.append("MIDI ").append(std::to_string(card)).append("-");
      name.append(std::to_string(output.device));
    }
    if (std::max(output.subdevices, output.inputs) > 1)
      name.append("-").append(std::to_string(subdevice));
  }
  return name.substr(0, kLongestPortName);
}

std::optional<RawMidiAddress> MatchCardPort(int card, const std::string& clientName,
                                            const std::string& portName, int port,
                                            const std::vector<CardRawOutput>& outputs) {
  // A client of one device first: its port 0 would also pass for device 0 by number.
  for (const CardRawOutput& output : outputs) {
    const std::string deviceClient =
        output.name + " " + std::to_string(card) + "-" + std::to_string(output.device);
    if (clientName == deviceClient) {
      if (port != 0) return std::nullopt;
      return RawMidiAddress{card, output.device, 0};
    }
  }
  // The bridge's client: the port's number and its name both say which subdevice it is.
  for (const CardRawOutput& output : outputs) {
    const int subdevice = port - output.device * kPortsPerDevice;
    if (subdevice >= 0 && subdevice < kPortsPerDevice && subdevice < output.subdevices &&
        portName == BridgedPortName(card, output, subdevice))
      return RawMidiAddress{card, output.device, subdevice, true};
  }
  return std::nullopt;
}

std::optional<RawMidiAddress> FindRawMidiOutput(snd_seq_t* seq, int client, int port) {
  snd_seq_client_info_t* rawInfo = nullptr;
  if (snd_seq_client_info_malloc(&rawInfo) < 0) return std::nullopt;
  ClientInfo info(rawInfo);
  if (snd_seq_get_any_client_info(seq, client, info.get()) < 0) return std::nullopt;
  const int card = snd_seq_client_info_get_card(info.get());
  if (card < 0) return std::nullopt;
  snd_seq_port_info_t* portInfo = nullptr;
  snd_seq_port_info_alloca(&portInfo);
  if (snd_seq_get_any_port_info(seq, client, port, portInfo) < 0) return std::nullopt;
  return MatchCardPort(card, snd_seq_client_info_get_name(info.get()),
                       snd_seq_port_info_get_name(portInfo), port, ListCardOutputs(card));
}

}  // namespace kv5
