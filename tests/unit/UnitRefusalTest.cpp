// What the unit refuses: every flaw a real unit would catch in a request, and the traffic it
// ignores. A refused request leaves the flash as it was.
#include <gtest/gtest.h>

#include "unit/RequestParser.h"
#include "unit/UnitRequests.h"

namespace kv5 {
namespace {

using test::Hex;

class UnitRefusal : public ::testing::Test {
 protected:
  UnitRefusal() : h(test::ConfigWith(InitialFlash::Factory)) { EXPECT_EQ(h.EnterUpdate(), 0); }

  // The answer to a message that must change nothing in the flash.
  int Refusal(const std::vector<uint8_t>& message) {
    const std::vector<uint8_t> before(h.unit.Flash().Data(), h.unit.Flash().Data() + 0x200000);
    const int code = h.ResultOf(message);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), h.unit.Flash().Data()))
        << "flash changed by a refused request";
    return code;
  }

  test::ResponderHarness h;
};

TEST_F(UnitRefusal, FlashWriteFlaws) {
  const auto good = test::WriteRequest(0x4B000, test::Ascii("abcdefghij"));

  auto badCrc = good;
  badCrc[badCrc.size() - 3] ^= 0x01;
  EXPECT_EQ(Refusal(badCrc), unitcode::kChecksumMismatch);

  auto badData = good;
  badData[14] ^= 0x01;  // a data byte, the checksum left as it was
  EXPECT_EQ(Refusal(badData), unitcode::kChecksumMismatch);

  // The count field disagrees with the packed data present: too many, too few, none.
  for (int count : {11, 9, 0}) {
    auto wrongCount = good;
    EncodeSeptet14(count, &wrongCount[10]);
    EXPECT_EQ(Refusal(wrongCount), unitcode::kLengthMismatch) << count;
  }
  // One packed byte missing (the checksum and F7 in place): the data no longer fits the count.
  auto shortData = good;
  shortData.erase(shortData.begin() + 13);
  EXPECT_EQ(Refusal(shortData), unitcode::kLengthMismatch);

  // Truncated: the end of the message is missing.
  auto truncated = good;
  truncated.resize(good.size() - 3);
  EXPECT_EQ(Refusal(truncated), unitcode::kMalformed);
  EXPECT_EQ(h.last.entry.kind, MessageKind::FlashWrite);
  EXPECT_EQ(Refusal(Hex("F0 7D 00 4D 02 00 60 12 F7")), unitcode::kMalformed);

  // A byte >= 0x80 inside: in the data, and as a stray F7 before the end.
  auto highByte = good;
  highByte[14] |= 0x80;
  EXPECT_EQ(Refusal(highByte), unitcode::kMalformed);
  auto strayEnd = good;
  strayEnd[13] = 0xF7;
  EXPECT_EQ(Refusal(strayEnd), unitcode::kMalformed);

  // Flag bits for positions the short last group lacks: the data would still unpack the same.
  auto looseFlags = good;
  looseFlags[12 + 8] |= 0x04;  // second group holds 3 bytes; bit 0x04 is its fifth position
  EXPECT_EQ(Refusal(looseFlags), unitcode::kBadPacking);

  // A count beyond what the unit takes in one message, and a write past the flash end.
  EXPECT_EQ(Refusal(test::WriteRequest(0x4B000, std::vector<uint8_t>(4097, 0x55))),
            unitcode::kLengthMismatch);
  EXPECT_EQ(Refusal(test::WriteRequest(0x1FFFFE, {1, 2, 3})), unitcode::kOutOfRange);
  // Address field with bits above 31.
  auto wideAddress = good;
  wideAddress[9] = 0x10;
  EXPECT_EQ(Refusal(wideAddress), unitcode::kMalformed);

  // The message itself was fine all along.
  EXPECT_EQ(h.ResultOf(good), 0);
}

TEST_F(UnitRefusal, WriteOverProgrammedFlash) {
  test::ResponderHarness older(test::ConfigWith(InitialFlash::OlderFirmware));
  ASSERT_EQ(older.EnterUpdate(), 0);
  // SUBMCU stamp is erased in the older firmware; the bytes around it are not.
  EXPECT_EQ(older.ResultOf(test::WriteRequest(0x1CBFE0, test::Ascii("1.01"))), 0);
  EXPECT_EQ(older.ResultOf(test::WriteRequest(0x1CBFDE, {0xFF, 0xFF, 0x31})), unitcode::kNotErased);
  EXPECT_EQ(older.ResultOf(test::WriteRequest(0x000000, {0x00})), unitcode::kNotErased);
}

TEST_F(UnitRefusal, EraseFlaws) {
  EXPECT_EQ(Refusal(test::EraseRequest(0x1FF000, 0x2000)), unitcode::kOutOfRange);
  EXPECT_EQ(Refusal(test::EraseRequest(0x200000, 0x1000)), unitcode::kOutOfRange);
  EXPECT_EQ(Refusal(test::EraseRequest(0x170000, 0)), unitcode::kOutOfRange);
  EXPECT_EQ(Refusal(test::EraseRequest(0xFFFFF000u, 0x2000)), unitcode::kOutOfRange)
      << "an end that wraps around 32 bits";
  EXPECT_EQ(Refusal(test::EraseRequest(0x170800, 0x1000)), unitcode::kMisaligned);
  EXPECT_EQ(Refusal(test::EraseRequest(0x170000, 0x800)), unitcode::kMisaligned);
  auto longErase = test::EraseRequest(0x170000, 0x1000);
  longErase.insert(longErase.end() - 1, 0x00);
  EXPECT_EQ(Refusal(longErase), unitcode::kMalformed);
  auto shortErase = test::EraseRequest(0x170000, 0x1000);
  shortErase.erase(shortErase.end() - 2);
  EXPECT_EQ(Refusal(shortErase), unitcode::kMalformed);
  EXPECT_EQ(h.ResultOf(test::EraseRequest(0x1FF000, 0x1000)), 0) << "the last sector";
}

TEST_F(UnitRefusal, FixedLengthMessagesAndAddressing) {
  EXPECT_EQ(Refusal(Hex("F0 7D 00 4D 01 00 F7")), unitcode::kMalformed);
  EXPECT_EQ(Refusal(Hex("F0 7D 00 4D 04 00 F7")), unitcode::kMalformed);
  EXPECT_EQ(Refusal(Hex("F0 7D 00 4D 01")), unitcode::kMalformed) << "no F7";
  auto longRead = test::ReadRequest(0, 4);
  longRead.insert(longRead.end() - 1, 0x00);
  EXPECT_EQ(Refusal(longRead), unitcode::kMalformed);
  EXPECT_EQ(Refusal(Hex("F0 7D 00 4D 60 F7")), unitcode::kMalformed);
  EXPECT_EQ(h.last.entry.kind, MessageKind::Malformed);
  // Truncated vendor messages that carry no command byte at all.
  EXPECT_EQ(Refusal(Hex("F0 7D 00 F7")), unitcode::kMalformed);
  EXPECT_EQ(Refusal(Hex("F0 7D 00 4D F7")), unitcode::kMalformed);
  EXPECT_EQ(Refusal(Hex("F0 7D 00 00 F7")), unitcode::kMalformed);
  // Not addressed to this unit: device byte not 00, another model byte.
  EXPECT_EQ(Refusal(test::EraseRequest(0x170000, 0x1000, 0x4E)), unitcode::kWrongAddressee);
  EXPECT_EQ(Refusal(test::EraseRequest(0x170000, 0x1000, 0x00)), unitcode::kWrongAddressee);
  EXPECT_EQ(Refusal(Hex("F0 7D 01 4D 01 F7")), unitcode::kWrongAddressee);
}

TEST_F(UnitRefusal, IgnoresWhatIsNotARequest) {
  struct Case {
    const char* text;
    MessageKind kind;
  };
  const Case cases[] = {
      {"F0 7E 00 06 01 00 F7", MessageKind::Identity},  // identity request one byte long
      {"F0 7E 00 06 01", MessageKind::Identity},        // without F7
      {"F0 7E 00 07 01 F7", MessageKind::Foreign},      // another universal sub-id
      {"F0 7E 00 06 03 F7", MessageKind::Foreign},
      {"F0 43 10 4C 00 00 7E 00 F7", MessageKind::Foreign},  // another manufacturer
      {"7D 00 4D 01 F7", MessageKind::Foreign},              // no F0
      {"F7", MessageKind::Foreign},
      {"F0 7D 00 4D 00 00 F7", MessageKind::HostResult},  // a result nobody asked for
  };
  for (const Case& c : cases) {
    const auto bytes = Hex(c.text);
    EXPECT_TRUE(h.Send(bytes).empty()) << c.text;
    EXPECT_EQ(h.last.entry.kind, c.kind) << c.text;
    EXPECT_EQ(h.last.entry.answer, AnswerKind::None) << c.text;
  }
  EXPECT_EQ(h.unit.Count(MessageKind::Foreign), 5u);
  EXPECT_EQ(h.unit.Transcript().back().messageLength, 7u);
  // The bent identity requests are recorded with their flaw.
  EXPECT_EQ(h.unit.Transcript()[1].verdict, unitcode::kMalformed);
}

TEST(RequestParser, ReadsTheFieldsOfWellFormedRequests) {
  const auto erase = ParseReceived(test::EraseRequest(0x66000, 0x10A000).data(), 16, 0x4D, 4096);
  EXPECT_EQ(erase.kind, MessageKind::FlashErase);
  EXPECT_EQ(erase.verdict, 0);
  EXPECT_TRUE(erase.answerable);
  EXPECT_EQ(erase.address, 0x66000u);
  EXPECT_EQ(erase.length, 0x10A000u);

  const std::vector<uint8_t> data(4096, 0xA5);
  const auto message = test::WriteRequest(0x1C7000, data);
  ASSERT_EQ(message.size(), 4700u);
  const auto write = ParseReceived(message.data(), message.size(), 0x4D, 4096);
  EXPECT_EQ(write.verdict, 0);
  EXPECT_EQ(write.address, 0x1C7000u);
  EXPECT_EQ(write.data, data);

  const auto hostResult = ParseReceived(Hex("F0 7D 00 00 00 01 F7").data(), 7, 0x4D, 4096);
  EXPECT_EQ(hostResult.kind, MessageKind::HostResult);
  EXPECT_FALSE(hostResult.answerable);
  EXPECT_EQ(hostResult.hostCode, 1);
}

}  // namespace
}  // namespace kv5
