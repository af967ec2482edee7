// The ports over the in-process loopback devices: what one side sends, the other receives whole.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "midi/MidiInPort.h"
#include "midi/MidiOutPort.h"
#include "platform/midi/loopback/LoopbackMidi.h"

namespace kv5 {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

Bytes Sysex(size_t length, uint8_t seed) {
  Bytes bytes(length);
  bytes.front() = 0xF0;
  for (size_t i = 1; i + 1 < length; ++i) bytes[i] = static_cast<uint8_t>((seed * 31 + i) & 0x7F);
  bytes.back() = 0xF7;
  return bytes;
}

class LoopbackPortsTest : public ::testing::Test {
 protected:
  LoopbackPortsTest() : unit(midi.AddDevice("TELVOR Q9")) {
    unit.SetReceiver([this](const uint8_t* bytes, size_t length) {
      std::lock_guard<std::mutex> hold(lock);
      received.emplace_back(bytes, bytes + length);
    });
  }

  void OpenPorts() {
    in.DeviceIndex = 0;
    ASSERT_EQ(in.Open(), 1);
    ASSERT_EQ(out.Open(0), 1);
  }

  int Send(const Bytes& bytes) {
    MidiHeader header;
    header.lpData = const_cast<uint8_t*>(bytes.data());
    header.dwBufferLength = static_cast<uint32_t>(bytes.size());
    return out.SendLong(&header);
  }

  // Waits until the input queue holds count entries and takes them.
  std::vector<Bytes> TakeEntries(size_t count) {
    std::vector<Bytes> entries;
    const auto limit = std::chrono::steady_clock::now() + 5s;
    while (entries.size() < count && std::chrono::steady_clock::now() < limit) {
      const SysexEntry* entry = in.PeekSysex();
      if (entry == nullptr) {
        std::this_thread::sleep_for(1ms);
        continue;
      }
      entries.emplace_back(entry->bytes.get(), entry->bytes.get() + entry->length);
      in.PopSysex();
    }
    return entries;
  }

  std::vector<Bytes> Received() {
    std::lock_guard<std::mutex> hold(lock);
    return received;
  }

  LoopbackMidi midi;
  MidiEndpoint& unit;
  MidiInPort in{midi.In()};
  MidiOutPort out{midi.Out()};
  std::mutex lock;
  std::vector<Bytes> received;
};

TEST_F(LoopbackPortsTest, MessagesOfEverySizeCrossByteExactInBothDirections) {
  OpenPorts();
  for (size_t length : {6u, 22u, 4700u, 20000u}) {
    const Bytes message = Sysex(length, static_cast<uint8_t>(length));
    // Host to unit: the send returns once the unit has the message.
    ASSERT_EQ(Send(message), 1) << length;
    auto got = Received();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), message) << length;

    // Unit to host: one entry per filled capture buffer, together the whole message.
    ASSERT_TRUE(unit.Send(message.data(), message.size()));
    const size_t parts =
        (length + MidiInPort::kCaptureBufferSize - 1) / MidiInPort::kCaptureBufferSize;
    const auto entries = TakeEntries(parts);
    ASSERT_EQ(entries.size(), parts) << length;
    Bytes joined;
    for (const auto& entry : entries) {
      EXPECT_LE(entry.size(), MidiInPort::kCaptureBufferSize);
      joined.insert(joined.end(), entry.begin(), entry.end());
    }
    EXPECT_EQ(joined, message) << length;
  }
  EXPECT_EQ(in.PeekSysex(), nullptr);
}

TEST_F(LoopbackPortsTest, TwoMessagesBackToBackBecomeTwoEntriesInOrder) {
  OpenPorts();
  const Bytes first = Sysex(15, 1), second = Sysex(6, 2);
  Bytes both = first;
  both.insert(both.end(), second.begin(), second.end());
  ASSERT_TRUE(unit.Send(both.data(), both.size()));
  const auto entries = TakeEntries(2);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], first);
  EXPECT_EQ(entries[1], second);
}

TEST_F(LoopbackPortsTest, ConcurrentSendersReachTheUnitOneWholeMessageAtATime) {
  OpenPorts();
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  unit.SetReceiver([&](const uint8_t* bytes, size_t length) {
    if (++inside > 1) ++overlaps;
    std::this_thread::sleep_for(200us);
    {
      std::lock_guard<std::mutex> hold(lock);
      received.emplace_back(bytes, bytes + length);
    }
    --inside;
  });
  constexpr int kEach = 40;
  auto sender = [&](uint8_t seed) {
    for (int i = 0; i < kEach; ++i) {
      EXPECT_EQ(Send(Sysex(300 + i, static_cast<uint8_t>(seed + i))), 1);
    }
  };
  std::thread a(sender, 0), b(sender, 64);
  a.join();
  b.join();
  EXPECT_EQ(overlaps, 0);
  const auto got = Received();
  ASSERT_EQ(got.size(), 2u * kEach);
  // Every message arrives whole, and each sender's messages keep their order.
  int nextA = 0, nextB = 0;
  for (const auto& message : got) {
    if (nextA < kEach && message == Sysex(300 + nextA, static_cast<uint8_t>(nextA))) {
      ++nextA;
    } else if (nextB < kEach && message == Sysex(300 + nextB, static_cast<uint8_t>(64 + nextB))) {
      ++nextB;
    } else {
      ADD_FAILURE() << "unexpected message of " << message.size() << " bytes";
    }
  }
  EXPECT_EQ(nextA, kEach);
  EXPECT_EQ(nextB, kEach);
}

TEST_F(LoopbackPortsTest, AUnitThatAnswersFromItsReceiverDoesNotBlockTheSender) {
  OpenPorts();
  const Bytes answer = {0xF0, 0x7D, 0x01, 0x00, 0xF7};
  unit.SetReceiver([&](const uint8_t*, size_t) { unit.Send(answer.data(), answer.size()); });
  ASSERT_EQ(Send(Sysex(22, 3)), 1);
  const auto entries = TakeEntries(1);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0], answer);
}

TEST_F(LoopbackPortsTest, PortsCloseAndReopenWithTrafficInFlight) {
  for (int round = 0; round < 20; ++round) {
    OpenPorts();
    const Bytes message = Sysex(100, static_cast<uint8_t>(round));
    for (int i = 0; i < 5; ++i) unit.Send(message.data(), message.size());
    ASSERT_EQ(Send(message), 1);
    in.CloseIfOpen();
    out.Close();
  }
  // Whatever was captured is whole.
  while (const SysexEntry* entry = in.PeekSysex()) {
    EXPECT_EQ(entry->length, 100u);
    in.PopSysex();
  }
}

}  // namespace
}  // namespace kv5
