#include "platform/midi/common/SysexInputBuffers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kv5 {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

struct Delivery {
  uint32_t message = 0;
  Bytes bytes;
  bool done = false;
  MidiHeader* header = nullptr;
  std::thread::id thread;
};

// Records every buffer handed back and, like the input port, queues a buffer with bytes again.
class Owner {
 public:
  explicit Owner(size_t bufferSize, size_t bufferCount = 1) {
    for (size_t i = 0; i < bufferCount; ++i) {
      storage_.push_back(std::make_unique<uint8_t[]>(bufferSize));
      auto header = std::make_unique<MidiHeader>();
      header->lpData = storage_.back().get();
      header->dwBufferLength = static_cast<uint32_t>(bufferSize);
      headers_.push_back(std::move(header));
    }
    buffers_ =
        std::make_unique<SysexInputBuffers>(7, &Owner::Proc, reinterpret_cast<uintptr_t>(this));
    raw_ = buffers_.get();
  }
  // The buffers go first: their delivery thread may be inside a callback that uses this owner.
  ~Owner() { buffers_.reset(); }

  SysexInputBuffers& Buffers() { return *buffers_; }
  void Destroy() { buffers_.reset(); }
  MidiHeader* Header(size_t i) { return headers_[i].get(); }

  void QueueAll() {
    for (auto& header : headers_) {
      ASSERT_EQ(buffers_->PrepareHeader(header.get()), MMSYSERR_NOERROR);
      ASSERT_EQ(buffers_->AddBuffer(header.get()), MMSYSERR_NOERROR);
    }
  }
  void Open() {
    QueueAll();
    ASSERT_EQ(buffers_->Start(), MMSYSERR_NOERROR);
  }
  void Feed(const Bytes& bytes) { buffers_->Feed(bytes.data(), bytes.size()); }

  bool WaitFor(size_t count, std::chrono::milliseconds limit = 5s) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, limit, [&] { return deliveries_.size() >= count; });
  }
  std::vector<Delivery> Deliveries() {
    std::lock_guard<std::mutex> hold(lock_);
    return deliveries_;
  }
  size_t Count() {
    std::lock_guard<std::mutex> hold(lock_);
    return deliveries_.size();
  }

  std::atomic<bool> requeue{true};
  std::atomic<int> callbackDelayMs{0};
  std::atomic<bool> inCallback{false};

 private:
  static void Proc(MidiInHandle handle, uint32_t message, uintptr_t instance, uintptr_t param1,
                   uintptr_t) {
    EXPECT_EQ(handle, 7u);
    reinterpret_cast<Owner*>(instance)->OnInput(message, reinterpret_cast<MidiHeader*>(param1));
  }

  void OnInput(uint32_t message, MidiHeader* header) {
    inCallback = true;
    Delivery delivery;
    delivery.message = message;
    if (header == nullptr) {  // a notice without a buffer
      EXPECT_EQ(message, MIM_CLOSE);
      {
        std::lock_guard<std::mutex> hold(lock_);
        deliveries_.push_back(delivery);
      }
      changed_.notify_all();
      inCallback = false;
      return;
    }
    delivery.bytes.assign(header->lpData, header->lpData + header->dwBytesRecorded);
    delivery.done = (header->dwFlags & MHDR_DONE) != 0;
    delivery.header = header;
    delivery.thread = std::this_thread::get_id();
    EXPECT_FALSE(header->dwFlags & MHDR_INQUEUE);
    if (callbackDelayMs > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(callbackDelayMs));
    {
      std::lock_guard<std::mutex> hold(lock_);
      deliveries_.push_back(delivery);
    }
    changed_.notify_all();
    if (requeue && header->dwBytesRecorded > 0) {
      raw_->PrepareHeader(header);
      raw_->AddBuffer(header);
    }
    inCallback = false;
  }

  std::vector<std::unique_ptr<uint8_t[]>> storage_;
  std::vector<std::unique_ptr<MidiHeader>> headers_;
  std::unique_ptr<SysexInputBuffers> buffers_;
  SysexInputBuffers* raw_ = nullptr;  // stays usable while the buffers are being destroyed
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<Delivery> deliveries_;
};

Bytes Message(size_t length, uint8_t seed) {
  Bytes bytes(length);
  bytes.front() = 0xF0;
  for (size_t i = 1; i + 1 < length; ++i) bytes[i] = static_cast<uint8_t>((seed + i * 7) & 0x7F);
  bytes.back() = 0xF7;
  return bytes;
}

TEST(SysexInputBuffers, EveryMessageBecomesOneBufferInArrivalOrder) {
  Owner owner(64);
  owner.Open();
  const Bytes first = Message(15, 1), second = Message(6, 2);
  Bytes both = first;
  both.insert(both.end(), second.begin(), second.end());
  owner.Feed(both);
  ASSERT_TRUE(owner.WaitFor(2));
  const auto got = owner.Deliveries();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].message, MIM_LONGDATA);
  EXPECT_TRUE(got[0].done);
  EXPECT_EQ(got[0].bytes, first);
  EXPECT_EQ(got[1].bytes, second);
  // The transport's thread never runs the owner's callback.
  EXPECT_NE(got[0].thread, std::this_thread::get_id());
}

TEST(SysexInputBuffers, FeedAndDeliverRunsTheCallbackOnTheFeederWhileNoneRuns) {
  Owner owner(64);
  owner.requeue = false;
  owner.Open();
  const Bytes first = Message(9, 1), second = Message(7, 2);
  Bytes both = first;
  both.insert(both.end(), second.begin(), second.end());
  owner.Buffers().FeedAndDeliver(both.data(), both.size());
  // Handed back before the call returned, on this thread; the second message waits for a buffer.
  auto got = owner.Deliveries();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].bytes, first);
  EXPECT_EQ(got[0].thread, std::this_thread::get_id());
  // The buffer comes from elsewhere: the delivery thread goes on with what waited.
  ASSERT_EQ(owner.Buffers().AddBuffer(owner.Header(0)), MMSYSERR_NOERROR);
  ASSERT_TRUE(owner.WaitFor(2));
  got = owner.Deliveries();
  EXPECT_EQ(got[1].bytes, second);
  EXPECT_NE(got[1].thread, std::this_thread::get_id());
}

TEST(SysexInputBuffers, FeedAndDeliverDuringACallbackLeavesItsBytesToTheOneDelivering) {
  Owner owner(64);
  owner.callbackDelayMs = 50;
  owner.Open();
  const Bytes first = Message(9, 3), second = Message(7, 4);
  std::thread other([&] { owner.Buffers().FeedAndDeliver(first.data(), first.size()); });
  while (!owner.inCallback) std::this_thread::yield();
  owner.Buffers().FeedAndDeliver(second.data(), second.size());
  other.join();
  // The other feeder delivered both, in order; this call returned without a callback of its own.
  const auto got = owner.Deliveries();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].bytes, first);
  EXPECT_EQ(got[1].bytes, second);
  EXPECT_EQ(got[0].thread, got[1].thread);
  EXPECT_NE(got[1].thread, std::this_thread::get_id());
}

TEST(SysexInputBuffers, MessageSplitAcrossManyFeedsIsOneBuffer) {
  Owner owner(64);
  owner.Open();
  const Bytes message = Message(40, 3);
  for (uint8_t byte : message) owner.Feed({byte});
  ASSERT_TRUE(owner.WaitFor(1));
  std::this_thread::sleep_for(20ms);
  const auto got = owner.Deliveries();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].bytes, message);
}

TEST(SysexInputBuffers, LongMessageContinuesInTheNextBuffer) {
  // Buffer queued again by the owner after each hand-back.
  {
    Owner owner(8);
    owner.Open();
    const Bytes message = Message(20, 4);
    owner.Feed(message);
    ASSERT_TRUE(owner.WaitFor(3));
    const auto got = owner.Deliveries();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].bytes, Bytes(message.begin(), message.begin() + 8));
    EXPECT_EQ(got[1].bytes, Bytes(message.begin() + 8, message.begin() + 16));
    EXPECT_EQ(got[2].bytes, Bytes(message.begin() + 16, message.end()));
    for (const auto& each : got) EXPECT_EQ(each.message, MIM_LONGDATA);
  }
  // Two buffers queued at once and not queued again: the rest waits for a buffer.
  {
    Owner owner(8, 2);
    owner.requeue = false;
    owner.Open();
    const Bytes message = Message(20, 5);
    owner.Feed(message);
    ASSERT_TRUE(owner.WaitFor(2));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(owner.Count(), 2u);
    auto got = owner.Deliveries();
    EXPECT_EQ(got[0].header, owner.Header(0));
    EXPECT_EQ(got[1].header, owner.Header(1));
    ASSERT_EQ(owner.Buffers().AddBuffer(owner.Header(0)), MMSYSERR_NOERROR);
    ASSERT_TRUE(owner.WaitFor(3));
    got = owner.Deliveries();
    EXPECT_EQ(got[2].bytes, Bytes(message.begin() + 16, message.end()));
  }
  // A message that ends exactly at the buffer's end.
  {
    Owner owner(8);
    owner.Open();
    const Bytes message = Message(8, 6);
    owner.Feed(message);
    owner.Feed(Message(6, 7));
    ASSERT_TRUE(owner.WaitFor(2));
    const auto got = owner.Deliveries();
    EXPECT_EQ(got[0].bytes, message);
    EXPECT_EQ(got[1].bytes, Message(6, 7));
  }
}

TEST(SysexInputBuffers, BytesOutsideSysexAndRealTimeBytesAreIgnored) {
  Owner owner(64);
  owner.Open();
  // A note-on, a stray end byte, clock and active sensing around and inside the message.
  owner.Feed({0x90, 0x40, 0x7F, 0xF7, 0xF8, 0xF0, 0x7D, 0xF8, 0x01, 0xFE, 0x02, 0xF7, 0xB0, 0x07});
  owner.Feed(Message(6, 8));
  ASSERT_TRUE(owner.WaitFor(2));
  const auto got = owner.Deliveries();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].bytes, (Bytes{0xF0, 0x7D, 0x01, 0x02, 0xF7}));
  EXPECT_EQ(got[1].bytes, Message(6, 8));
}

TEST(SysexInputBuffers, StatusByteInterruptingAMessageGivesALongError) {
  Owner owner(64);
  owner.Open();
  // A channel message breaks the first message; a new F0 breaks the second and starts a third.
  owner.Feed({0xF0, 0x01, 0x02, 0x90, 0x40, 0x7F, 0xF0, 0x03, 0xF0, 0x04, 0xF7});
  ASSERT_TRUE(owner.WaitFor(3));
  const auto got = owner.Deliveries();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].message, MIM_LONGERROR);
  EXPECT_EQ(got[0].bytes, (Bytes{0xF0, 0x01, 0x02}));
  EXPECT_EQ(got[1].message, MIM_LONGERROR);
  EXPECT_EQ(got[1].bytes, (Bytes{0xF0, 0x03}));
  EXPECT_EQ(got[2].message, MIM_LONGDATA);
  EXPECT_EQ(got[2].bytes, (Bytes{0xF0, 0x04, 0xF7}));
}

TEST(SysexInputBuffers, ALossDropsTheMessageItInterruptsAndNothingElse) {
  Owner owner(64);
  owner.Open();
  // The transport lost bytes in the middle of a message: its head and tail would join into one
  // message with a hole, F0 01 02 03 04 F7, if the loss went unmarked.
  owner.Feed({0xF0, 0x01, 0x02});
  owner.Buffers().MarkLoss();
  owner.Feed({0x03, 0x04, 0xF7});
  // A loss between messages costs nothing.
  owner.Buffers().MarkLoss();
  owner.Feed(Message(6, 9));
  ASSERT_TRUE(owner.WaitFor(2));
  const auto got = owner.Deliveries();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].message, MIM_LONGERROR);
  EXPECT_EQ(got[0].bytes, (Bytes{0xF0, 0x01, 0x02}));
  EXPECT_EQ(got[1].message, MIM_LONGDATA);
  EXPECT_EQ(got[1].bytes, Message(6, 9));
}

TEST(SysexInputBuffers, StopHandsBackAPartlyFilledBufferAndDropsTheRest) {
  Owner owner(64);
  owner.Open();
  owner.Feed({0xF0, 0x01, 0x02});
  ASSERT_EQ(owner.Buffers().Stop(), MMSYSERR_NOERROR);
  // The bytes fed before the stop are there, handed back on the stopping thread.
  auto got = owner.Deliveries();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].message, MIM_LONGDATA);
  EXPECT_TRUE(got[0].done);
  EXPECT_EQ(got[0].bytes, (Bytes{0xF0, 0x01, 0x02}));
  EXPECT_EQ(got[0].thread, std::this_thread::get_id());
  // Input while stopped is dropped; after a new start the rest of the broken message is too.
  owner.Feed(Message(6, 9));
  ASSERT_EQ(owner.Buffers().Start(), MMSYSERR_NOERROR);
  owner.Feed({0x03, 0x04, 0xF7});
  owner.Feed(Message(6, 10));
  ASSERT_TRUE(owner.WaitFor(2));
  std::this_thread::sleep_for(20ms);
  got = owner.Deliveries();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].bytes, Message(6, 10));
}

TEST(SysexInputBuffers, StopDeliversWhateverWasFedBeforeIt) {
  // Repeated, since a stop that raced the delivery thread lost a message that had fully arrived.
  for (int round = 0; round < 200; ++round) {
    Owner owner(64);
    owner.Open();
    owner.Feed(Message(15, static_cast<uint8_t>(round)));
    ASSERT_EQ(owner.Buffers().Stop(), MMSYSERR_NOERROR);
    const auto got = owner.Deliveries();
    ASSERT_EQ(got.size(), 1u) << "round " << round;
    EXPECT_EQ(got[0].bytes, Message(15, static_cast<uint8_t>(round)));
  }
}

TEST(SysexInputBuffers, ResetHandsBackEveryBufferEmptyOnesWithZeroBytes) {
  {
    Owner owner(16, 2);
    owner.Open();
    ASSERT_EQ(owner.Buffers().CanClose(), MIDIERR_STILLPLAYING);
    ASSERT_EQ(owner.Buffers().UnprepareHeader(owner.Header(0)), MIDIERR_STILLPLAYING);
    ASSERT_EQ(owner.Buffers().Reset(), MMSYSERR_NOERROR);
    const auto got = owner.Deliveries();
    ASSERT_EQ(got.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
      EXPECT_EQ(got[i].message, MIM_LONGDATA);
      EXPECT_TRUE(got[i].done);
      EXPECT_TRUE(got[i].bytes.empty());
      EXPECT_EQ(got[i].header, owner.Header(i));
    }
    EXPECT_EQ(owner.Buffers().CanClose(), MMSYSERR_NOERROR);
    EXPECT_EQ(owner.Buffers().UnprepareHeader(owner.Header(0)), MMSYSERR_NOERROR);
  }
  // A partly filled buffer comes back with its bytes, is queued again, and returns empty.
  {
    Owner owner(16);
    owner.Open();
    owner.Feed({0xF0, 0x11});
    ASSERT_EQ(owner.Buffers().Reset(), MMSYSERR_NOERROR);
    const auto got = owner.Deliveries();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].bytes, (Bytes{0xF0, 0x11}));
    EXPECT_TRUE(got[1].bytes.empty());
    EXPECT_EQ(owner.Buffers().CanClose(), MMSYSERR_NOERROR);
  }
}

TEST(SysexInputBuffers, AVanishedDeviceSaysCloseOnceAndHandsNoBytesOn) {
  Owner owner(64);
  owner.Open();
  owner.Feed({0xF0, 0x7D, 0x01});  // a message the device will never finish
  owner.Buffers().Vanish();
  owner.Buffers().Vanish();
  ASSERT_TRUE(owner.WaitFor(1));
  owner.Feed(Message(6, 1));
  // The buffer still comes back as usual, with none of the begun message's bytes.
  ASSERT_EQ(owner.Buffers().Reset(), MMSYSERR_NOERROR);
  const auto got = owner.Deliveries();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].message, MIM_CLOSE);
  EXPECT_EQ(got[1].message, MIM_LONGDATA);
  EXPECT_TRUE(got[1].bytes.empty());
  EXPECT_EQ(owner.Buffers().CanClose(), MMSYSERR_NOERROR);
}

TEST(SysexInputBuffers, RefusesBuffersItCannotUse) {
  Owner owner(16);
  MidiHeader header;
  uint8_t storage[4];
  header.lpData = storage;
  header.dwBufferLength = sizeof storage;
  EXPECT_EQ(owner.Buffers().AddBuffer(&header), MIDIERR_UNPREPARED);
  ASSERT_EQ(owner.Buffers().PrepareHeader(&header), MMSYSERR_NOERROR);
  ASSERT_EQ(owner.Buffers().AddBuffer(&header), MMSYSERR_NOERROR);
  EXPECT_EQ(owner.Buffers().AddBuffer(&header), MIDIERR_STILLPLAYING);
  MidiHeader empty;
  EXPECT_EQ(owner.Buffers().AddBuffer(&empty), MMSYSERR_INVALPARAM);
  EXPECT_EQ(owner.Buffers().AddBuffer(nullptr), MMSYSERR_INVALPARAM);
  ASSERT_EQ(owner.Buffers().Reset(), MMSYSERR_NOERROR);
}

TEST(SysexInputBuffers, InputBeforeStartIsDropped) {
  Owner owner(64);
  owner.QueueAll();
  owner.Feed(Message(6, 11));
  ASSERT_EQ(owner.Buffers().Start(), MMSYSERR_NOERROR);
  owner.Feed(Message(6, 12));
  ASSERT_TRUE(owner.WaitFor(1));
  std::this_thread::sleep_for(20ms);
  const auto got = owner.Deliveries();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].bytes, Message(6, 12));
}

TEST(SysexInputBuffers, NoCallbackOnceClosedOrDestroyed) {
  // Closed: after Reset no buffer is queued, and further input makes no callback.
  {
    Owner owner(64);
    owner.Open();
    ASSERT_EQ(owner.Buffers().Reset(), MMSYSERR_NOERROR);
    ASSERT_EQ(owner.Buffers().CanClose(), MMSYSERR_NOERROR);
    const size_t before = owner.Count();
    owner.Feed(Message(6, 13));
    ASSERT_EQ(owner.Buffers().Start(), MMSYSERR_NOERROR);
    owner.Feed(Message(6, 14));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(owner.Count(), before);
  }
  // Destroyed while a slow callback runs and more messages wait: the destructor waits for the
  // running callback, and none runs after it.
  {
    Owner owner(64, 5);
    owner.requeue = false;
    owner.callbackDelayMs = 30;
    owner.Open();
    for (int i = 0; i < 5; ++i) owner.Feed(Message(6, static_cast<uint8_t>(i)));
    ASSERT_TRUE(owner.WaitFor(1));
    owner.Destroy();
    EXPECT_FALSE(owner.inCallback);
    const size_t after = owner.Count();
    std::this_thread::sleep_for(80ms);
    EXPECT_EQ(owner.Count(), after);
    EXPECT_LT(after, 5u);
  }
}

}  // namespace
}  // namespace kv5
