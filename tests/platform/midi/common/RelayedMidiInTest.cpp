// The input layer between a driver and the port: the driver holds several buffers of its own,
// which go back to it from a thread of the layer's, pieces of one SysEx message become one buffer
// of the port's, and MIM_CLOSE reaches the port only when the driver sends it unasked. The driver
// is the recording fake.
#include "platform/midi/common/RelayedMidiIn.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "midi/MidiInPort.h"
#include "support/RecordingMidi.h"
#include "support/SysexMessage.h"

namespace kv5 {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// The fake's input services, noting the thread of every AddBuffer.
class ThreadNotingIn : public MidiInServices {
 public:
  explicit ThreadNotingIn(MidiInServices& fake) : fake_(fake) {}
  std::vector<std::thread::id> AddThreads() {
    std::lock_guard<std::mutex> hold(lock_);
    return addThreads_;
  }

  uint32_t GetNumDevs() override { return fake_.GetNumDevs(); }
  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override {
    return fake_.GetDevCaps(device, caps);
  }
  MidiResult Open(MidiInHandle* handle, uint32_t device, MidiInProc callback,
                  uintptr_t instance) override {
    return fake_.Open(handle, device, callback, instance);
  }
  MidiResult Reset(MidiInHandle handle) override { return fake_.Reset(handle); }
  MidiResult PrepareHeader(MidiInHandle handle, MidiHeader* header) override {
    return fake_.PrepareHeader(handle, header);
  }
  // From now on, the first time each buffer comes back it is refused as still queued.
  void RefuseEachHandBackOnce() {
    std::lock_guard<std::mutex> hold(lock_);
    refuseOnce_ = true;
  }
  // From now on, a buffer added from another thread than this one reaches the driver only after
  // a pause: the first for `first`, later ones for `later`, as a hand-back thread that the system
  // schedules late.
  void DelayAdditionsFromOtherThreads(std::chrono::milliseconds first,
                                      std::chrono::milliseconds later) {
    std::lock_guard<std::mutex> hold(lock_);
    delayedThread_ = std::this_thread::get_id();
    firstDelay_ = first;
    laterDelay_ = later;
  }
  MidiResult AddBuffer(MidiInHandle handle, MidiHeader* header) override {
    std::chrono::milliseconds delay{0};
    {
      std::lock_guard<std::mutex> hold(lock_);
      addThreads_.push_back(std::this_thread::get_id());
      if (refuseOnce_ && refused_.insert(header).second) return MIDIERR_STILLPLAYING;
      if (delayedThread_ && *delayedThread_ != std::this_thread::get_id()) {
        delay = delayedOnce_ ? laterDelay_ : firstDelay_;
        delayedOnce_ = true;
      }
    }
    std::this_thread::sleep_for(delay);
    return fake_.AddBuffer(handle, header);
  }
  MidiResult Start(MidiInHandle handle) override { return fake_.Start(handle); }
  MidiResult Stop(MidiInHandle handle) override { return fake_.Stop(handle); }
  MidiResult UnprepareHeader(MidiInHandle handle, MidiHeader* header) override {
    return fake_.UnprepareHeader(handle, header);
  }
  MidiResult Close(MidiInHandle handle) override { return fake_.Close(handle); }

 private:
  MidiInServices& fake_;
  std::mutex lock_;
  std::vector<std::thread::id> addThreads_;
  bool refuseOnce_ = false;
  std::set<MidiHeader*> refused_;
  std::optional<std::thread::id> delayedThread_;
  std::chrono::milliseconds firstDelay_{0};
  std::chrono::milliseconds laterDelay_{0};
  bool delayedOnce_ = false;
};

constexpr auto* Message = &test::SysexMessage;

// Buffers the layer keeps with the driver in these tests: few, so that running out shows early.
constexpr int kDriverBuffers = 4;
constexpr uint32_t kDriverBufferSize = 8192;

struct Rig {
  Rig() {
    fake.SetInputDevices({"TELVOR Q9"});
    auto noting = std::make_unique<ThreadNotingIn>(fake.In());
    driver = noting.get();
    relayed = std::make_unique<RelayedMidiIn>(std::move(noting), kDriverBuffers, kDriverBufferSize);
    port = std::make_unique<MidiInPort>(*relayed);
    port->DeviceIndex = 0;
  }
  // Delivers once the buffer is back with the driver.
  bool Deliver(const Bytes& bytes, size_t from, size_t count) {
    if (!WaitFor([&] { return !fake.QueuedInputBuffers().empty(); })) return false;
    return fake.DeliverLongData(Bytes(bytes.begin() + from, bytes.begin() + from + count));
  }
  static bool WaitFor(const std::function<bool()>& condition) {
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (!condition()) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }
  std::vector<Bytes> Entries() {
    std::vector<Bytes> entries;
    while (const SysexEntry* entry = port->PeekSysex()) {
      entries.emplace_back(entry->bytes.get(), entry->bytes.get() + entry->length);
      port->PopSysex();
    }
    return entries;
  }

  RecordingMidi fake;
  ThreadNotingIn* driver = nullptr;
  std::unique_ptr<RelayedMidiIn> relayed;
  std::unique_ptr<MidiInPort> port;
};

TEST(RelayedMidiIn, DriverBuffersGoBackFromItsOwnThreadMessagesBackToBackAndCloseDrains) {
  Rig rig;
  ASSERT_EQ(rig.port->Open(), 1);
  constexpr size_t kHeld = kDriverBuffers;
  EXPECT_EQ(rig.fake.QueuedInputBuffers().size(), kHeld);
  const size_t atOpen = rig.driver->AddThreads().size();
  // Back to back, before anything went back to the driver: none is lost.
  const Bytes reply = Message(15);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(rig.fake.DeliverLongData(reply));
  ASSERT_TRUE(Rig::WaitFor([&] { return rig.driver->AddThreads().size() == atOpen + 3; }));
  const auto threads = rig.driver->AddThreads();
  for (size_t i = atOpen; i < threads.size(); ++i)
    EXPECT_NE(threads[i], std::this_thread::get_id());

  // A message under way when the port closes comes back with its bytes, and Close completes.
  ASSERT_TRUE(Rig::WaitFor([&] { return !rig.fake.QueuedInputBuffers().empty(); }));
  ASSERT_TRUE(rig.fake.FillInput({0xF0, 0x01, 0x02}));
  rig.fake.ClearLog();
  EXPECT_EQ(rig.port->Close(), 0);
  EXPECT_EQ(rig.fake.Count("midiInClose"), 1u);
  EXPECT_FALSE(rig.fake.InputOpen());
  EXPECT_EQ(rig.Entries(), (std::vector<Bytes>{reply, reply, reply, {0xF0, 0x01, 0x02}}));
  EXPECT_EQ(rig.fake.Count("midiInUnprepareHeader"), kHeld);
}

TEST(RelayedMidiIn, ABufferTheDriverRefusesAsStillQueuedGoesBackLater) {
  Rig rig;
  ASSERT_EQ(rig.port->Open(), 1);
  rig.driver->RefuseEachHandBackOnce();
  // Twice as many messages as buffers, each waiting for one back with the driver: a refused
  // buffer given up would leave none after the first round.
  const Bytes reply = Message(15);
  for (int i = 0; i < 2 * kDriverBuffers; ++i) {
    ASSERT_TRUE(rig.Deliver(reply, 0, reply.size())) << "message " << i;
  }
  ASSERT_TRUE(Rig::WaitFor([&] { return rig.fake.QueuedInputBuffers().size() == kDriverBuffers; }));
  // The port's own delivery may still be handing the last one over.
  size_t entries = 0;
  Rig::WaitFor([&] {
    entries += rig.Entries().size();
    return entries >= 2u * kDriverBuffers;
  });
  EXPECT_EQ(entries, 2u * kDriverBuffers);
  EXPECT_EQ(rig.port->Close(), 0);
}

// A driver drops a message that arrives while it holds no buffer. Each reply here comes the
// moment the port holds the one before, as the unit answers the next request at once, while the
// buffers go back to the driver late: the port must not see a reply before its buffer is back.
TEST(RelayedMidiIn, AReplyReachesThePortOnlyOnceItsBufferIsBackWithTheDriver) {
  Rig rig;
  ASSERT_EQ(rig.port->Open(), 1);
  rig.driver->DelayAdditionsFromOtherThreads(200ms, 10ms);
  const Bytes reply = Message(15);
  for (int round = 0; round < kDriverBuffers + 2; ++round) {
    ASSERT_TRUE(rig.fake.DeliverLongData(reply)) << "reply " << round + 1 << " was dropped";
    ASSERT_TRUE(Rig::WaitFor([&] { return rig.port->PeekSysex() != nullptr; }));
    EXPECT_EQ(rig.Entries(), std::vector<Bytes>{reply});
  }
  EXPECT_EQ(rig.port->Close(), 0);
}

TEST(RelayedMidiIn, PiecesOfOneMessageBecomeOneBufferUpToAFullBuffer) {
  Rig rig;
  ASSERT_EQ(rig.port->Open(), 1);
  // The identity reply in three pieces that neither fill the buffer nor end with F7.
  const Bytes reply = Message(15);
  for (size_t at = 0; at < 15; at += 5) ASSERT_TRUE(rig.Deliver(reply, at, 5));
  ASSERT_TRUE(Rig::WaitFor([&] { return rig.port->PeekSysex() != nullptr; }));
  EXPECT_EQ(rig.Entries(), std::vector<Bytes>{reply});

  // 9000 bytes in pieces of 3000: one full buffer, then the rest as the next entry.
  const Bytes longer = Message(9000);
  for (size_t at = 0; at < 9000; at += 3000) ASSERT_TRUE(rig.Deliver(longer, at, 3000));
  ASSERT_TRUE(Rig::WaitFor([&] { return rig.port->PeekSysex() != nullptr; }));
  std::vector<Bytes> entries;
  ASSERT_TRUE(Rig::WaitFor([&] {
    for (Bytes& entry : rig.Entries()) entries.push_back(std::move(entry));
    return entries.size() == 2;
  }));
  EXPECT_EQ(entries[0], Bytes(longer.begin(), longer.begin() + 8192));
  EXPECT_EQ(entries[1], Bytes(longer.begin() + 8192, longer.end()));

  // A new message drops the unfinished pieces of the one before.
  ASSERT_TRUE(rig.Deliver(reply, 0, 5));
  ASSERT_TRUE(rig.Deliver(reply, 0, 15));
  ASSERT_TRUE(Rig::WaitFor([&] { return rig.port->PeekSysex() != nullptr; }));
  EXPECT_EQ(rig.Entries(), std::vector<Bytes>{reply});
}

std::vector<uint32_t> gMessages;
void RecordMessage(MidiInHandle, uint32_t message, uintptr_t, uintptr_t, uintptr_t) {
  gMessages.push_back(message);
}

TEST(RelayedMidiIn, AnUnaskedCloseReachesTheCallbackOnce) {
  RecordingMidi fake;
  fake.SetInputDevices({"TELVOR Q9"});
  RelayedMidiIn relayed(std::make_unique<ThreadNotingIn>(fake.In()), kDriverBuffers,
                        kDriverBufferSize);
  gMessages.clear();
  MidiInHandle handle = 0;
  ASSERT_EQ(relayed.Open(&handle, 0, &RecordMessage, 0), MMSYSERR_NOERROR);
  ASSERT_TRUE(fake.DeliverRaw(MIM_CLOSE, 0));
  ASSERT_TRUE(fake.DeliverRaw(MIM_CLOSE, 0));
  EXPECT_EQ(gMessages, std::vector<uint32_t>{MIM_CLOSE});
  EXPECT_EQ(relayed.Reset(handle), MMSYSERR_NOERROR);
  EXPECT_EQ(relayed.Close(handle), MMSYSERR_NOERROR);
}

}  // namespace
}  // namespace kv5
