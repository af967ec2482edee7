// SysEx of every size the protocol and its margins use, crossing the kernel's sequencer intact
// through the real input and output ports: client to client, through "Midi Through", from a
// virtual raw MIDI port and into a card's raw MIDI device, and from and to plain clients with the
// library's default settings; and a message broken by lost input events, dropped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <thread>

#include "GuestRig.h"
#include "midi/MidiInPort.h"
#include "midi/MidiOutPort.h"
#include "platform/midi/alsa/AlsaMidi.h"
#include "platform/midi/alsa/AlsaTestPeers.h"

namespace kv5::guest {
namespace {

constexpr size_t kSizes[] = {6, 22, 4700, 20000};

class AlsaGuestTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    backend_ = OpenAlsaMidi(&error);
    ASSERT_NE(backend_, nullptr) << error;
    in_ = std::make_unique<MidiInPort>(backend_->In());
    out_ = std::make_unique<MidiOutPort>(backend_->Out());
  }

  // Opens the ports on the entries of these names (an empty name leaves that port closed).
  void OpenPorts(const std::string& inName, const std::string& outName) {
    if (!inName.empty()) {
      in_->DeviceIndex = IndexOf(DeviceNames(backend_->In()), inName);
      ASSERT_GE(in_->DeviceIndex, 0) << inName;
      ASSERT_EQ(in_->Open(), 1);
    }
    if (!outName.empty()) {
      const int index = IndexOf(DeviceNames(backend_->Out()), outName);
      ASSERT_GE(index, 0) << outName;
      ASSERT_EQ(out_->Open(index), 1);
    }
  }

  int Send(const Bytes& message) {
    MidiHeader header;
    header.lpData = const_cast<uint8_t*>(message.data());
    header.dwBufferLength = static_cast<uint32_t>(message.size());
    return out_->SendLong(&header);
  }

  // The port's entries for one message: buffers of 8192 bytes, the last one holding the rest.
  void ExpectReceived(const Bytes& message) {
    const auto entries = DrainPort(*in_, message.size());
    EXPECT_EQ(Join(entries), message);
    ASSERT_EQ(entries.size(), (message.size() + MidiInPort::kCaptureBufferSize - 1) /
                                  MidiInPort::kCaptureBufferSize);
    for (size_t i = 0; i + 1 < entries.size(); ++i)
      EXPECT_EQ(entries[i].size(), MidiInPort::kCaptureBufferSize);
  }

  std::unique_ptr<MidiBackend> backend_;
  std::unique_ptr<MidiInPort> in_;
  std::unique_ptr<MidiOutPort> out_;
};

TEST_F(AlsaGuestTransfer, UpdaterAndUnitClientExchangeEverySize) {
  std::string error;
  auto unit = OpenAlsaEndpoint("TELVOR Q9", &error);
  ASSERT_NE(unit, nullptr) << error;
  EndpointInbox inbox(*unit);
  OpenPorts("TELVOR Q9", "TELVOR Q9");
  uint8_t seed = 0;
  for (size_t size : kSizes) {
    SCOPED_TRACE(size);
    const Bytes request = MakeSysex(size, ++seed);
    EXPECT_EQ(Send(request), 1);
    EXPECT_EQ(inbox.Next(), request);
    const Bytes reply = MakeSysex(size, ++seed);
    ASSERT_TRUE(unit->Send(reply.data(), reply.size()));
    ExpectReceived(reply);
  }
  EXPECT_EQ(in_->PeekSysex(), nullptr);
}

TEST_F(AlsaGuestTransfer, EverySizeCrossesMidiThrough) {
  OpenPorts("Midi Through", "Midi Through");
  uint8_t seed = 10;
  for (size_t size : kSizes) {
    SCOPED_TRACE(size);
    const Bytes message = MakeSysex(size, ++seed);
    EXPECT_EQ(Send(message), 1);
    ExpectReceived(message);
  }
}

TEST_F(AlsaGuestTransfer, EverySizeComesInFromAVirtualRawPort) {
  std::string error;
  auto raw = VirtualRawPort::Open(&error);
  ASSERT_NE(raw, nullptr) << error;
  OpenPorts(raw->ClientName(), "");
  uint8_t seed = 20;
  for (size_t size : kSizes) {
    SCOPED_TRACE(size);
    // Raw bytes in: the sequencer hands them on in pieces of 256 bytes, reassembled here.
    const Bytes fromRaw = MakeSysex(size, ++seed);
    ASSERT_TRUE(raw->Write(fromRaw.data(), fromRaw.size()));
    ExpectReceived(fromRaw);
  }
}

// A card's port is written through the card's raw MIDI device. The virtual raw MIDI card stands
// in for a USB unit: what goes into its raw device comes out of its sequencer port, connected here
// to a plain client in the unit's place.
TEST_F(AlsaGuestTransfer, ACardPortIsWrittenThroughItsRawDevice) {
  std::string error;
  auto unit = PlainSeqClient::Open("Card Listener", &error);
  ASSERT_NE(unit, nullptr) << error;
  ASSERT_GE(unit->AddPort("in", false, true), 0);
  // The card's port hands a message on in 256-byte events at once, with no flow control towards
  // the listener: its pool must hold a whole message, as the virtual unit's does.
  ASSERT_GE(unit->SetInputPool(2000), 0);
  const std::string card = FirstStartingWith(DeviceNames(backend_->Out()), "Virtual Raw MIDI");
  ASSERT_NE(card, "");
  ASSERT_TRUE(ConnectSeqClients(card, "Card Listener", &error)) << error;
  OpenPorts("", card);
  uint8_t seed = 50;
  for (size_t size : kSizes) {
    SCOPED_TRACE(size);
    const Bytes message = MakeSysex(size, ++seed);
    auto received =
        std::async(std::launch::async, [&] { return unit->ReceiveSysex(kWaitLimitMs); });
    EXPECT_EQ(Send(message), 1);
    EXPECT_EQ(received.get(), message);
  }
}

// Another program holding the card's raw device (as a DAW connected to the port does) keeps the
// updater off it: the open fails at once, and succeeds once the device is free.
TEST_F(AlsaGuestTransfer, ACardPortThatAnotherProgramHoldsDoesNotOpen) {
  std::string error;
  auto holder = VirtualRawPort::Open(&error);
  ASSERT_NE(holder, nullptr) << error;
  const int index = IndexOf(DeviceNames(backend_->Out()), holder->ClientName());
  ASSERT_GE(index, 0);
  MidiOutHandle handle = 0;
  EXPECT_EQ(backend_->Out().Open(&handle, static_cast<uint32_t>(index)), MMSYSERR_ALLOCATED);
  EXPECT_EQ(out_->Open(index), 0);
  holder.reset();
  EXPECT_EQ(out_->Open(index), 1);
}

TEST_F(AlsaGuestTransfer, PlainClientsWithDefaultSettingsSendAndReceiveEverySize) {
  std::string error;
  auto peer = PlainSeqClient::Open("Plain Peer", &error);
  ASSERT_NE(peer, nullptr) << error;
  const int port = peer->AddPort("io", true, true);
  ASSERT_GE(port, 0);
  std::printf("plain client: input pool of %d cells\n", peer->InputPool());
  OpenPorts("Plain Peer", "Plain Peer");
  uint8_t seed = 30;
  for (size_t size : kSizes) {
    SCOPED_TRACE(size);
    // A whole message as one event: our client's pool and read buffer must hold all of it.
    const Bytes oneEvent = MakeSysex(size, ++seed);
    ASSERT_EQ(peer->SendOneEvent(port, oneEvent.data(), oneEvent.size()), 0);
    ExpectReceived(oneEvent);
    // Towards a receiver with the default pool, reading as it goes: whole when the pool holds
    // the message, otherwise in pieces it can take.
    const Bytes toPeer = MakeSysex(size, ++seed);
    auto received =
        std::async(std::launch::async, [&] { return peer->ReceiveSysex(kWaitLimitMs); });
    EXPECT_EQ(Send(toPeer), 1);
    EXPECT_EQ(received.get(), toPeer);
  }
}

TEST_F(AlsaGuestTransfer, AHardwarePortGetsPacedPiecesOthersOneEventPerMessage) {
  std::string error;
  auto software = PlainSeqClient::Open("Software Peer", &error);
  ASSERT_NE(software, nullptr) << error;
  ASSERT_GE(software->AddPort("in", false, true), 0);
  auto hardware = PlainSeqClient::Open("Hardware Peer", &error);
  ASSERT_NE(hardware, nullptr) << error;
  ASSERT_GE(hardware->AddPort("in", false, true, /*hardware=*/true), 0);
  const Bytes message = MakeSysex(4700, 40);
  for (auto* peer : {software.get(), hardware.get()}) {
    const bool isHardware = peer == hardware.get();
    SCOPED_TRACE(isHardware ? "hardware" : "software");
    out_->Close();
    OpenPorts("", isHardware ? "Hardware Peer" : "Software Peer");
    int events = 0;
    auto received =
        std::async(std::launch::async, [&] { return peer->ReceiveSysex(kWaitLimitMs, &events); });
    EXPECT_EQ(Send(message), 1);
    EXPECT_EQ(received.get(), message);
    EXPECT_EQ(events, isHardware ? 19 : 1);  // 4700 bytes in pieces of 256
  }
}

// Events that find the input pool full are lost, and the kernel says so (-ENOSPC): the message
// they broke is dropped, not joined across the hole; the next whole message arrives.
TEST(AlsaGuestInputLoss, AMessageWithLostEventsIsDroppedNotJoined) {
  AlsaConfig small;
  small.inputPoolCells = 20;  // 560 bytes
  std::string error;
  auto backend = OpenAlsaMidi(&error, small);
  ASSERT_NE(backend, nullptr) << error;
  auto peer = PlainSeqClient::Open("Lossy Peer", &error);
  ASSERT_NE(peer, nullptr) << error;
  const int port = peer->AddPort("out", true, false);
  ASSERT_GE(port, 0);
  MidiInPort in(backend->In());
  in.DeviceIndex = IndexOf(DeviceNames(backend->In()), "Lossy Peer");
  ASSERT_GE(in.DeviceIndex, 0);
  ASSERT_EQ(in.Open(), 1);

  // Pauses give the reader time to take in what was sent, so the order of events is fixed.
  auto settle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); };
  const Bytes head = {0xF0, 0x7D, 0x01, 0x02};
  ASSERT_EQ(peer->SendOneEvent(port, head.data(), head.size()), 0);
  settle();
  const Bytes tooLarge = MakeSysex(2000, 60);  // 72 cells: lost, and the loss is flagged
  EXPECT_LT(peer->SendOneEvent(port, tooLarge.data(), tooLarge.size()), 0);
  // The kernel reports the loss at the next read and discards what waits then: this piece.
  const Bytes discarded = {0x05, 0x06};
  ASSERT_EQ(peer->SendOneEvent(port, discarded.data(), discarded.size()), 0);
  settle();
  // Joined to the head this would pass as F0 7D 01 02 03 04 F7.
  const Bytes tail = {0x03, 0x04, 0xF7};
  ASSERT_EQ(peer->SendOneEvent(port, tail.data(), tail.size()), 0);
  const Bytes whole = MakeSysex(22, 61);
  ASSERT_EQ(peer->SendOneEvent(port, whole.data(), whole.size()), 0);
  EXPECT_EQ(DrainPort(in, whole.size()), std::vector<Bytes>{whole});
}

}  // namespace
}  // namespace kv5::guest
