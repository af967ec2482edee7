// kv5_usb_raw_limit RAW-DEVICE: the USB test machine's own limit for an update, by a plain
// program: the messages an update of a unit with the older firmware sends (recorded first from a
// whole session against the in-process virtual unit) are written one by one to the card's raw
// MIDI device (hw:CARD,DEVICE,SUBDEVICE), each followed by a wait for the unit's answer on the
// same device's input, with nothing else between: no session, no threads, no sequencer. Like the
// session it waits 500 ms after the unit has answered the request to enter update mode, so both
// ways include the same pause. Prints the messages, the time and the
// answers that were not "accepted". Run by bench/usb-vm-update.sh in the test machine.
#include <alsa/asoundlib.h>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "HeadlessUpdater.h"
#include "protocol/TrafficTap.h"
#include "unit/VirtualUnit.h"

namespace kv5::bench {
namespace {

using Bytes = std::vector<uint8_t>;

// Every message the session sends, in order.
class Recorder : public TrafficTap {
 public:
  void OnSent(const uint8_t* bytes, uint32_t length, int) override {
    std::lock_guard<std::mutex> hold(lock_);
    sent_.emplace_back(bytes, bytes + length);
  }
  void OnReceived(const uint8_t*, uint32_t) override {}
  std::vector<Bytes> Sent() {
    std::lock_guard<std::mutex> hold(lock_);
    return sent_;
  }

 private:
  std::mutex lock_;
  std::vector<Bytes> sent_;
};

std::vector<Bytes> RecordUpdate() {
  LoopbackMidi midi;
  UnitConfig config;
  config.initialFlash = InitialFlash::OlderFirmware;
  VirtualUnit unit(midi.AddDevice("TELVOR Q9"), config);
  unit.Start();
  Recorder recorder;
  HeadlessUpdater updater(midi);
  updater.Dialog().SetTrafficTap(&recorder);
  if (!updater.RunUpdate()) return {};
  return recorder.Sent();
}

// Reads until a whole SysEx message has come, or two seconds without a byte; the message.
Bytes ReadAnswer(snd_rawmidi_t* in) {
  Bytes answer;
  pollfd fds[4];
  const int count = snd_rawmidi_poll_descriptors(in, fds, 4);
  uint8_t byte = 0;
  for (;;) {
    const ssize_t got = snd_rawmidi_read(in, &byte, 1);
    if (got == 1) {
      if (byte == 0xF0) answer.clear();
      answer.push_back(byte);
      if (byte == 0xF7 && answer.front() == 0xF0) return answer;
      continue;
    }
    if (got != -EAGAIN || poll(fds, static_cast<nfds_t>(count), 2000) <= 0) return answer;
  }
}

}  // namespace
}  // namespace kv5::bench

int main(int argc, char** argv) {
  using namespace kv5::bench;
  if (argc != 2) {
    std::fprintf(stderr, "usage: kv5_usb_raw_limit RAW-DEVICE (hw:CARD,DEVICE,SUBDEVICE)\n");
    return 2;
  }
  const std::vector<Bytes> messages = RecordUpdate();
  if (messages.empty()) {
    std::fprintf(stderr, "kv5_usb_raw_limit: the recorded update did not complete\n");
    return 1;
  }
  snd_rawmidi_t* in = nullptr;
  snd_rawmidi_t* out = nullptr;
  if (snd_rawmidi_open(&in, &out, argv[1], SND_RAWMIDI_NONBLOCK) < 0) {
    std::fprintf(stderr, "kv5_usb_raw_limit: cannot open %s\n", argv[1]);
    return 1;
  }
  snd_rawmidi_nonblock(out, 0);  // blocking writes: the driver takes the bytes at its speed
  const auto start = std::chrono::steady_clock::now();
  int refused = 0;
  for (size_t index = 0; index < messages.size(); ++index) {
    const Bytes& message = messages[index];
    if (snd_rawmidi_write(out, message.data(), message.size()) !=
        static_cast<ssize_t>(message.size()))
      break;
    const Bytes answer = ReadAnswer(in);
    // A result message "accepted" ends F0 7D 00 4D 00 00 F7; other answers carry data.
    if (answer.size() == 7 && answer[4] == 0x00 && answer[5] != 0x00) ++refused;
    if (answer.empty()) {
      std::fprintf(stderr, "kv5_usb_raw_limit: no answer to a message of %zu bytes\n",
                   message.size());
      break;
    }
    // The identity request comes first, the request to enter update mode second.
    if (index == 1) std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("raw limit: %zu messages, %.2f s, %d refused\n", messages.size(), seconds, refused);
  snd_rawmidi_close(in);
  snd_rawmidi_close(out);
  return refused == 0 ? 0 : 1;
}
