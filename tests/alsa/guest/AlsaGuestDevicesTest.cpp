// Device lists and the services' semantics on the kernel's sequencer: what the ports rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "GuestRig.h"
#include "platform/midi/alsa/AlsaDeviceNames.h"
#include "platform/midi/alsa/AlsaMidi.h"
#include "platform/midi/alsa/AlsaTestPeers.h"

namespace kv5::guest {
namespace {

template <typename T, typename U>
long CountOf(const std::vector<T>& items, const U& item) {
  return std::count(items.begin(), items.end(), item);
}

TEST(AlsaGuestDevices, ListsShowOtherClientsPortsByTheNameRuleInAStableOrder) {
  std::string error;
  auto backend = OpenAlsaMidi(&error);
  ASSERT_NE(backend, nullptr) << error;
  auto unit = OpenAlsaEndpoint("TELVOR Q9", &error);
  ASSERT_NE(unit, nullptr) << error;
  auto twoPorts = PlainSeqClient::Open("Two Port Peer", &error);
  ASSERT_NE(twoPorts, nullptr) << error;
  ASSERT_GE(twoPorts->AddPort("first", true, false), 0);
  ASSERT_GE(twoPorts->AddPort("second", true, false), 0);
  ASSERT_GE(twoPorts->AddPort("sink", false, true), 0);
  auto longName = PlainSeqClient::Open("A Client Whose Name Is Far Too Long", &error);
  ASSERT_NE(longName, nullptr) << error;
  ASSERT_GE(longName->AddPort("only", true, true), 0);

  const auto in = DeviceNames(backend->In());
  const auto out = DeviceNames(backend->Out());
  for (const auto* names : {&in, &out}) {
    SCOPED_TRACE(::testing::PrintToString(*names));
    EXPECT_EQ(CountOf(*names, "Midi Through"), 1);
    EXPECT_EQ(CountOf(*names, "TELVOR Q9"), 1);
    EXPECT_EQ(CountOf(*names, "A Client Whose Name Is Far Too "), 1);
    EXPECT_NE(FirstStartingWith(*names, "Virtual Raw MIDI"), "");
    EXPECT_EQ(FirstStartingWith(*names, "TELVOR Q9 Updater"), "");  // our own client
    EXPECT_EQ(FirstStartingWith(*names, "System"), "");
    for (const std::string& name : *names) EXPECT_LE(name.size(), kMaxDeviceNameLength);
    // Ordered by client number: the kernel's clients first, then clients in order of creation.
    EXPECT_LT(IndexOf(*names, "Midi Through"),
              IndexOf(*names, FirstStartingWith(*names, "Virtual Raw MIDI")));
    EXPECT_LT(IndexOf(*names, FirstStartingWith(*names, "Virtual Raw MIDI")),
              IndexOf(*names, "TELVOR Q9"));
  }
  // Two readable ports make two "client:port" entries; one writable port shows the client.
  EXPECT_EQ(IndexOf(in, "Two Port Peer:first") + 1, IndexOf(in, "Two Port Peer:second"));
  EXPECT_EQ(CountOf(out, "Two Port Peer"), 1);
  EXPECT_EQ(IndexOf(in, "TELVOR Q9") + 1, IndexOf(in, "Two Port Peer:first"));

  // Opening devices adds private ports to our client; neither this nor another updater lists them.
  InputCollector input(backend->In(), 64);
  ASSERT_EQ(input.Open(static_cast<uint32_t>(IndexOf(in, "TELVOR Q9"))), MMSYSERR_NOERROR);
  MidiOutHandle output = 0;
  ASSERT_EQ(backend->Out().Open(&output, static_cast<uint32_t>(IndexOf(out, "TELVOR Q9"))),
            MMSYSERR_NOERROR);
  EXPECT_EQ(DeviceNames(backend->In()), in);
  EXPECT_EQ(DeviceNames(backend->Out()), out);
  auto secondUpdater = OpenAlsaMidi(&error);
  ASSERT_NE(secondUpdater, nullptr) << error;
  EXPECT_EQ(DeviceNames(secondUpdater->In()), in);
  EXPECT_EQ(DeviceNames(secondUpdater->Out()), out);
  EXPECT_EQ(backend->Out().Close(output), MMSYSERR_NOERROR);
  EXPECT_EQ(input.Close(), MMSYSERR_NOERROR);

  // Indices past the end are refused.
  MidiDeviceCaps caps;
  EXPECT_EQ(backend->In().GetDevCaps(static_cast<uint32_t>(in.size()), &caps),
            MMSYSERR_BADDEVICEID);
  MidiInHandle none = 0;
  EXPECT_EQ(backend->In().Open(
                &none, static_cast<uint32_t>(in.size()),
                [](MidiInHandle, uint32_t, uintptr_t, uintptr_t, uintptr_t) {}, 0),
            MMSYSERR_BADDEVICEID);
  EXPECT_EQ(backend->Out().Open(&output, static_cast<uint32_t>(out.size())), MMSYSERR_BADDEVICEID);

  // A client that goes away leaves the lists.
  twoPorts.reset();
  EXPECT_EQ(IndexOf(DeviceNames(backend->In()), "Two Port Peer:first"), -1);
}

TEST(AlsaGuestDevices, AnIndexOpensTheListedPortOrNothingAndAGoneDeviceFailsSends) {
  std::string error;
  auto backend = OpenAlsaMidi(&error);
  ASSERT_NE(backend, nullptr) << error;
  auto first = OpenAlsaEndpoint("TELVOR Q9", &error);
  ASSERT_NE(first, nullptr) << error;
  auto second = OpenAlsaEndpoint("TELVOR Q9", &error);
  ASSERT_NE(second, nullptr) << error;
  const auto out = DeviceNames(backend->Out());
  const int unit = IndexOf(out, "TELVOR Q9");
  EXPECT_EQ(IndexOf(out, "TELVOR Q9 (2)"), unit + 1) << ::testing::PrintToString(out);

  MidiOutHandle handle = 0;
  EXPECT_EQ(backend->Out().Open(&handle, MIDI_MAPPER), MMSYSERR_BADDEVICEID);
  ASSERT_EQ(backend->Out().Open(&handle, static_cast<uint32_t>(unit)), MMSYSERR_NOERROR);
  first.reset();
  // The unit's client has gone: the next send fails at once, and so does a new open of its index,
  // even when another client takes its number.
  MidiHeader header;
  uint8_t message[] = {0xF0, 0x7D, 0x01, 0xF7};
  header.lpData = message;
  header.dwBufferLength = sizeof message;
  MidiResult result = MMSYSERR_NOERROR;
  for (int tries = 0; tries < 200 && result == MMSYSERR_NOERROR; ++tries) {
    result = backend->Out().PrepareHeader(handle, &header);
    if (result == MMSYSERR_NOERROR) backend->Out().UnprepareHeader(handle, &header);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(result, MMSYSERR_NODRIVER);
  EXPECT_EQ(backend->Out().Close(handle), MMSYSERR_NOERROR);
  auto other = OpenAlsaEndpoint("Another Program", &error);
  ASSERT_NE(other, nullptr) << error;
  EXPECT_EQ(backend->Out().Open(&handle, static_cast<uint32_t>(unit)), MMSYSERR_BADDEVICEID);
}

// The reader resets the outputs of a unit that goes away while the owner closes them: the two
// meet on one device from two threads (a version check closes its ports at its end, just when a
// unit may be unplugged). With many outputs on one unit the reader's resets take long enough for
// the closes to meet them. Run under ThreadSanitizer in the test machine as well.
TEST(AlsaGuestDevices, AUnitThatGoesAwayWhileItsOutputsCloseLeavesNothingBehind) {
  std::string error;
  auto backend = OpenAlsaMidi(&error);
  ASSERT_NE(backend, nullptr) << error;
  MidiOutServices& out = backend->Out();
  uint8_t probe[] = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
  for (int round = 0; round < 5; ++round) {
    auto unit = OpenAlsaEndpoint("Vanishing Unit", &error);
    ASSERT_NE(unit, nullptr) << error;
    const int device = IndexOf(DeviceNames(out), "Vanishing Unit");
    ASSERT_GE(device, 0);
    std::vector<MidiOutHandle> handles(24);
    for (MidiOutHandle& handle : handles)
      ASSERT_EQ(out.Open(&handle, static_cast<uint32_t>(device)), MMSYSERR_NOERROR);
    std::thread unplug([&] { unit.reset(); });
    // The closes start as soon as the reader has begun with the vanished devices.
    MidiHeader header;
    header.lpData = probe;
    header.dwBufferLength = sizeof probe;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitLimitMs);
    while (out.PrepareHeader(handles.front(), &header) == MMSYSERR_NOERROR &&
           std::chrono::steady_clock::now() < deadline)
      header.dwFlags = 0;
    for (auto handle = handles.rbegin(); handle != handles.rend(); ++handle)
      EXPECT_EQ(out.Close(*handle), MMSYSERR_NOERROR);
    unplug.join();
  }
}

TEST(AlsaGuestDevices, InputHandsBackOneBufferPerSysexAndResetGivesBackAnEmptyOne) {
  std::string error;
  auto backend = OpenAlsaMidi(&error);
  ASSERT_NE(backend, nullptr) << error;
  auto unit = OpenAlsaEndpoint("TELVOR Q9", &error);
  ASSERT_NE(unit, nullptr) << error;
  const int device = IndexOf(DeviceNames(backend->In()), "TELVOR Q9");
  ASSERT_GE(device, 0);

  InputCollector input(backend->In(), 8192);
  ASSERT_EQ(input.Open(static_cast<uint32_t>(device)), MMSYSERR_NOERROR);
  // Two messages back to back: one buffer each, in order.
  const Bytes first = MakeSysex(22, 1);
  const Bytes second = MakeSysex(6, 2);
  ASSERT_TRUE(unit->Send(first.data(), first.size()));
  ASSERT_TRUE(unit->Send(second.data(), second.size()));
  ASSERT_TRUE(input.WaitForBytes(first.size() + second.size()));
  EXPECT_EQ(input.Entries(), (std::vector<Bytes>{first, second}));

  // A message longer than the buffer fills it and goes on in the next buffer queued.
  const Bytes large = MakeSysex(20000, 3);
  ASSERT_TRUE(unit->Send(large.data(), large.size()));
  ASSERT_TRUE(input.WaitForBytes(first.size() + second.size() + large.size()));
  const auto entries = input.Entries();
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[2].size(), 8192u);
  EXPECT_EQ(entries[3].size(), 8192u);
  EXPECT_EQ(entries[4].size(), 20000u - 2 * 8192u);
  EXPECT_EQ(Join({entries[2], entries[3], entries[4]}), large);

  // The queued buffer stays with the device: it cannot be unprepared nor the device closed.
  EXPECT_EQ(backend->In().UnprepareHeader(input.Handle(), &input.Header()), MIDIERR_STILLPLAYING);
  EXPECT_EQ(backend->In().Close(input.Handle()), MIDIERR_STILLPLAYING);
  // Reset hands it back done and empty; then the device lets go.
  EXPECT_EQ(backend->In().Reset(input.Handle()), MMSYSERR_NOERROR);
  EXPECT_EQ(input.EmptyHandBacks(), 1);
  EXPECT_TRUE(input.Header().dwFlags & MHDR_DONE);
  EXPECT_FALSE(input.Header().dwFlags & MHDR_INQUEUE);
  EXPECT_EQ(input.Close(), MMSYSERR_NOERROR);
  EXPECT_EQ(input.Entries().size(), 5u);
}

// Any client may send to our ports directly: an open input takes only what its own source sends,
// and only the system's announcements say that a device went away. A device opened after a
// close has a port number of its own, so what was still queued for the closed one stays out.
TEST(AlsaGuestDevices, InputTakesOnlyItsSourcesMessagesAndOnlyTheSystemReportsAGoneDevice) {
  std::string error;
  auto backend = OpenAlsaMidi(&error);
  ASSERT_NE(backend, nullptr) << error;
  auto unit = OpenAlsaEndpoint("TELVOR Q9", &error);
  ASSERT_NE(unit, nullptr) << error;
  EndpointInbox inbox(*unit);
  auto intruder = PlainSeqClient::Open("Intruder", &error);
  ASSERT_NE(intruder, nullptr) << error;
  const int intruderPort = intruder->AddPort("out", true, false);
  ASSERT_GE(intruderPort, 0);
  InputCollector input(backend->In(), 8192);
  ASSERT_EQ(input.Open(static_cast<uint32_t>(IndexOf(DeviceNames(backend->In()), "TELVOR Q9"))),
            MMSYSERR_NOERROR);
  MidiOutHandle output = 0;
  ASSERT_EQ(backend->Out().Open(
                &output, static_cast<uint32_t>(IndexOf(DeviceNames(backend->Out()), "TELVOR Q9"))),
            MMSYSERR_NOERROR);

  const Bytes forged = MakeSysex(15, 7);
  EXPECT_GE(
      intruder->SendToEveryPortOf("TELVOR Q9 Updater", intruderPort, forged.data(), forged.size()),
      2);
  EXPECT_GE(intruder->SendExitNoticeToEveryPortOf("TELVOR Q9 Updater", intruderPort, "TELVOR Q9"),
            2);
  const Bytes reply = MakeSysex(15, 8);
  ASSERT_TRUE(unit->Send(reply.data(), reply.size()));
  ASSERT_TRUE(input.WaitForBytes(reply.size()));
  EXPECT_EQ(input.Entries(), std::vector<Bytes>{reply});
  // The output is not taken for gone: a message still reaches the unit.
  Bytes request = MakeSysex(6, 9);
  MidiHeader header;
  header.lpData = request.data();
  header.dwBufferLength = static_cast<uint32_t>(request.size());
  ASSERT_EQ(backend->Out().PrepareHeader(output, &header), MMSYSERR_NOERROR);
  ASSERT_EQ(backend->Out().LongMsg(output, &header), MMSYSERR_NOERROR);
  EXPECT_EQ(inbox.Next(), request);
  ASSERT_TRUE(WaitHeaderDone(header.dwFlags, std::chrono::milliseconds(kWaitLimitMs)));
  EXPECT_EQ(backend->Out().UnprepareHeader(output, &header), MMSYSERR_NOERROR);
  EXPECT_EQ(backend->Out().Close(output), MMSYSERR_NOERROR);

  const auto portsBefore = intruder->PortsOf("TELVOR Q9 Updater");
  ASSERT_EQ(backend->In().Reset(input.Handle()), MMSYSERR_NOERROR);
  ASSERT_EQ(input.Close(), MMSYSERR_NOERROR);
  ASSERT_EQ(input.Open(static_cast<uint32_t>(IndexOf(DeviceNames(backend->In()), "TELVOR Q9"))),
            MMSYSERR_NOERROR);
  const auto portsAfter = intruder->PortsOf("TELVOR Q9 Updater");
  EXPECT_EQ(std::count_if(portsAfter.begin(), portsAfter.end(),
                          [&](int port) { return CountOf(portsBefore, port) == 0; }),
            1)
      << "the reopened input took the closed one's number";
}

TEST(AlsaGuestDevices, OutputReturnsAtOnceAndAStalledReceiverCannotKeepAHeader) {
  std::string error;
  auto backend = OpenAlsaMidi(&error);
  ASSERT_NE(backend, nullptr) << error;
  // A client that never reads: after one message its pool has no room for another.
  auto stalled = PlainSeqClient::Open("Stalled Receiver", &error);
  ASSERT_NE(stalled, nullptr) << error;
  ASSERT_GE(stalled->AddPort("in", false, true), 0);
  ASSERT_GE(stalled->SetInputPool(200), 0);
  const int device = IndexOf(DeviceNames(backend->Out()), "Stalled Receiver");
  ASSERT_GE(device, 0);
  MidiOutServices& out = backend->Out();
  MidiOutHandle handle = 0;
  ASSERT_EQ(out.Open(&handle, static_cast<uint32_t>(device)), MMSYSERR_NOERROR);

  auto waitUntilDone = [](const MidiHeader& header) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitLimitMs);
    while (!(header.dwFlags & MHDR_DONE) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return (header.dwFlags & MHDR_DONE) != 0;
  };
  Bytes filling = MakeSysex(5000, 4);  // 180 of the 200 cells
  MidiHeader first;
  first.lpData = filling.data();
  first.dwBufferLength = static_cast<uint32_t>(filling.size());
  EXPECT_EQ(out.LongMsg(handle, &first), MIDIERR_UNPREPARED);
  ASSERT_EQ(out.PrepareHeader(handle, &first), MMSYSERR_NOERROR);
  ASSERT_EQ(out.LongMsg(handle, &first), MMSYSERR_NOERROR);
  ASSERT_TRUE(waitUntilDone(first));
  EXPECT_EQ(out.UnprepareHeader(handle, &first), MMSYSERR_NOERROR);

  Bytes message = MakeSysex(4700, 5);
  MidiHeader header;
  header.lpData = message.data();
  header.dwBufferLength = static_cast<uint32_t>(message.size());
  ASSERT_EQ(out.PrepareHeader(handle, &header), MMSYSERR_NOERROR);
  ASSERT_EQ(out.LongMsg(handle, &header), MMSYSERR_NOERROR);
  // Returned at once: the bytes have not left, the header is still with the device.
  EXPECT_FALSE(header.dwFlags & MHDR_DONE);
  EXPECT_EQ(out.LongMsg(handle, &header), MIDIERR_STILLPLAYING);
  EXPECT_EQ(out.UnprepareHeader(handle, &header), MIDIERR_STILLPLAYING);
  EXPECT_EQ(out.Close(handle), MIDIERR_STILLPLAYING);
  // Reset gives it back done.
  EXPECT_EQ(out.Reset(handle), MMSYSERR_NOERROR);
  EXPECT_TRUE(header.dwFlags & MHDR_DONE);
  EXPECT_EQ(out.UnprepareHeader(handle, &header), MMSYSERR_NOERROR);

  // Without a Reset the header still comes back: a receiver that reads nothing is given up on.
  ASSERT_EQ(out.PrepareHeader(handle, &header), MMSYSERR_NOERROR);
  ASSERT_EQ(out.LongMsg(handle, &header), MMSYSERR_NOERROR);
  EXPECT_TRUE(waitUntilDone(header));
  EXPECT_EQ(out.UnprepareHeader(handle, &header), MMSYSERR_NOERROR);
  EXPECT_EQ(out.Close(handle), MMSYSERR_NOERROR);
  EXPECT_EQ(out.Close(handle), MMSYSERR_INVALHANDLE);
}

}  // namespace
}  // namespace kv5::guest
