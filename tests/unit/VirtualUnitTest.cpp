// The unit on its own thread behind an endpoint: answers in order, delays that let a later
// answer overtake, link pacing, own requests, waiting for idle, and a safe stop.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "unit/UnitRequests.h"
#include "unit/VirtualUnit.h"

namespace kv5 {
namespace {

using namespace std::chrono_literals;
using test::Hex;
using Clock = std::chrono::steady_clock;

// The test's side of the link: delivers bytes to the unit and collects what it sends.
class TestEndpoint : public MidiEndpoint {
 public:
  void SetReceiver(Receiver receiver) override { receiver_ = std::move(receiver); }
  bool Send(const uint8_t* bytes, size_t length) override {
    std::lock_guard<std::mutex> hold(lock_);
    sent_.push_back({std::vector<uint8_t>(bytes, bytes + length), Clock::now()});
    arrived_.notify_all();
    return !refuse_;
  }
  std::string Name() const override { return "test"; }

  void Deliver(const std::vector<uint8_t>& bytes) { receiver_(bytes.data(), bytes.size()); }
  // Send reports every message as not sent (a link that could not take it).
  void Refuse() {
    std::lock_guard<std::mutex> hold(lock_);
    refuse_ = true;
  }
  bool WaitForSent(size_t count, std::chrono::milliseconds timeout = 5s) {
    std::unique_lock<std::mutex> hold(lock_);
    return arrived_.wait_for(hold, timeout, [&] { return sent_.size() >= count; });
  }
  std::vector<uint8_t> SentBytes(size_t index) {
    std::lock_guard<std::mutex> hold(lock_);
    return sent_.at(index).bytes;
  }
  Clock::time_point SentAt(size_t index) {
    std::lock_guard<std::mutex> hold(lock_);
    return sent_.at(index).at;
  }
  size_t SentCount() {
    std::lock_guard<std::mutex> hold(lock_);
    return sent_.size();
  }

 private:
  struct Sent {
    std::vector<uint8_t> bytes;
    Clock::time_point at;
  };
  Receiver receiver_;
  std::mutex lock_;
  std::condition_variable arrived_;
  std::vector<Sent> sent_;
  bool refuse_ = false;
};

TEST(VirtualUnit, AnswersOnItsThreadInOrder) {
  TestEndpoint endpoint;
  VirtualUnit unit(endpoint, test::ConfigWith(InitialFlash::Package));
  EXPECT_TRUE(unit.Start());
  EXPECT_FALSE(unit.Start());
  endpoint.Deliver(Hex("F0 7E 00 06 01 F7"));
  endpoint.Deliver(test::ReadRequest(0x170FE0, 4));
  endpoint.Deliver(test::VendorRequest(0x01));
  ASSERT_TRUE(unit.WaitIdle(5s));
  ASSERT_EQ(endpoint.SentCount(), 3u);
  EXPECT_EQ(endpoint.SentBytes(0)[4], 0x02);
  EXPECT_EQ(test::ReadReplyData(endpoint.SentBytes(1)), test::Ascii("1.20"));
  EXPECT_EQ(endpoint.SentBytes(2), Hex("F0 7D 00 4D 00 00 F7"));
  EXPECT_TRUE(unit.UpdateEntered());
  EXPECT_EQ(unit.Count(MessageKind::Any), 3u);
  EXPECT_EQ(unit.Counts()[static_cast<size_t>(MessageKind::MemoryRead)], 1u);
  const auto transcript = unit.Transcript();
  ASSERT_EQ(transcript.size(), 3u);
  EXPECT_LE(transcript[0].at, transcript[2].at);
  EXPECT_EQ(unit.ReadFlash(0x170FE0, 4), test::Ascii("1.20"));
  EXPECT_TRUE(unit.ReadFlash(0x1FFFFF, 2).empty());
  EXPECT_EQ(unit.Flash().size(), 0x200000u);
  EXPECT_TRUE(unit.VerifyPackage().ok);

  // Between runs: a finished unit is powered up again with an older firmware.
  endpoint.Deliver(test::VendorRequest(0x04));
  ASSERT_TRUE(unit.WaitIdle(5s));
  EXPECT_FALSE(unit.InUpdateMode());
  unit.ResetFlash(InitialFlash::OlderFirmware);
  unit.PowerUp(true);
  EXPECT_TRUE(unit.InUpdateMode());
  EXPECT_FALSE(unit.UpdateEntered());
  EXPECT_EQ(unit.ReadFlash(0x170FE0, 4), test::Ascii("1.10"));
  EXPECT_FALSE(unit.VerifyPackage(PackageSource::Embedded).ok);
}

TEST(VirtualUnit, ADelayedAnswerArrivesLateAndIsOvertaken) {
  TestEndpoint endpoint;
  UnitConfig config = test::ConfigWith(InitialFlash::Factory);
  config.faults.Delay(MessageKind::FlashErase, Occurrence::Nth(1), 200ms);
  VirtualUnit unit(endpoint, config);
  unit.Start();
  endpoint.Deliver(test::VendorRequest(0x01));
  ASSERT_TRUE(endpoint.WaitForSent(1));
  const auto sentErase = Clock::now();
  endpoint.Deliver(test::EraseRequest(0x1000, 0x1000));
  ASSERT_TRUE(unit.WaitForCount(MessageKind::FlashErase, 1, 5s));
  EXPECT_FALSE(unit.WaitIdle(0ms)) << "the delayed answer is still pending";
  endpoint.Deliver(Hex("F0 7E 00 06 01 F7"));
  ASSERT_TRUE(unit.WaitIdle(5s));
  ASSERT_EQ(endpoint.SentCount(), 3u);
  EXPECT_EQ(endpoint.SentBytes(1)[4], 0x02) << "identity reply first";
  EXPECT_EQ(endpoint.SentBytes(2), Hex("F0 7D 00 4D 00 00 F7"));
  EXPECT_GE(endpoint.SentAt(2) - sentErase, 200ms);
}

TEST(VirtualUnit, PacesTheLinkAndTheFlash) {
  TestEndpoint endpoint;
  UnitConfig config = test::ConfigWith(InitialFlash::Factory);
  config.pacing.bytesPerSecond = 100'000;  // 4700 bytes in 47 ms, 7 bytes in 70 us
  config.pacing.perWrite = 30ms;
  config.pacing.perErase = 20ms;
  VirtualUnit unit(endpoint, config);
  unit.Start();
  endpoint.Deliver(test::VendorRequest(0x01));
  ASSERT_TRUE(endpoint.WaitForSent(1));

  auto start = Clock::now();
  endpoint.Deliver(test::WriteRequest(0x1000, std::vector<uint8_t>(4096, 0x11)));
  ASSERT_TRUE(endpoint.WaitForSent(2));
  EXPECT_GE(endpoint.SentAt(1) - start, 47ms + 30ms);

  start = Clock::now();
  endpoint.Deliver(test::EraseRequest(0x1000, 0x1000));
  ASSERT_TRUE(endpoint.WaitForSent(3));
  EXPECT_GE(endpoint.SentAt(2) - start, 20ms);

  // A long read leaves as several replies, each taking its time on the link.
  start = Clock::now();
  endpoint.Deliver(test::ReadRequest(0, 3 * 4096));
  ASSERT_TRUE(endpoint.WaitForSent(6));
  EXPECT_GE(endpoint.SentAt(5) - start, 3 * 46ms);
  EXPECT_TRUE(unit.WaitIdle(5s));
}

TEST(VirtualUnit, SendsItsOwnRequestsAndRecordsTheAnswers) {
  TestEndpoint endpoint;
  UnitConfig config = test::ConfigWith(InitialFlash::Factory);
  config.ownRequests.push_back({UnitRequest::Vendor(0x05), MessageKind::FlashErase, 2, false});
  VirtualUnit unit(endpoint, config);
  EXPECT_FALSE(unit.SendRequest(UnitRequest::Identity())) << "not started";
  unit.Start();
  ASSERT_TRUE(unit.SendRequest(UnitRequest::Identity()));
  ASSERT_TRUE(endpoint.WaitForSent(1));
  EXPECT_EQ(endpoint.SentBytes(0), Hex("F0 7E 7F 06 01 F7"));
  endpoint.Deliver(Hex("F0 7E 00 06 02 7D 00 00 00 00 31 30 30 30 F7"));
  ASSERT_TRUE(unit.WaitForHostAnswers(1, 5s));
  EXPECT_EQ(unit.HostAnswers()[0].request, UnitRequest::Identity());

  endpoint.Deliver(test::VendorRequest(0x01));
  endpoint.Deliver(test::EraseRequest(0x1000, 0x1000));
  endpoint.Deliver(test::EraseRequest(0x2000, 0x1000));
  ASSERT_TRUE(endpoint.WaitForSent(5));
  EXPECT_EQ(endpoint.SentBytes(4), Hex("F0 7D 00 4D 05 F7"));
  endpoint.Deliver(Hex("F0 7D 00 4D 00 00 F7"));
  ASSERT_TRUE(unit.WaitForHostAnswers(2, 5s));
  EXPECT_EQ(unit.HostAnswers()[1].request, UnitRequest::Vendor(0x05));
  EXPECT_EQ(unit.HostAnswers()[1].code, 0);

  ASSERT_TRUE(unit.SendRaw(Hex("F0 47 00 F7")));
  ASSERT_TRUE(endpoint.WaitForSent(6));
  EXPECT_EQ(endpoint.SentBytes(5), Hex("F0 47 00 F7"));
  EXPECT_NE(unit.Summary().find("host-result 1"), std::string::npos) << unit.Summary();
}

TEST(VirtualUnit, ItsSummaryCountsTheAnswersTheLinkRefused) {
  TestEndpoint endpoint;
  VirtualUnit unit(endpoint, test::ConfigWith(InitialFlash::Package));
  unit.Start();
  endpoint.Deliver(Hex("F0 7E 00 06 01 F7"));
  ASSERT_TRUE(unit.WaitIdle(5s));
  EXPECT_EQ(unit.Summary().find("could not send"), std::string::npos) << unit.Summary();
  endpoint.Refuse();
  endpoint.Deliver(Hex("F0 7E 00 06 01 F7"));
  endpoint.Deliver(test::ReadRequest(0x170FE0, 4));
  ASSERT_TRUE(unit.WaitIdle(5s));
  EXPECT_NE(unit.Summary().find("could not send 2 message(s)"), std::string::npos)
      << unit.Summary();
}

TEST(VirtualUnit, StopsWithAnswersPendingAndIgnoresLaterTraffic) {
  TestEndpoint endpoint;
  UnitConfig config = test::ConfigWith(InitialFlash::Factory);
  config.faults.Delay(MessageKind::Identity, Occurrence::Every(), 60s);
  {
    VirtualUnit unit(endpoint, config);
    unit.Start();
    endpoint.Deliver(Hex("F0 7E 00 06 01 F7"));
    ASSERT_TRUE(unit.WaitForCount(MessageKind::Identity, 1, 5s));
    const auto start = Clock::now();
    unit.Stop();
    EXPECT_LT(Clock::now() - start, 5s);
    endpoint.Deliver(Hex("F0 7E 00 06 01 F7"));
    EXPECT_EQ(unit.Count(MessageKind::Identity), 1u);
    EXPECT_TRUE(unit.WaitIdle(0ms));
  }
  // The endpoint may still call the receiver it was given after the unit is gone.
  endpoint.Deliver(Hex("F0 7E 00 06 01 F7"));
  EXPECT_EQ(endpoint.SentCount(), 0u);
}

}  // namespace
}  // namespace kv5
