#include "platform/midi/alsa/AlsaCardPort.h"

#include <alsa/asoundlib.h>

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
    snd_rawmidi_info_set_device(info.get(), static_cast<unsigned int>(device));
    snd_rawmidi_info_set_subdevice(info.get(), 0);
    snd_rawmidi_info_set_stream(info.get(), SND_RAWMIDI_STREAM_OUTPUT);
    if (snd_ctl_rawmidi_info(ctl.get(), info.get()) < 0) continue;  // an input-only device
    outputs.push_back({device, snd_rawmidi_info_get_name(info.get()),
                       static_cast<int>(snd_rawmidi_info_get_subdevices_count(info.get()))});
  }
  return outputs;
}

}  // namespace

std::string RawMidiAddress::Name() const {
  return "hw:" + std::to_string(card) + "," + std::to_string(device) + "," +
         std::to_string(subdevice);
}

std::optional<RawMidiAddress> MatchCardPort(int card, const std::string& clientName, int port,
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
  for (const CardRawOutput& output : outputs) {
    const int subdevice = port - output.device * kPortsPerDevice;
    if (subdevice >= 0 && subdevice < kPortsPerDevice && subdevice < output.subdevices)
      return RawMidiAddress{card, output.device, subdevice};
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
  return MatchCardPort(card, snd_seq_client_info_get_name(info.get()), port, ListCardOutputs(card));
}

}  // namespace kv5
