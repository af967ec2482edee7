#include "platform/midi/loopback/LoopbackMidi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kv5 {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// A receiver that can be held inside its call until released.
class Gate {
 public:
  void Enter(const uint8_t* bytes, size_t length) {
    std::unique_lock<std::mutex> hold(lock_);
    received_.emplace_back(bytes, bytes + length);
    inside_ = true;
    changed_.notify_all();
    changed_.wait(hold, [this] { return open_; });
    inside_ = false;
  }
  void Open() {
    std::lock_guard<std::mutex> hold(lock_);
    open_ = true;
    changed_.notify_all();
  }
  bool WaitInside() {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, 5s, [this] { return inside_; });
  }
  std::vector<Bytes> Received() {
    std::lock_guard<std::mutex> hold(lock_);
    return received_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool open_ = false;
  bool inside_ = false;
  std::vector<Bytes> received_;
};

struct Header {
  explicit Header(Bytes message) : bytes(std::move(message)) {
    header.lpData = bytes.data();
    header.dwBufferLength = static_cast<uint32_t>(bytes.size());
  }
  Bytes bytes;
  MidiHeader header;
};

TEST(LoopbackMidi, DevicesAppearInBothListsInTheOrderAdded) {
  LoopbackMidi midi;
  EXPECT_EQ(midi.In().GetNumDevs(), 0u);
  midi.AddDevice("TELVOR Q9");
  midi.AddDevice("A device whose name is longer than the record holds");
  ASSERT_EQ(midi.In().GetNumDevs(), 2u);
  ASSERT_EQ(midi.Out().GetNumDevs(), 2u);
  MidiDeviceCaps caps;
  ASSERT_EQ(midi.Out().GetDevCaps(0, &caps), MMSYSERR_NOERROR);
  EXPECT_STREQ(caps.szPname, "TELVOR Q9");
  ASSERT_EQ(midi.In().GetDevCaps(1, &caps), MMSYSERR_NOERROR);
  EXPECT_EQ(std::string(caps.szPname),
            std::string("A device whose name is longer than").substr(0, 31));
  EXPECT_EQ(midi.In().GetDevCaps(2, &caps), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(midi.Name(), "loopback");
}

TEST(LoopbackMidi, EachDeviceOpensOnceInEachDirection) {
  LoopbackMidi midi;
  midi.AddDevice("one");
  MidiOutHandle out = 0, second = 0;
  ASSERT_EQ(midi.Out().Open(&out, 0), MMSYSERR_NOERROR);
  EXPECT_NE(out, 0u);
  EXPECT_EQ(midi.Out().Open(&second, 0), MMSYSERR_ALLOCATED);
  EXPECT_EQ(midi.Out().Open(&second, 1), MMSYSERR_BADDEVICEID);
  ASSERT_EQ(midi.Out().Close(out), MMSYSERR_NOERROR);
  EXPECT_EQ(midi.Out().Close(out), MMSYSERR_INVALHANDLE);
  // The default output is the first device.
  ASSERT_EQ(midi.Out().Open(&second, MIDI_MAPPER), MMSYSERR_NOERROR);
  EXPECT_EQ(midi.Out().Close(second), MMSYSERR_NOERROR);

  auto proc = [](MidiInHandle, uint32_t, uintptr_t, uintptr_t, uintptr_t) {};
  MidiInHandle in = 0, other = 0;
  ASSERT_EQ(midi.In().Open(&in, 0, proc, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(midi.In().Open(&other, 0, proc, 0), MMSYSERR_ALLOCATED);
  EXPECT_EQ(midi.In().Close(in), MMSYSERR_NOERROR);
  EXPECT_EQ(midi.In().Start(in), MMSYSERR_INVALHANDLE);
}

TEST(LoopbackMidi, OutputReachesTheReceiverOnAThreadOfItsOwnAndIsDoneAfterwards) {
  LoopbackMidi midi;
  MidiEndpoint& endpoint = midi.AddDevice("unit");
  Gate gate;
  std::atomic<std::thread::id> receiverThread{};
  endpoint.SetReceiver([&](const uint8_t* bytes, size_t length) {
    receiverThread = std::this_thread::get_id();
    gate.Enter(bytes, length);
  });
  MidiOutHandle out = 0;
  ASSERT_EQ(midi.Out().Open(&out, 0), MMSYSERR_NOERROR);
  Header message({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7});
  EXPECT_EQ(midi.Out().LongMsg(out, &message.header), MIDIERR_UNPREPARED);
  ASSERT_EQ(midi.Out().PrepareHeader(out, &message.header), MMSYSERR_NOERROR);
  ASSERT_EQ(midi.Out().LongMsg(out, &message.header), MMSYSERR_NOERROR);
  ASSERT_TRUE(gate.WaitInside());
  // While the receiver holds the message, the header is still the device's.
  EXPECT_NE(receiverThread.load(), std::this_thread::get_id());
  EXPECT_FALSE(message.header.dwFlags & MHDR_DONE);
  EXPECT_EQ(midi.Out().UnprepareHeader(out, &message.header), MIDIERR_STILLPLAYING);
  EXPECT_EQ(midi.Out().Close(out), MIDIERR_STILLPLAYING);
  gate.Open();
  ASSERT_TRUE(WaitUntil([&] { return (message.header.dwFlags & MHDR_DONE) != 0; }));
  EXPECT_EQ(gate.Received(), std::vector<Bytes>{message.bytes});
  EXPECT_EQ(midi.Out().UnprepareHeader(out, &message.header), MMSYSERR_NOERROR);
  EXPECT_EQ(midi.Out().Close(out), MMSYSERR_NOERROR);
}

TEST(LoopbackMidi, OutputResetGivesPendingHeadersBackAndWaitsForTheOneBeingDelivered) {
  LoopbackMidi midi;
  MidiEndpoint& endpoint = midi.AddDevice("unit");
  Gate gate;
  endpoint.SetReceiver([&](const uint8_t* bytes, size_t length) { gate.Enter(bytes, length); });
  MidiOutHandle out = 0;
  ASSERT_EQ(midi.Out().Open(&out, 0), MMSYSERR_NOERROR);
  Header first({0xF0, 0x01, 0xF7}), second({0xF0, 0x02, 0xF7});
  for (Header* each : {&first, &second}) {
    ASSERT_EQ(midi.Out().PrepareHeader(out, &each->header), MMSYSERR_NOERROR);
    ASSERT_EQ(midi.Out().LongMsg(out, &each->header), MMSYSERR_NOERROR);
  }
  ASSERT_TRUE(gate.WaitInside());
  std::atomic<bool> resetReturned{false};
  std::thread resetter([&] {
    midi.Out().Reset(out);
    resetReturned = true;
  });
  // The second header comes back undelivered at once; the first only when its delivery ends.
  ASSERT_TRUE(WaitUntil([&] { return (second.header.dwFlags & MHDR_DONE) != 0; }));
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(resetReturned);
  gate.Open();
  resetter.join();
  EXPECT_TRUE(first.header.dwFlags & MHDR_DONE);
  EXPECT_EQ(gate.Received(), std::vector<Bytes>{first.bytes});
  EXPECT_EQ(midi.Out().UnprepareHeader(out, &second.header), MMSYSERR_NOERROR);
  EXPECT_EQ(midi.Out().Close(out), MMSYSERR_NOERROR);
}

TEST(LoopbackMidi, EndpointSendsToTheHostInputOnlyWhileItIsOpen) {
  LoopbackMidi midi;
  MidiEndpoint& endpoint = midi.AddDevice("unit");
  EXPECT_EQ(endpoint.Name(), "unit");
  const Bytes message = {0xF0, 0x7D, 0x01, 0xF7};
  EXPECT_TRUE(endpoint.Send(message.data(), message.size()));  // nobody listens: dropped

  struct Seen {
    std::mutex lock;
    std::vector<Bytes> messages;
  } seen;
  auto proc = [](MidiInHandle, uint32_t message, uintptr_t instance, uintptr_t param1, uintptr_t) {
    auto* header = reinterpret_cast<MidiHeader*>(param1);
    if (message != MIM_LONGDATA || header->dwBytesRecorded == 0) return;
    auto* into = reinterpret_cast<Seen*>(instance);
    std::lock_guard<std::mutex> hold(into->lock);
    into->messages.emplace_back(header->lpData, header->lpData + header->dwBytesRecorded);
  };
  MidiInHandle in = 0;
  ASSERT_EQ(midi.In().Open(&in, 0, proc, reinterpret_cast<uintptr_t>(&seen)), MMSYSERR_NOERROR);
  uint8_t storage[64];
  MidiHeader header;
  header.lpData = storage;
  header.dwBufferLength = sizeof storage;
  ASSERT_EQ(midi.In().PrepareHeader(in, &header), MMSYSERR_NOERROR);
  ASSERT_EQ(midi.In().AddBuffer(in, &header), MMSYSERR_NOERROR);
  ASSERT_EQ(midi.In().Start(in), MMSYSERR_NOERROR);
  EXPECT_EQ(midi.In().Close(in), MIDIERR_STILLPLAYING);
  EXPECT_TRUE(endpoint.Send(message.data(), message.size()));
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> hold(seen.lock);
    return !seen.messages.empty();
  }));
  ASSERT_EQ(midi.In().Stop(in), MMSYSERR_NOERROR);
  ASSERT_EQ(midi.In().Reset(in), MMSYSERR_NOERROR);
  ASSERT_EQ(midi.In().UnprepareHeader(in, &header), MMSYSERR_NOERROR);
  ASSERT_EQ(midi.In().Close(in), MMSYSERR_NOERROR);
  EXPECT_TRUE(endpoint.Send(message.data(), message.size()));
  std::lock_guard<std::mutex> hold(seen.lock);
  EXPECT_EQ(seen.messages, std::vector<Bytes>{message});
}

}  // namespace
}  // namespace kv5
