#include "midi/MidiInPort.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "support/RecordingMidi.h"

namespace kv5 {
namespace {

using Bytes = std::vector<uint8_t>;
using ::testing::ElementsAre;

const Bytes kIdentityReply = {0xF0, 0x7E, 0x10, 0x06, 0x02, 0x7D, 0x01, 0x02,
                              0x03, 0x04, 0x01, 0x02, 0x03, 0x04, 0xF7};

Bytes EntryBytes(const SysexEntry* entry) {
  return Bytes(entry->bytes.get(), entry->bytes.get() + entry->length);
}

class MidiInPortTest : public ::testing::Test {
 protected:
  MidiInPortTest() { fake.SetInputDevices({"first", "TELVOR Q9", "third"}); }

  // Opens device 1 and forgets the calls that took.
  void OpenPort() {
    port.DeviceIndex = 1;
    ASSERT_EQ(port.Open(), 1);
    fake.ClearLog();
  }
  MidiHeader* Capture() {
    auto queued = fake.QueuedInputBuffers();
    return queued.empty() ? nullptr : queued.front();
  }

  RecordingMidi fake;
  MidiInPort port{fake.In()};
};

TEST_F(MidiInPortTest, OpenQueuesOneCaptureBufferAndStartsTheDevice) {
  port.DeviceIndex = 1;
  ASSERT_EQ(port.Open(), 1);
  EXPECT_TRUE(port.IsOpen());
  const auto calls = fake.Calls();
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[0].name, "midiInOpen");
  EXPECT_EQ(calls[0].args, (std::vector<uintptr_t>{1, reinterpret_cast<uintptr_t>(&port)}));
  EXPECT_THAT(fake.CallNames(), ElementsAre("midiInOpen", "midiInReset", "midiInPrepareHeader",
                                            "midiInAddBuffer", "midiInStart"));
  MidiHeader* header = Capture();
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(header->dwBufferLength, MidiInPort::kCaptureBufferSize);
  EXPECT_EQ(calls[2].args[1], reinterpret_cast<uintptr_t>(header));
  EXPECT_EQ(calls[3].args[1], reinterpret_cast<uintptr_t>(header));
}

TEST_F(MidiInPortTest, OpenOnAnOpenPortKeepsTheDeviceWithoutAnyCall) {
  OpenPort();
  port.DeviceIndex = 2;
  EXPECT_EQ(port.Open(), 1);
  EXPECT_TRUE(fake.Calls().empty());
  // Still the first device: its buffer is the one that captures.
  EXPECT_TRUE(fake.DeliverLongData(kIdentityReply));
  EXPECT_NE(port.PeekSysex(), nullptr);
}

TEST_F(MidiInPortTest, CloseOnAClosedPortMakesNoCall) {
  EXPECT_EQ(port.Close(), 0);
  EXPECT_EQ(port.CloseIfOpen(), 0);
  EXPECT_TRUE(fake.Calls().empty());

  OpenPort();
  EXPECT_EQ(port.Close(), 0);
  EXPECT_THAT(fake.CallNames(),
              ElementsAre("midiInStop", "midiInReset", "midiInUnprepareHeader", "midiInClose"));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(fake.InputOpen());
  fake.ClearLog();
  EXPECT_EQ(port.Close(), 0);
  EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(MidiInPortTest, CapturedMessagesBecomeEntriesInArrivalOrder) {
  OpenPort();
  MidiHeader* header = Capture();
  // A 15-byte identity reply: one entry, bytes unchanged; the buffer goes straight back.
  ASSERT_TRUE(fake.DeliverLongData(kIdentityReply));
  const SysexEntry* entry = port.PeekSysex();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->length, 15u);
  EXPECT_EQ(EntryBytes(entry), kIdentityReply);
  EXPECT_THAT(fake.CallNames(), ElementsAre("midiInPrepareHeader", "midiInAddBuffer"));
  EXPECT_EQ(fake.Calls()[1].args[1], reinterpret_cast<uintptr_t>(header));
  EXPECT_EQ(Capture(), header);

  // Back to back: two entries in order; two pops empty the queue; a third changes nothing.
  const Bytes second = {0xF0, 0x7D, 0x01, 0x00, 0xF7};
  ASSERT_TRUE(fake.DeliverLongData(second));
  EXPECT_EQ(EntryBytes(port.PeekSysex()), kIdentityReply);
  EXPECT_EQ(port.PopSysex(), 0);
  EXPECT_EQ(EntryBytes(port.PeekSysex()), second);
  EXPECT_EQ(port.PopSysex(), 0);
  EXPECT_EQ(port.PeekSysex(), nullptr);
  EXPECT_EQ(port.PopSysex(), 0);
  EXPECT_EQ(port.PeekSysex(), nullptr);
}

TEST_F(MidiInPortTest, BuffersWithoutDataOrNotDoneAreNotQueuedAgain) {
  // Zero bytes recorded, as a reset hands an empty buffer back.
  OpenPort();
  ASSERT_TRUE(fake.DeliverLongData({}));
  EXPECT_EQ(port.PeekSysex(), nullptr);
  EXPECT_TRUE(fake.Calls().empty());
  EXPECT_EQ(Capture(), nullptr);
  port.Close();

  // Without the done bit.
  OpenPort();
  ASSERT_TRUE(fake.DeliverLongData(kIdentityReply, /*done=*/false));
  EXPECT_EQ(port.PeekSysex(), nullptr);
  EXPECT_TRUE(fake.Calls().empty());
  EXPECT_EQ(Capture(), nullptr);
}

TEST_F(MidiInPortTest, ShortMessagesAndNoticesAreIgnored) {
  OpenPort();
  ASSERT_TRUE(fake.DeliverShort(0x7F4090));
  ASSERT_TRUE(fake.DeliverRaw(MIM_ERROR, 0x12));
  ASSERT_TRUE(fake.DeliverRaw(MIM_OPEN, 0));
  EXPECT_EQ(port.PeekSysex(), nullptr);
  EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(MidiInPortTest, ALongErrorBufferGoesBackWithoutAnEntrySoCaptureGoesOn) {
  OpenPort();
  MidiHeader* header = Capture();
  ASSERT_TRUE(fake.DeliverLongError({0xF0, 0x7D, 0x01}));
  EXPECT_EQ(port.PeekSysex(), nullptr);
  EXPECT_THAT(fake.CallNames(), ElementsAre("midiInPrepareHeader", "midiInAddBuffer"));
  EXPECT_EQ(Capture(), header);
  ASSERT_TRUE(fake.DeliverLongData(kIdentityReply));
  ASSERT_NE(port.PeekSysex(), nullptr);
  EXPECT_EQ(EntryBytes(port.PeekSysex()), kIdentityReply);
}

TEST_F(MidiInPortTest, AMessageLongerThanTheBufferFillsAWholeEntryFirst) {
  OpenPort();
  Bytes message(9000);
  for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<uint8_t>(i & 0x7F);
  message.front() = 0xF0;
  ASSERT_TRUE(fake.DeliverLongData(message));  // the device records what fits
  const SysexEntry* entry = port.PeekSysex();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->length, 8192u);
  EXPECT_EQ(EntryBytes(entry), Bytes(message.begin(), message.begin() + 8192));
}

TEST_F(MidiInPortTest, EntriesOutliveCloseAndReopen) {
  OpenPort();
  ASSERT_TRUE(fake.DeliverLongData(kIdentityReply));
  port.Close();
  ASSERT_NE(port.PeekSysex(), nullptr);
  EXPECT_EQ(port.CloseIfOpen(), 1);  // the handle of the last device is kept
  port.DeviceIndex = 1;
  ASSERT_EQ(port.Open(), 1);
  ASSERT_NE(port.PeekSysex(), nullptr);
  EXPECT_EQ(EntryBytes(port.PeekSysex()), kIdentityReply);
}

TEST_F(MidiInPortTest, CloseDrainsAPartlyFilledBufferAndGetsItBackBeforeReleasingIt) {
  OpenPort();
  ASSERT_TRUE(fake.FillInput({0xF0, 0x7D, 0x02}));
  port.Close();
  // Stop returned the partial message, which became an entry and went back to the device; Reset
  // returned it empty, so it could be unprepared and the device closed.
  EXPECT_THAT(fake.CallNames(), ElementsAre("midiInStop", "midiInPrepareHeader", "midiInAddBuffer",
                                            "midiInReset", "midiInUnprepareHeader", "midiInClose"));
  ASSERT_NE(port.PeekSysex(), nullptr);
  EXPECT_EQ(EntryBytes(port.PeekSysex()), (Bytes{0xF0, 0x7D, 0x02}));
  EXPECT_FALSE(fake.InputOpen());
}

TEST_F(MidiInPortTest, AFailingCloseStepSkipsTheRestAndKeepsTheBufferAlive) {
  OpenPort();
  MidiHeader* header = Capture();
  fake.SetResultOnce("midiInReset", MMSYSERR_ERROR);
  EXPECT_EQ(port.Close(), 0);
  EXPECT_THAT(fake.CallNames(), ElementsAre("midiInStop", "midiInReset"));
  EXPECT_FALSE(port.IsOpen());
  // The device still holds the buffer and may still fill it: it must not have been released.
  ASSERT_EQ(Capture(), header);
  EXPECT_TRUE(fake.DeliverLongData(kIdentityReply));
  ASSERT_NE(port.PeekSysex(), nullptr);
}

TEST_F(MidiInPortTest, AFailedOpenReleasesWhatItAcquired) {
  // The device does not open: nothing else is tried.
  fake.SetResultOnce("midiInOpen", MMSYSERR_ALLOCATED);
  port.DeviceIndex = 1;
  EXPECT_EQ(port.Open(), 0);
  EXPECT_THAT(fake.CallNames(), ElementsAre("midiInOpen"));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Close(), 0);

  // A later step fails: the buffer is taken back and the device closed again.
  for (const char* failing :
       {"midiInReset", "midiInPrepareHeader", "midiInAddBuffer", "midiInStart"}) {
    fake.ClearLog();
    fake.SetResultOnce(failing, MMSYSERR_NOMEM);
    EXPECT_EQ(port.Open(), 0) << failing;
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(fake.InputOpen()) << failing;
    EXPECT_TRUE(fake.QueuedInputBuffers().empty()) << failing;
    const auto names = fake.CallNames();
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names.back(), "midiInClose") << failing;
    if (std::string(failing) == "midiInStart") {
      EXPECT_THAT(
          names, ElementsAre("midiInOpen", "midiInReset", "midiInPrepareHeader", "midiInAddBuffer",
                             "midiInStart", "midiInReset", "midiInUnprepareHeader", "midiInClose"));
    }
  }
  // The device is free again.
  fake.ClearLog();
  EXPECT_EQ(port.Open(), 1);
}

TEST_F(MidiInPortTest, DeviceNamesFitTheCallersField) {
  fake.SetInputDevices({"TELVOR Q9", "A name far longer than thirty-one characters"});
  EXPECT_EQ(port.GetDeviceCount(), 2);
  char name[MidiInPort::kDeviceNameCapacity];
  std::memset(name, 'x', sizeof name);
  EXPECT_EQ(port.GetDeviceName(0, name), 1);
  EXPECT_STREQ(name, "TELVOR Q9");

  // A record filled to its last byte without a zero: 31 characters and a zero, nothing beyond.
  fake.SetUnterminatedNames(true);
  std::memset(name, 'x', sizeof name);
  port.GetDeviceName(1, name);
  EXPECT_EQ(std::string(name), std::string("A name far longer than thirty-one").substr(0, 31));
  for (size_t i = 32; i < sizeof name; ++i) EXPECT_EQ(name[i], 'x');

  std::memset(name, 'x', sizeof name);
  EXPECT_EQ(port.GetDeviceName(7, name), 0);
  EXPECT_STREQ(name, "");
}

TEST_F(MidiInPortTest, InputThreadAndConsumerShareTheQueue) {
  OpenPort();
  constexpr int kMessages = 500;
  std::thread input([&] {
    for (int i = 0; i < kMessages; ++i) {
      while (!fake.DeliverLongData({0xF0, static_cast<uint8_t>(i & 0x7F), 0xF7})) {
        std::this_thread::yield();
      }
    }
  });
  int popped = 0;
  while (popped < kMessages) {
    const SysexEntry* entry = port.PeekSysex();
    if (entry == nullptr) {
      std::this_thread::yield();
      continue;
    }
    EXPECT_EQ(entry->bytes[1], popped & 0x7F);
    port.PopSysex();
    ++popped;
  }
  input.join();
  EXPECT_EQ(port.PeekSysex(), nullptr);
}

}  // namespace
}  // namespace kv5
