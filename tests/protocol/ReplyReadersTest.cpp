#include "protocol/ReplyReaders.h"

#include <gtest/gtest.h>

#include <vector>

#include "Bytes.h"

namespace kv5 {
namespace {

using test::Hex;

const std::vector<uint8_t> kStampReply =
    Hex("F0 7D 00 4D 60 04 30 00 00 04 00 00 31 2E 32 30 10 60 5A 7A 06 F7");

TEST(ReplyReaders, IdentityReply) {
  DeviceCodeBytes code{};
  const auto reply = Hex("F0 7E 00 06 02 7D 4D 00 12 00 01 00 00 00 F7");
  ASSERT_TRUE(ReadIdentityReplyCode(reply.data(), static_cast<uint32_t>(reply.size()), &code));
  EXPECT_EQ(code, (DeviceCodeBytes{0x4D, 0x00, 0x12, 0x00}));
  // Ten bytes reach the code; nine do not. Device ID and manufacturer are not examined.
  EXPECT_TRUE(ReadIdentityReplyCode(Hex("F0 7E 7F 06 02 41 01 02 03 04").data(), 10, &code));
  EXPECT_EQ(code, (DeviceCodeBytes{1, 2, 3, 4}));
  EXPECT_FALSE(ReadIdentityReplyCode(reply.data(), 9, &code));
  EXPECT_FALSE(ReadIdentityReplyCode(Hex("F0 7E 00 06 01 F7 00 00 00 00").data(), 10, &code));
  EXPECT_FALSE(ReadIdentityReplyCode(Hex("F0 7E 00 07 02 7D 00 00 00 00").data(), 10, &code));
}

TEST(ReplyReaders, ResultCode) {
  uint8_t code = 0xEE;
  EXPECT_TRUE(ReadResultCode(Hex("F0 7D 00 4D 00 0B F7").data(), 7, &code));
  EXPECT_EQ(code, 11);
  EXPECT_TRUE(ReadResultCode(Hex("F0 7D 55 66 00 00").data(), 6, &code));
  EXPECT_EQ(code, 0);
  EXPECT_FALSE(ReadResultCode(Hex("F0 7D 00 4D 00").data(), 5, &code));
  EXPECT_FALSE(ReadResultCode(Hex("F0 7D 00 4D 01 00 F7").data(), 7, &code));
}

TEST(ReplyReaders, MemoryReadReply) {
  MemoryReadReplyFields fields;
  ASSERT_TRUE(
      ReadMemoryReadReply(kStampReply.data(), static_cast<uint32_t>(kStampReply.size()), &fields));
  EXPECT_EQ(fields.count, 4);
  EXPECT_EQ(fields.packedLength, 5);
  EXPECT_EQ(fields.packed, kStampReply.data() + 11);
  EXPECT_EQ(fields.checksum, 0x6F56B010u);

  // The closing F7 is not needed, but every checksum byte is.
  EXPECT_TRUE(ReadMemoryReadReply(kStampReply.data(), 21, &fields));
  EXPECT_FALSE(ReadMemoryReadReply(kStampReply.data(), 20, &fields));
  EXPECT_FALSE(ReadMemoryReadReply(kStampReply.data(), 10, &fields));

  // A count promising more packed bytes than the message holds is not read.
  auto promising = kStampReply;
  promising[9] = 0x7F;
  EXPECT_FALSE(
      ReadMemoryReadReply(promising.data(), static_cast<uint32_t>(promising.size()), &fields));

  auto wrongSubCode = kStampReply;
  wrongSubCode[6] = 0x31;
  EXPECT_FALSE(ReadMemoryReadReply(wrongSubCode.data(), 22, &fields));
  wrongSubCode = kStampReply;
  wrongSubCode[5] = 0x01;
  EXPECT_FALSE(ReadMemoryReadReply(wrongSubCode.data(), 22, &fields));
}

}  // namespace
}  // namespace kv5
