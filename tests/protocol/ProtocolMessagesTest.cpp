#include "protocol/ProtocolMessages.h"

#include <gtest/gtest.h>

#include <vector>

#include "Bytes.h"

namespace kv5 {
namespace {

using test::Hex;

constexpr uint8_t kModel = 0x4D;

// Runs a builder into a buffer with guard bytes and returns exactly what it wrote.
template <typename Builder>
std::vector<uint8_t> Built(Builder build) {
  std::vector<uint8_t> buffer(20000, 0xEE);
  const int length = build(buffer.data());
  EXPECT_EQ(buffer[length], 0xEE) << "builder wrote past the length it returned";
  buffer.resize(length);
  return buffer;
}

TEST(MessageBuilders, FixedMessages) {
  EXPECT_EQ(Built([](uint8_t* m) { return IdentityRequest(m); }), Hex("F0 7E 00 06 01 F7"));
  EXPECT_EQ(Built([](uint8_t* m) {
              return IdentityReply(m, {0, 0, 0, 0});
            }),
            Hex("F0 7E 00 06 02 7D 00 00 00 00 31 30 30 30 F7"));
  EXPECT_EQ(Built([](uint8_t* m) {
              return IdentityReply(m, {0x4D, 0x00, 0x12, 0x00});
            }),
            Hex("F0 7E 00 06 02 7D 4D 00 12 00 31 30 30 30 F7"));
  EXPECT_EQ(Built([](uint8_t* m) { return ResultMessage(m, kModel, kResultAcknowledge); }),
            Hex("F0 7D 00 4D 00 00 F7"));
  EXPECT_EQ(Built([](uint8_t* m) { return ResultMessage(m, kModel, kResultNotHandled); }),
            Hex("F0 7D 00 4D 00 01 F7"));
  // Before any identification the ModelByte is 00.
  EXPECT_EQ(Built([](uint8_t* m) { return ResultMessage(m, 0x00, kResultAcknowledge); }),
            Hex("F0 7D 00 00 00 00 F7"));
  EXPECT_EQ(Built([](uint8_t* m) { return EnterUpdateMode(m, kModel); }), Hex("F0 7D 00 4D 01 F7"));
  EXPECT_EQ(Built([](uint8_t* m) { return FinishUpdate(m, kModel); }), Hex("F0 7D 00 4D 04 F7"));
}

TEST(MessageBuilders, EraseAndMemoryRead) {
  EXPECT_EQ(Built([](uint8_t* m) { return FlashErase(m, kModel, 0x170000, 0x1000); }),
            Hex("F0 7D 00 4D 0A 00 00 5C 00 00 00 20 00 00 00 F7"));
  EXPECT_EQ(Built([](uint8_t* m) { return MemoryReadRequest(m, kModel, 0x170FE0, 4); }),
            Hex("F0 7D 00 4D 60 30 60 1F 5C 00 00 04 00 00 00 00 F7"));
}

TEST(MessageBuilders, FlashWrite) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(Built([&](uint8_t* m) { return FlashWrite(m, kModel, 0x4B000, abc, 3); }),
            Hex("F0 7D 00 4D 02 00 60 12 00 00 03 00 00 61 62 63 3D 7C 6E 56 0C F7"));

  std::vector<uint8_t> chunk(4096);
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>(i * 7);
  for (int k : {0, 7, 8, 4096}) {
    const auto message =
        Built([&](uint8_t* m) { return FlashWrite(m, kModel, 0, chunk.data(), k); });
    EXPECT_EQ(static_cast<int>(message.size()), FlashWriteLength(k));
    EXPECT_EQ(message.front(), 0xF0);
    EXPECT_EQ(message.back(), 0xF7);
    for (size_t i = 1; i + 1 < message.size(); ++i) ASSERT_LT(message[i], 0x80) << "k=" << k;
  }
  EXPECT_EQ(FlashWriteLength(4096), 4700);
  EXPECT_EQ(FlashWriteLength(7), 26);
  EXPECT_EQ(FlashWriteLength(8), 28);
  EXPECT_EQ(kMaxOutgoingMessage, 4700);
}

}  // namespace
}  // namespace kv5
