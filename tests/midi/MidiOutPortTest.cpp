#include "midi/MidiOutPort.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "support/RecordingMidi.h"

namespace kv5 {
namespace {

using Bytes = std::vector<uint8_t>;
using ::testing::ElementsAre;
using namespace std::chrono_literals;

struct Message {
  explicit Message(Bytes message) : bytes(std::move(message)) {
    header.lpData = bytes.data();
    header.dwBufferLength = static_cast<uint32_t>(bytes.size());
  }
  uintptr_t Address() const { return reinterpret_cast<uintptr_t>(&header); }
  Bytes bytes;
  MidiHeader header;
};

class MidiOutPortTest : public ::testing::Test {
 protected:
  MidiOutPortTest() { fake.SetOutputDevices({"first", "TELVOR Q9", "third"}); }

  void OpenPort(int index = 1) {
    ASSERT_EQ(port.Open(index), 1);
    fake.ClearLog();
  }

  RecordingMidi fake;
  MidiOutPort port{fake.Out(), /*completionLimitMs=*/2000};
};

TEST_F(MidiOutPortTest, OpenTheSameIndexAgainMakesNoCall) {
  ASSERT_EQ(port.Open(1), 1);
  EXPECT_THAT(fake.CallNames(), ElementsAre("midiOutOpen"));
  EXPECT_EQ(fake.Calls()[0].args, std::vector<uintptr_t>{1});
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.DeviceIndex(), 1);
  fake.ClearLog();
  EXPECT_EQ(port.Open(1), 1);
  EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(MidiOutPortTest, OpenAnotherIndexClosesFirstAndAFailureLeavesThePortClosed) {
  OpenPort(1);
  ASSERT_EQ(port.Open(2), 1);
  EXPECT_THAT(fake.CallNames(), ElementsAre("midiOutClose", "midiOutOpen"));
  EXPECT_EQ(port.DeviceIndex(), 2);

  fake.ClearLog();
  EXPECT_EQ(port.Open(7), 0);  // no such device
  EXPECT_THAT(fake.CallNames(), ElementsAre("midiOutClose", "midiOutOpen"));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.DeviceIndex(), 7);
  fake.ClearLog();
  EXPECT_EQ(port.Close(), 0);
  EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(MidiOutPortTest, CloseOnAClosedPortMakesNoCall) {
  EXPECT_EQ(port.Close(), 0);
  EXPECT_TRUE(fake.Calls().empty());
  OpenPort();
  EXPECT_EQ(port.Close(), 1);
  EXPECT_THAT(fake.CallNames(), ElementsAre("midiOutClose"));
  fake.ClearLog();
  EXPECT_EQ(port.Close(), 0);
  EXPECT_TRUE(fake.Calls().empty());
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(MidiOutPortTest, TheUnselectedIndexReachesTheServicesAsTheDefaultOutput) {
  ASSERT_EQ(port.Open(-1), 1);
  ASSERT_EQ(fake.Calls().size(), 1u);
  EXPECT_EQ(fake.Calls()[0].args[0], static_cast<uintptr_t>(MIDI_MAPPER));
  EXPECT_EQ(port.DeviceIndex(), -1);
}

TEST_F(MidiOutPortTest, SendOnAClosedPortFailsWithoutAnyCall) {
  Message message({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7});
  EXPECT_EQ(port.SendLong(&message.header), 0);
  EXPECT_TRUE(fake.Calls().empty());
  EXPECT_EQ(message.header.dwFlags.load(), 0u);
}

TEST_F(MidiOutPortTest, ASentMessageIsPreparedSentWaitedForAndUnprepared) {
  OpenPort();
  Message message({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7});
  EXPECT_EQ(port.SendLong(&message.header), 1);
  const auto calls = fake.Calls();
  EXPECT_THAT(fake.CallNames(),
              ElementsAre("midiOutPrepareHeader", "midiOutLongMsg", "midiOutUnprepareHeader"));
  for (const auto& call : calls) EXPECT_EQ(call.args[1], message.Address());
  EXPECT_EQ(fake.SentMessages(), std::vector<Bytes>{message.bytes});
  EXPECT_FALSE(message.header.dwFlags & MHDR_PREPARED);
}

TEST_F(MidiOutPortTest, AFailedPrepareOrLongMsgReturnsAtOnce) {
  OpenPort();
  fake.SetOutputCompletion(OutputCompletion::Never);  // a wait would last the whole limit
  Message message({0xF0, 0x01, 0xF7});

  fake.SetResultOnce("midiOutPrepareHeader", MMSYSERR_NOMEM);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port.SendLong(&message.header), 0);
  EXPECT_THAT(fake.CallNames(), ElementsAre("midiOutPrepareHeader"));

  fake.ClearLog();
  fake.SetResultOnce("midiOutLongMsg", MIDIERR_NOTREADY);
  EXPECT_EQ(port.SendLong(&message.header), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
  // The header the device never took is unprepared again.
  EXPECT_THAT(fake.CallNames(),
              ElementsAre("midiOutPrepareHeader", "midiOutLongMsg", "midiOutUnprepareHeader"));
  EXPECT_TRUE(fake.SentMessages().empty());
}

TEST_F(MidiOutPortTest, ADeviceThatNeverFinishesGetsTheBufferTakenBack) {
  MidiOutPort bounded(fake.Out(), /*completionLimitMs=*/40);
  ASSERT_EQ(bounded.Open(0), 1);
  fake.ClearLog();
  fake.SetOutputCompletion(OutputCompletion::Never);
  Message message({0xF0, 0x7D, 0x01, 0xF7});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(bounded.SendLong(&message.header), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 40ms);
  EXPECT_THAT(fake.CallNames(), ElementsAre("midiOutPrepareHeader", "midiOutLongMsg",
                                            "midiOutReset", "midiOutUnprepareHeader"));
  EXPECT_EQ(fake.PendingOutput(), 0u);
  EXPECT_FALSE(message.header.dwFlags & (MHDR_INQUEUE | MHDR_PREPARED));
  // The device holds nothing of the caller's, so it closes cleanly.
  fake.ClearLog();
  EXPECT_EQ(bounded.Close(), 1);
  EXPECT_EQ(bounded.Open(0), 1);
}

TEST_F(MidiOutPortTest, ASendWaitsForTheDeviceToFinish) {
  OpenPort();
  fake.SetOutputCompletion(OutputCompletion::Manual);
  Message message({0xF0, 0x02, 0xF7});
  std::atomic<int> result{-1};
  std::thread sender([&] { result = port.SendLong(&message.header); });
  ASSERT_TRUE(fake.WaitForCalls("midiOutLongMsg", 1, 5s));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(fake.Count("midiOutUnprepareHeader"), 0u);
  EXPECT_EQ(fake.CompleteOutput(), 1u);
  sender.join();
  EXPECT_EQ(result, 1);
}

TEST_F(MidiOutPortTest, TwoSendersAreSerialised) {
  OpenPort();
  fake.SetOutputCompletion(OutputCompletion::Manual);
  Message first({0xF0, 0x01, 0xF7}), second({0xF0, 0x02, 0xF7});
  std::thread a([&] { EXPECT_EQ(port.SendLong(&first.header), 1); });
  ASSERT_TRUE(fake.WaitForCalls("midiOutLongMsg", 1, 5s));
  std::thread b([&] { EXPECT_EQ(port.SendLong(&second.header), 1); });
  std::this_thread::sleep_for(30ms);
  // The second message is not even prepared while the first is with the device.
  EXPECT_EQ(fake.Count("midiOutPrepareHeader"), 1u);
  fake.CompleteOutput();
  ASSERT_TRUE(fake.WaitForCalls("midiOutLongMsg", 2, 5s));
  fake.CompleteOutput();
  a.join();
  b.join();
  const auto calls = fake.Calls();
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_THAT(fake.CallNames(),
              ElementsAre("midiOutPrepareHeader", "midiOutLongMsg", "midiOutUnprepareHeader",
                          "midiOutPrepareHeader", "midiOutLongMsg", "midiOutUnprepareHeader"));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(calls[i].args[1], first.Address());
  for (int i = 3; i < 6; ++i) EXPECT_EQ(calls[i].args[1], second.Address());
}

TEST_F(MidiOutPortTest, ACloseDuringASendTakesEffectAfterIt) {
  OpenPort();
  fake.SetOutputCompletion(OutputCompletion::Manual);
  Message message({0xF0, 0x03, 0xF7});
  std::thread sender([&] { EXPECT_EQ(port.SendLong(&message.header), 1); });
  ASSERT_TRUE(fake.WaitForCalls("midiOutLongMsg", 1, 5s));
  std::thread closer([&] { EXPECT_EQ(port.Close(), 1); });
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(fake.Count("midiOutClose"), 0u);
  EXPECT_TRUE(port.IsOpen());  // readable while a send is under way
  fake.CompleteOutput();
  sender.join();
  closer.join();
  EXPECT_THAT(fake.CallNames(), ElementsAre("midiOutPrepareHeader", "midiOutLongMsg",
                                            "midiOutUnprepareHeader", "midiOutClose"));
}

TEST_F(MidiOutPortTest, DeviceNamesFitTheCallersField) {
  EXPECT_EQ(port.GetDeviceCount(), 3);
  char name[MidiOutPort::kDeviceNameCapacity];
  std::memset(name, 'x', sizeof name);
  EXPECT_EQ(port.GetDeviceName(1, name), 1);
  EXPECT_STREQ(name, "TELVOR Q9");
  fake.SetOutputDevices({"0123456789012345678901234567890123456789"});
  fake.SetUnterminatedNames(true);
  std::memset(name, 'x', sizeof name);
  port.GetDeviceName(0, name);
  EXPECT_STREQ(name, "0123456789012345678901234567890");
  for (size_t i = 32; i < sizeof name; ++i) EXPECT_EQ(name[i], 'x');
  fake.SetResultOnce("midiOutGetDevCaps", MMSYSERR_NOMEM);
  EXPECT_EQ(port.GetDeviceName(0, name), 0);
  EXPECT_STREQ(name, "");
}

}  // namespace
}  // namespace kv5
