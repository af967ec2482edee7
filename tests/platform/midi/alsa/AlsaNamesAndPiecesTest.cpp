// The parts of the sequencer backend that need no kernel: list names, reassembly of split SysEx,
// pacing towards a hardware line, the raw MIDI device behind a card's port, and a clean failure
// where the sequencer is missing.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/midi/alsa/AlsaCardPort.h"
#include "platform/midi/alsa/AlsaDeviceNames.h"
#include "platform/midi/alsa/AlsaMidi.h"
#include "platform/midi/alsa/SysexAssembler.h"
#include "platform/midi/alsa/WirePacer.h"

namespace kv5 {
namespace {

TEST(AlsaDeviceNames, ClientNameOnlyWhenTheClientHasOnePortInTheList) {
  const std::vector<SeqPortLabel> ports = {
      {14, "Midi Through", "Midi Through Port-0"},
      {20, "Virtual Raw MIDI 0-0", "VirMIDI 0-0"},
      {128, "Synth", "left"},
      {128, "Synth", "right"},
      {129, "TELVOR Q9", "MIDI Out"},
  };
  EXPECT_EQ(DeviceListNames(ports),
            (std::vector<std::string>{"Midi Through", "Virtual Raw MIDI 0-0", "Synth:left",
                                      "Synth:right", "TELVOR Q9"}));
  EXPECT_TRUE(DeviceListNames({}).empty());
}

TEST(AlsaDeviceNames, NamesAreCutToThirtyOneBytesWithoutSplittingACharacter) {
  EXPECT_EQ(FitDeviceName(std::string(31, 'a')), std::string(31, 'a'));
  EXPECT_EQ(FitDeviceName(std::string(40, 'b')), std::string(31, 'b'));
  // "é" is two bytes; one starting at byte 30 would be cut in half, so it goes entirely.
  const std::string accented = std::string(30, 'c') + "\xC3\xA9" + "dd";
  EXPECT_EQ(FitDeviceName(accented), std::string(30, 'c'));
  const std::vector<SeqPortLabel> longPair = {{130, "A Client With A Long Name", "first port"},
                                              {130, "A Client With A Long Name", "second"}};
  const auto names = DeviceListNames(longPair);
  EXPECT_EQ(names[0], "A Client With A Long Name:first");
  EXPECT_EQ(names[1], "A Client With A Long Name:secon");
}

std::vector<std::vector<uint8_t>> Assemble(SysexAssembler& assembler,
                                           const std::vector<std::vector<uint8_t>>& pieces) {
  std::vector<std::vector<uint8_t>> messages;
  for (const auto& piece : pieces) {
    assembler.Feed(piece.data(), piece.size(), [&](const uint8_t* bytes, size_t length) {
      messages.emplace_back(bytes, bytes + length);
    });
  }
  return messages;
}

TEST(SysexAssembler, JoinsPiecesAndSeparatesMessages) {
  SysexAssembler assembler(1024);
  // One message in three pieces, a clock byte inside it, then two messages in one piece.
  const auto messages = Assemble(
      assembler,
      {{0xF0, 0x01}, {0x02, 0xF8, 0x03}, {0x04, 0xF7}, {0xF0, 0x05, 0xF7, 0xF0, 0x06, 0xF7}});
  EXPECT_EQ(messages,
            (std::vector<std::vector<uint8_t>>{
                {0xF0, 0x01, 0x02, 0x03, 0x04, 0xF7}, {0xF0, 0x05, 0xF7}, {0xF0, 0x06, 0xF7}}));
}

TEST(SysexAssembler, DropsBrokenAndOverlongMessages) {
  SysexAssembler assembler(4);
  const auto messages = Assemble(assembler, {
                                                {0x11, 0x22, 0xF7},        // outside a message
                                                {0xF0, 0x01, 0x90, 0x40},  // cut by a note-on
                                                {0xF0, 0x01, 0xF0, 0x02, 0xF7},  // restarted by F0
                                                {0xF0, 0x01, 0x02, 0x03, 0x04, 0xF7},  // too long
                                                {0xF0, 0x01, 0x02, 0xF7},  // exactly the limit
                                            });
  EXPECT_EQ(messages,
            (std::vector<std::vector<uint8_t>>{{0xF0, 0x02, 0xF7}, {0xF0, 0x01, 0x02, 0xF7}}));
}

TEST(WirePacer, LetsABufferFullGoAtOnceThenFollowsTheLine) {
  using namespace std::chrono;
  const WirePacer::Clock::time_point start{};
  WirePacer pacer(1000, 100);  // 1000-byte device buffer, 100 bytes a second
  EXPECT_EQ(pacer.DelayBefore(256, start), WirePacer::Clock::duration::zero());
  pacer.Sent(256, start);
  pacer.Sent(256, start);
  pacer.Sent(256, start);
  // 768 queued: another 256 would overfill the buffer by 24 bytes, 0.24 s of line time.
  EXPECT_NEAR(duration<double>(pacer.DelayBefore(256, start)).count(), 0.24, 1e-6);
  // After those 0.24 s the line has taken 24 bytes and the piece fits.
  EXPECT_EQ(pacer.DelayBefore(256, start + milliseconds(240)), WirePacer::Clock::duration::zero());
  pacer.Sent(256, start + milliseconds(240));
  // Ten seconds later everything has left; a buffer full goes at once again.
  EXPECT_EQ(pacer.DelayBefore(1000, start + seconds(11)), WirePacer::Clock::duration::zero());
  // A piece larger than the buffer waits only for the buffer to empty.
  pacer.Sent(500, start + seconds(11));
  EXPECT_NEAR(duration<double>(pacer.DelayBefore(2000, start + seconds(11))).count(), 5.0, 1e-6);
}

TEST(AlsaCardPort, PortsMapToTheRawDeviceTheKernelBridgedThem) {
  // A USB interface with two output jacks on device 0 and one on device 1: ports 0, 1 and 32,
  // named by the driver's subdevice names, or by the device's name where it gives none.
  const std::vector<CardRawOutput> usb = {{0, "Q9 Interface", 2, 2, {"Q9 MIDI 1", "Q9 MIDI 2"}},
                                          {1, "Q9 Interface", 1, 1, {""}}};
  EXPECT_EQ(MatchCardPort(2, "Q9 Interface", "Q9 MIDI 2", 1, usb), (RawMidiAddress{2, 0, 1, true}));
  EXPECT_EQ(MatchCardPort(2, "Q9 Interface", "Q9 Interface", 32, usb),
            (RawMidiAddress{2, 1, 0, true}));
  EXPECT_EQ(MatchCardPort(2, "Q9 Interface", "Q9 MIDI 3", 2, usb), std::nullopt);  // no third
  EXPECT_EQ(MatchCardPort(2, "Q9 Interface", "Q9 Interface-1", 33, usb), std::nullopt);
  EXPECT_EQ((RawMidiAddress{2, 1, 0}).Name(), "hw:2,1,0");
  // Another client of the same card, a synthesizer's, numbers its ports from 0 as well.
  EXPECT_EQ(MatchCardPort(2, "Q9 Synth", "Q9 Synth Port 0", 0, usb), std::nullopt);
  // Unnamed subdevices are numbered when the device has several.
  const std::vector<CardRawOutput> din = {{0, "", 2, 2, {"", ""}}};
  EXPECT_EQ(BridgedPortName(4, din[0], 1), "MIDI 4-0-1");
  EXPECT_EQ(MatchCardPort(4, "DIN", "MIDI 4-0-1", 1, din), (RawMidiAddress{4, 0, 1, true}));
  // Virtual raw MIDI: a client per device, each with port 0; device 1 is not device 0's port 0.
  const std::vector<CardRawOutput> virmidi = {{0, "Virtual Raw MIDI", 16, 16, {}},
                                              {1, "Virtual Raw MIDI", 16, 16, {}}};
  EXPECT_EQ(MatchCardPort(3, "Virtual Raw MIDI 3-1", "VirMIDI 3-1", 0, virmidi),
            (RawMidiAddress{3, 1, 0}));
  EXPECT_EQ(MatchCardPort(3, "Virtual Raw MIDI 3-0", "VirMIDI 3-0", 0, virmidi),
            (RawMidiAddress{3, 0, 0}));
  EXPECT_EQ(MatchCardPort(3, "Virtual Raw MIDI 3-1", "VirMIDI 3-1", 1, virmidi), std::nullopt);
  EXPECT_EQ(MatchCardPort(3, "Card Without Outputs", "Port", 0, {}), std::nullopt);
}

bool SequencerPresent() {
  struct stat info {};
  return stat("/dev/snd/seq", &info) == 0;
}

TEST(AlsaMidi, OpeningReportsAMissingSequencerInsteadOfFailingLater) {
  std::string backendError;
  std::string endpointError;
  auto backend = OpenAlsaMidi(&backendError);
  auto endpoint = OpenAlsaEndpoint("TELVOR Q9", &endpointError);
  if (SequencerPresent()) {
    ASSERT_NE(backend, nullptr) << backendError;
    EXPECT_EQ(backend->Name(), "alsa");
    EXPECT_NE(endpoint, nullptr) << endpointError;
    return;
  }
  EXPECT_EQ(backend, nullptr);
  EXPECT_NE(backendError.find("cannot open the ALSA sequencer"), std::string::npos) << backendError;
  EXPECT_EQ(endpoint, nullptr);
  EXPECT_FALSE(endpointError.empty());
}

}  // namespace
}  // namespace kv5
