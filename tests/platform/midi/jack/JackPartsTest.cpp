// The JACK backend's parts that need no server: the realtime ring, the device name rule, and the
// card port behind a bridge's port.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "platform/midi/jack/JackCardPorts.h"
#include "platform/midi/jack/JackDeviceNames.h"
#include "platform/midi/jack/SpscRing.h"

namespace kv5 {
namespace {

using ::testing::ElementsAre;

TEST(SpscRingTest, KeepsOrderAcrossTheWrapAndRefusesWhatDoesNotFit) {
  SpscRing<uint8_t> ring(10);
  EXPECT_EQ(ring.Capacity(), 16u);

  uint8_t in[16];
  for (uint8_t i = 0; i < 16; ++i) in[i] = i;
  uint8_t out[16] = {};
  // Move the indices near the end of storage so the next write wraps.
  EXPECT_EQ(ring.Write(in, 12), 12u);
  EXPECT_EQ(ring.Read(out, 12), 12u);

  EXPECT_EQ(ring.Write(in, 10), 10u);
  EXPECT_EQ(ring.Available(), 10u);
  EXPECT_EQ(ring.Free(), 6u);
  EXPECT_FALSE(ring.WriteAll(in, 7)) << "all or nothing";
  EXPECT_EQ(ring.Available(), 10u);
  EXPECT_EQ(ring.Write(in + 10, 8), 6u) << "a partial write takes what fits";
  EXPECT_EQ(ring.Free(), 0u);
  EXPECT_FALSE(ring.Push(0));

  EXPECT_EQ(ring.Read(out, 16), 16u);
  for (uint8_t i = 0; i < 16; ++i) EXPECT_EQ(out[i], i);
  EXPECT_EQ(ring.Read(out, 1), 0u);
}

TEST(SpscRingTest, ACrossThreadStreamArrivesWholeAndInOrder) {
  SpscRing<uint32_t> ring(64);
  constexpr uint32_t kCount = 200000;
  std::thread producer([&] {
    uint32_t next = 0;
    while (next < kCount) {
      uint32_t batch[7];
      uint32_t n = 0;
      while (n < 7 && next + n < kCount) {
        batch[n] = next + n;
        ++n;
      }
      next += static_cast<uint32_t>(ring.Write(batch, n));
    }
  });
  uint32_t expected = 0;
  bool inOrder = true;
  while (expected < kCount) {
    uint32_t batch[5];
    const size_t n = ring.Read(batch, 5);
    for (size_t i = 0; i < n; ++i) inOrder = inOrder && batch[i] == expected++;
  }
  producer.join();
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(ring.Available(), 0u);
}

std::vector<std::string> Names(const std::vector<JackDevice>& devices) {
  std::vector<std::string> names;
  for (const auto& device : devices) names.push_back(device.name);
  return names;
}

TEST(JackDeviceNamesTest, ClientNameAloneOnlyWhenItHasOnePort) {
  const auto devices = NameJackDevices({"synth:out 2", "TELVOR Q9:midi_out", "synth:out 1",
                                        "a2j:Midi Through [14] (capture): Port-0"});
  // Grouped by client name; a client's ports keep the server's order.
  EXPECT_THAT(Names(devices), ElementsAre("TELVOR Q9", "a2j", "synth:out 2", "synth:out 1"));
  EXPECT_EQ(devices[0].port, "TELVOR Q9:midi_out");
  EXPECT_EQ(devices[1].port, "a2j:Midi Through [14] (capture): Port-0");
  EXPECT_EQ(devices[3].port, "synth:out 1");
  EXPECT_TRUE(NameJackDevices({}).empty());
}

TEST(JackDeviceNamesTest, NamesAreCutToTheCapabilityRecordWithoutBreakingCharacters) {
  const auto devices = NameJackDevices(
      {"An unusually verbose client name:midi_out", "Überlanger Klientenname mitt Ümlauten:x"});
  // The 31st byte is the first of the two of 'Ü': the name ends before it.
  EXPECT_THAT(Names(devices),
              ElementsAre("An unusually verbose client nam", "Überlanger Klientenname mitt "));
  EXPECT_EQ(Names(devices)[0].size(), 31u);
  EXPECT_EQ(TruncateUtf8("ab\xC3\x9C", 3), "ab");
  EXPECT_EQ(TruncateUtf8("ab\xC3\x9C", 4), "ab\xC3\x9C");
  EXPECT_EQ(TruncateUtf8("short", 31), "short");
}

TEST(JackCardPortsTest, TheBridgesNamesTellTheCardPort) {
  // jackd's own raw MIDI bridge: card 1, device 0, subdevice 0, counted from 1 in the alias.
  EXPECT_EQ(ParseRawBridgeAlias("system:2-1 TELVOR Q9 1 out"), (CardPortAddress{1, 0, 0}));
  EXPECT_EQ(ParseRawBridgeAlias("system:3-2 Q9 Interface MIDI 2 in"), (CardPortAddress{2, 1, 1}));
  EXPECT_EQ(ParseRawBridgeAlias("system:playback_1"), std::nullopt);
  // a2jmidid: the sequencer client's number in brackets; a2jmidid -u leaves it out.
  const auto a2j = ParseA2jPortName("a2j:TELVOR Q9 [20] (playback): TELVOR Q9 MIDI 1");
  ASSERT_TRUE(a2j.has_value());
  EXPECT_EQ(a2j->client, 20);
  EXPECT_EQ(a2j->port, "TELVOR Q9 MIDI 1");
  EXPECT_EQ(ParseA2jPortName("a2j:TELVOR Q9 (playback): TELVOR Q9 MIDI 1"), std::nullopt);
  EXPECT_EQ(ParseA2jPortName("TELVOR Q9:MIDI In"), std::nullopt);
}

}  // namespace
}  // namespace kv5
