#include "protocol/ReplyPoller.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Bytes.h"
#include "RecordingSender.h"

namespace kv5 {
namespace {

using test::Hex;
using Bytes = std::vector<uint8_t>;

constexpr int kUntouched = 77;  // a status no message below sets
const Bytes kAck = Hex("F0 7D 00 4D 00 00 F7");
const Bytes kNotHandled = Hex("F0 7D 00 4D 00 01 F7");
const Bytes kStampReply = Hex("F0 7D 00 4D 60 04 30 00 00 04 00 00 31 2E 32 30 10 60 5A 7A 06 F7");

// A read reply carrying data, with its checksum or a given one.
Bytes ReadReply(const Bytes& data, bool goodChecksum = true) {
  const int d = static_cast<int>(data.size());
  Bytes message = Hex("F0 7D 00 4D 60 04 30 00 00");
  message.resize(9 + 2 + static_cast<size_t>(PackedLength(d)) + 5 + 1);
  EncodeSeptet14(d, &message[9]);
  const int packed = Pack7in8(&message[11], data.data(), d);
  const uint32_t crc = SysexCrc32(data.data(), static_cast<uint32_t>(d));
  EncodeSeptet32(goodChecksum ? crc : crc ^ 1u, &message[11 + static_cast<size_t>(packed)]);
  message.back() = 0xF7;
  return message;
}

class ReplyPollerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state.SetStatusUnlessAborted(kUntouched);
    state.SetDeviceCode({0x4D, 0x00, 0x12, 0x00});
  }
  void Dispatch(const Bytes& message) { Dispatch(message, static_cast<uint32_t>(message.size())); }
  void Dispatch(const Bytes& message, uint32_t length) {
    DispatchReply(message.data(), length, state, sender);
  }
  int ReadTotal() {
    std::lock_guard<std::mutex> hold(state.RecordLock);
    return state.ReadTotal;
  }
  void SetReadTotal(int total) {
    std::lock_guard<std::mutex> hold(state.RecordLock);
    state.ReadTotal = total;
  }
  Bytes ReadBack(uint32_t offset, uint32_t count) {
    std::lock_guard<std::mutex> hold(state.RecordLock);
    return Bytes(state.ReadBackBuffer.get() + offset, state.ReadBackBuffer.get() + offset + count);
  }
  // Status and event as a message left them; the event is consumed.
  void ExpectSettled(int status) {
    EXPECT_EQ(state.Status(), status);
    EXPECT_TRUE(state.ReplyEvent.IsSet());
    state.ReplyEvent.Reset();
  }
  void ExpectNoEffect() {
    EXPECT_EQ(state.Status(), kUntouched);
    EXPECT_FALSE(state.ReplyEvent.IsSet());
  }

  ExchangeState state;
  test::RecordingSender sender;
};

TEST_F(ReplyPollerTest, IgnoresWhatIsNotForIt) {
  const std::vector<Bytes> ignored = {
      Hex("F7"), Hex("F0"), Hex("00 7D 00 4D 00 00 F7"), Hex("F7 7D 00 4D 00 00 F7"),
      // Other manufacturers and universal real-time messages.
      Hex("F0 41 00 4D 00 00 F7"), Hex("F0 7F 00 06 02 7D 4D 00 12 00 F7"),
      // Universal non-real-time, not General Information.
      Hex("F0 7E 00 07 01 F7"), Hex("F0 7E 00 07 02 7D 4D 00 12 00 00 F7"),
      // Vendor command 0x03.
      Hex("F0 7D 00 4D 03 F7")};
  for (const Bytes& message : ignored) Dispatch(message);
  ExpectNoEffect();
  EXPECT_TRUE(sender.Sent().empty());
}

TEST_F(ReplyPollerTest, ResultsSetTheStatusAndSignal) {
  Dispatch(Hex("F0 7D 00 4D 00 00 F7"));
  ExpectSettled(0);
  Dispatch(Hex("F0 7D 00 4D 00 0B F7"));
  ExpectSettled(11);
  // Bytes 2 and 3 are not examined, nor is the closing byte.
  Dispatch(Hex("F0 7D 55 66 00 2A"));
  ExpectSettled(42);
  // Vendor command 0x02 from the unit counts as a success.
  state.SetStatusUnlessAborted(kUntouched);
  Dispatch(Hex("F0 7D 00 4D 02 F7"));
  ExpectSettled(0);
  EXPECT_TRUE(sender.Sent().empty());
}

TEST_F(ReplyPollerTest, AnswersTheUnitsOwnRequests) {
  for (const char* request : {"F0 7D 00 4D 01 F7", "F0 7D 00 4D 04 F7", "F0 7D 00 4D 05 F7"})
    Dispatch(Hex(request));
  EXPECT_EQ(sender.Sent(), (std::vector<Bytes>{kAck, kAck, kAck}));
  ExpectNoEffect();

  sender.Clear();
  // Unhandled commands; the 5-byte F0 7D 00 00 F7 counts as command 0xF7.
  for (const char* request : {"F0 7D 00 4D 06 F7", "F0 7D 00 4D 61 F7", "F0 7D 00 4D 5F F7",
                              "F0 7D 00 4D 7F 00 F7", "F0 7D 00 00 F7", "F0 7E 00 06 03 F7"})
    Dispatch(Hex(request));
  EXPECT_EQ(sender.Sent(), std::vector<Bytes>(6, kNotHandled));
  ExpectNoEffect();
}

TEST_F(ReplyPollerTest, AnswersCarryTheModelByteOfTheirMoment) {
  ExchangeState fresh;
  DispatchReply(Hex("F0 7D 00 4D 01 F7").data(), 6, fresh, sender);
  fresh.SetDeviceCode({0x4E, 0x01, 0x02, 0x03});
  DispatchReply(Hex("F0 7D 00 4D 07 F7").data(), 6, fresh, sender);
  EXPECT_EQ(sender.Sent(),
            (std::vector<Bytes>{Hex("F0 7D 00 00 00 00 F7"), Hex("F0 7D 00 4E 00 01 F7")}));
}

TEST_F(ReplyPollerTest, IdentityRequestIsAnsweredWithTheEchoCode) {
  Dispatch(Hex("F0 7E 7F 06 01 F7"));
  state.SetEchoCode({0x4D, 0x00, 0x12, 0x00});
  Dispatch(Hex("F0 7E 00 06 01 F7"));
  EXPECT_EQ(sender.Sent(),
            (std::vector<Bytes>{Hex("F0 7E 00 06 02 7D 00 00 00 00 31 30 30 30 F7"),
                                Hex("F0 7E 00 06 02 7D 4D 00 12 00 31 30 30 30 F7")}));
  ExpectNoEffect();
}

TEST_F(ReplyPollerTest, IdentityReplyRecordsTheReportedCode) {
  Dispatch(Hex("F0 7E 00 06 02 7D 4D 00 12 00 01 00 00 00 F7"));
  ExpectSettled(0);
  {
    std::lock_guard<std::mutex> hold(state.RecordLock);
    EXPECT_EQ(state.ReportedDeviceCode, (DeviceCodeBytes{0x4D, 0x00, 0x12, 0x00}));
  }
  // Ten bytes reach the code; device ID and manufacturer byte are not examined.
  Dispatch(Hex("F0 7E 33 06 02 41 01 02 03 04"));
  ExpectSettled(0);
  std::lock_guard<std::mutex> hold(state.RecordLock);
  EXPECT_EQ(state.ReportedDeviceCode, (DeviceCodeBytes{1, 2, 3, 4}));
}

TEST_F(ReplyPollerTest, MessagesTooShortForTheirBranchAreDropped) {
  const Bytes readReply = ReadReply(Bytes{'1', '.', '2', '0'});
  const std::vector<std::pair<Bytes, uint32_t>> cut = {
      {Hex("F0 7D 00 F7"), 4},                                   // vendor head needs 5
      {Hex("F0 7D 00 4D 00"), 5},                                // result code at byte 5
      {Hex("F0 7D 00 4D 60"), 5},                                // memory reply needs byte 5
      {Hex("F0 7D 00 4D 60 04"), 6},                             // read reply needs byte 6
      {readReply, 10},                                           // count at bytes 9..10
      {readReply, static_cast<uint32_t>(readReply.size() - 2)},  // one checksum byte short
      {Hex("F0 7E 00 06"), 4},                                   // universal head needs 5
      {Hex("F0 7E 00 06 02 7D 4D 00 12"), 9},                    // identity code needs byte 9
  };
  for (const auto& [message, length] : cut) Dispatch(message, length);
  // A count promising more packed bytes than the message holds.
  Bytes promising = readReply;
  promising[9] = 0x10;
  Dispatch(promising);
  ExpectNoEffect();
  EXPECT_EQ(ReadTotal(), 0);
  EXPECT_TRUE(sender.Sent().empty());

  // Exactly long enough: the closing byte of a read reply is not needed.
  Dispatch(readReply, static_cast<uint32_t>(readReply.size() - 1));
  ExpectSettled(0);
  EXPECT_EQ(ReadTotal(), 4);
}

TEST_F(ReplyPollerTest, AcceptsGoodReadData) {
  SetReadTotal(0);
  Dispatch(kStampReply);
  ExpectSettled(0);
  EXPECT_EQ(ReadTotal(), 4);
  EXPECT_EQ(ReadBack(0, 4), test::Ascii("1.20"));

  // An empty reply with the checksum of no bytes is accepted and adds nothing.
  Dispatch(Hex("F0 7D 00 4D 60 04 30 00 00 00 00 7F 7F 7F 7F 0F F7"));
  ExpectSettled(0);
  EXPECT_EQ(ReadTotal(), 4);
  EXPECT_EQ(ReadReply({}), Hex("F0 7D 00 4D 60 04 30 00 00 00 00 7F 7F 7F 7F 0F F7"));
}

TEST_F(ReplyPollerTest, RefusesBadReadReplies) {
  Dispatch(ReadReply(test::Ascii("ABCD"), false));
  ExpectSettled(1);
  EXPECT_EQ(ReadTotal(), 0);

  Bytes wrongSubCode = kStampReply;
  wrongSubCode[6] = 0x31;
  Dispatch(wrongSubCode);
  ExpectSettled(1);
  EXPECT_EQ(ReadTotal(), 0);

  // A 0x60 message that is no read reply is not a success either, whatever status came before,
  // so a read never hands back the bytes of an earlier one.
  Dispatch(kStampReply);
  ExpectSettled(0);
  SetReadTotal(0);
  Dispatch(Hex("F0 7D 00 4D 60 01 F7"));
  ExpectSettled(1);
  Dispatch(Hex("F0 7D 00 4D 60 7F"));
  ExpectSettled(1);
  EXPECT_EQ(ReadTotal(), 0);
}

TEST_F(ReplyPollerTest, ReadDataNeverRunsPastTheBuffer) {
  constexpr int kCapacity = static_cast<int>(ExchangeState::kReadBackCapacity);
  const Bytes reply = ReadReply(test::Ascii("WXYZ"));
  SetReadTotal(kCapacity - 3);
  Dispatch(reply);
  ExpectSettled(1);
  EXPECT_EQ(ReadTotal(), kCapacity - 3);
  EXPECT_EQ(ReadBack(kCapacity - 3, 3), Bytes(3, 0));

  SetReadTotal(kCapacity - 4);
  Dispatch(reply);
  ExpectSettled(0);
  EXPECT_EQ(ReadTotal(), kCapacity);
  EXPECT_EQ(ReadBack(kCapacity - 4, 4), test::Ascii("WXYZ"));
  // Full: even an empty reply fits, anything more does not.
  Dispatch(ReadReply({}));
  ExpectSettled(0);
  Dispatch(ReadReply(Bytes{1}));
  ExpectSettled(1);
  EXPECT_EQ(ReadTotal(), kCapacity);
}

TEST_F(ReplyPollerTest, AnAbortIsFinal) {
  state.Abort();
  state.ReplyEvent.Reset();
  for (const char* reply : {"F0 7D 00 4D 00 00 F7", "F0 7D 00 4D 02 F7", "F0 7D 00 4D 60 01 F7",
                            "F0 7E 00 06 02 7D 4D 00 12 00 F7"}) {
    Dispatch(Hex(reply));
    ExpectSettled(kReplyAborted);
  }
  Dispatch(kStampReply);
  ExpectSettled(kReplyAborted);
  Dispatch(ReadReply(test::Ascii("bad!"), false));
  ExpectSettled(kReplyAborted);
  // The unit's requests are still answered while the window goes away.
  Dispatch(Hex("F0 7D 00 4D 05 F7"));
  EXPECT_EQ(sender.Sent(), std::vector<Bytes>{kAck});
}

TEST_F(ReplyPollerTest, PollerDrainsTheQueueInOrder) {
  ReceivedSysexQueue queue;
  const Bytes second = ReadReply(test::Ascii("5678"));
  queue.Append(ReadReply(test::Ascii("1234")).data(), 22);
  queue.Append(Hex("F0 7D 00 4D 01 F7").data(), 6);
  queue.Append(second.data(), static_cast<uint32_t>(second.size()));
  // An entry that arrives while the poller runs is handled in the same tick.
  sender.OnSend([&](const Bytes&) {
    queue.Append(Hex("F0 7D 00 4D 04 F7").data(), 6);
    sender.OnSend(nullptr);
    return 0;
  });
  ReplyPoller(queue, state, sender);
  EXPECT_TRUE(queue.Empty());
  EXPECT_EQ(ReadTotal(), 8);
  EXPECT_EQ(ReadBack(0, 8), test::Ascii("12345678"));
  EXPECT_EQ(sender.Sent(), (std::vector<Bytes>{kAck, kAck}));
  // Two replies, one pending signal.
  EXPECT_EQ(state.Status(), 0);
  EXPECT_TRUE(state.ReplyEvent.Wait(0));
  EXPECT_FALSE(state.ReplyEvent.Wait(0));

  ReplyPoller(queue, state, sender);  // an empty queue: nothing happens
  EXPECT_FALSE(state.ReplyEvent.IsSet());
}

}  // namespace
}  // namespace kv5
