#include "protocol/Exchanges.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "Bytes.h"
#include "RecordingSender.h"
#include "protocol/ReplyPoller.h"

namespace kv5 {
namespace {

using test::Hex;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const Bytes kIdentityRequest = Hex("F0 7E 00 06 01 F7");
const Bytes kStampReply = Hex("F0 7D 00 4D 60 04 30 00 00 04 00 00 31 2E 32 30 10 60 5A 7A 06 F7");

Bytes IdentityReplyWith(const char* code) {
  return Hex(std::string("F0 7E 00 06 02 7D ") + code + " 01 00 00 00 F7");
}

// A unit that answers each request at once with the given reply, handled as the poller would.
class ExchangesTest : public ::testing::Test {
 protected:
  void AnswerWith(Bytes reply) {
    sender.OnSend([this, reply](const Bytes&) {
      DispatchReply(reply.data(), static_cast<uint32_t>(reply.size()), state, sender);
      return 0;
    });
  }
  IdentifyOutcome Identify() { return IdentifyUnit(state, sender, timing); }
  int Read(uint8_t* destination) {
    return ReadDeviceMemory(state, sender, timing, 0x170FE0, 4, destination);
  }

  SessionTiming timing{.IdentifyWaitMs = 30, .MemoryReadWaitMs = 30};
  ExchangeState state;
  test::RecordingSender sender;
};

TEST_F(ExchangesTest, IdentifyUnitAcceptsThePackagesCodes) {
  AnswerWith(IdentityReplyWith("4D 00 12 00"));
  EXPECT_EQ(Identify(), IdentifyOutcome::Identified);
  EXPECT_EQ(state.DeviceCode(), (DeviceCodeBytes{0x4D, 0x00, 0x12, 0x00}));
  EXPECT_EQ(sender.Sent(), std::vector<Bytes>{kIdentityRequest});

  AnswerWith(IdentityReplyWith("4D 00 02 00"));
  EXPECT_EQ(Identify(), IdentifyOutcome::Identified);
  EXPECT_EQ(state.DeviceCode(), (DeviceCodeBytes{0x4D, 0x00, 0x02, 0x00}));
  // Identification leaves the echo code to the update session.
  EXPECT_EQ(state.EchoCode(), (DeviceCodeBytes{0, 0, 0, 0}));
}

TEST_F(ExchangesTest, IdentifyUnitRefusesOtherCodesButKeepsThem) {
  AnswerWith(IdentityReplyWith("4D 00 22 00"));
  EXPECT_EQ(Identify(), IdentifyOutcome::NotAccepted);
  EXPECT_EQ(state.DeviceCode(), (DeviceCodeBytes{0x4D, 0x00, 0x22, 0x00}));

  AnswerWith(IdentityReplyWith("4E 00 02 00"));
  EXPECT_EQ(Identify(), IdentifyOutcome::NotAccepted);
  // Later vendor messages carry the refused code's first byte.
  uint8_t stamp[4];
  sender.Clear();
  AnswerWith(kStampReply);
  EXPECT_EQ(Read(stamp), 0);
  EXPECT_EQ(sender.Sent(),
            std::vector<Bytes>{Hex("F0 7D 00 4E 60 30 60 1F 5C 00 00 04 00 00 00 00 F7")});
}

TEST_F(ExchangesTest, IdentifyUnitNeverUsesAnEarlierUnitsCode) {
  AnswerWith(IdentityReplyWith("4D 00 12 00"));
  ASSERT_EQ(Identify(), IdentifyOutcome::Identified);
  // The next unit answers with a bare success: no code of its own was reported.
  AnswerWith(Hex("F0 7D 00 00 00 00 F7"));
  EXPECT_EQ(Identify(), IdentifyOutcome::NotAccepted);
  EXPECT_EQ(state.DeviceCode(), (DeviceCodeBytes{0, 0, 0, 0}));
}

TEST_F(ExchangesTest, IdentifyUnitFailures) {
  AnswerWith(Hex("F0 7D 00 00 00 05 F7"));
  EXPECT_EQ(Identify(), IdentifyOutcome::Refused);
  AnswerWith(Hex("F0 7D 00 00 00 0B F7"));
  EXPECT_EQ(Identify(), IdentifyOutcome::Refused);
  EXPECT_EQ(state.DeviceCode(), (DeviceCodeBytes{0, 0, 0, 0}));

  // Silence: the wait runs out.
  sender.OnSend(nullptr);
  EXPECT_EQ(Identify(), IdentifyOutcome::TimedOut);

  // A failed send returns at once, without waiting.
  timing.IdentifyWaitMs = 60000;
  sender.OnSend([](const Bytes&) { return -1; });
  const auto start = Clock::now();
  EXPECT_EQ(Identify(), IdentifyOutcome::SendFailed);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

TEST_F(ExchangesTest, IdentifyUnitEndsAtOnceOnAbort) {
  timing.IdentifyWaitMs = 60000;
  sender.OnSend(nullptr);
  std::thread window([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    state.Abort();
  });
  const auto start = Clock::now();
  EXPECT_EQ(Identify(), IdentifyOutcome::Aborted);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  window.join();

  // Once aborted, nothing more is sent, and a reply still queued cannot undo the abort.
  sender.Clear();
  EXPECT_EQ(Identify(), IdentifyOutcome::Aborted);
  EXPECT_TRUE(sender.Sent().empty());
  DispatchReply(IdentityReplyWith("4D 00 12 00").data(), 15, state, sender);
  EXPECT_EQ(Identify(), IdentifyOutcome::Aborted);
}

TEST_F(ExchangesTest, ReadDeviceMemoryCopiesFourBytes) {
  state.SetDeviceCode({0x4D, 0x00, 0x12, 0x00});
  {
    std::lock_guard<std::mutex> hold(state.RecordLock);
    state.ReadTotal = 100;  // left by an earlier read; reset before the request goes out
  }
  AnswerWith(kStampReply);
  uint8_t stamp[5] = {0, 0, 0, 0, 0x55};
  EXPECT_EQ(Read(stamp), 0);
  EXPECT_EQ(Bytes(stamp, stamp + 5), (Bytes{'1', '.', '2', '0', 0x55}));
  EXPECT_EQ(sender.Sent(),
            std::vector<Bytes>{Hex("F0 7D 00 4D 60 30 60 1F 5C 00 00 04 00 00 00 00 F7")});
  std::lock_guard<std::mutex> hold(state.RecordLock);
  EXPECT_EQ(state.ReadTotal, 4);
}

TEST_F(ExchangesTest, ReadDeviceMemoryFailures) {
  uint8_t stamp[4] = {9, 9, 9, 9};
  // A checksum mismatch.
  Bytes corrupt = kStampReply;
  corrupt[16] ^= 1;
  AnswerWith(corrupt);
  EXPECT_EQ(Read(stamp), -1);
  EXPECT_EQ(state.Status(), kReplyNotAccepted);

  // A good read, then a 0x60 message that is no read reply: not the old bytes as a success.
  AnswerWith(kStampReply);
  ASSERT_EQ(Read(stamp), 0);
  AnswerWith(Hex("F0 7D 00 4D 60 01 F7"));
  EXPECT_EQ(Read(stamp), -1);

  // A failure code from the unit.
  AnswerWith(Hex("F0 7D 00 4D 00 03 F7"));
  EXPECT_EQ(Read(stamp), -1);

  // Silence, and a send that fails: both end as a timeout.
  sender.OnSend(nullptr);
  EXPECT_EQ(Read(stamp), -1);
  sender.OnSend([](const Bytes&) { return -1; });
  EXPECT_EQ(Read(stamp), -1);
  EXPECT_EQ(Bytes(stamp, stamp + 4), test::Ascii("1.20"));
  EXPECT_NE(state.Status(), kReplyAborted);
}

TEST_F(ExchangesTest, ReadDeviceMemoryEndsAtOnceOnAbort) {
  timing.MemoryReadWaitMs = 60000;
  sender.OnSend(nullptr);
  std::thread window([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    state.Abort();
  });
  uint8_t stamp[4];
  const auto start = Clock::now();
  EXPECT_EQ(Read(stamp), -1);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  window.join();
  EXPECT_EQ(state.Status(), kReplyAborted);

  sender.Clear();
  AnswerWith(kStampReply);
  EXPECT_EQ(Read(stamp), -1);
  EXPECT_TRUE(sender.Sent().empty());
}

}  // namespace
}  // namespace kv5
