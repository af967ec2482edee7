// The page's notice of a chunk the unit keeps refusing: the third attempt of one chunk tells,
// once a session, whatever else the host sends in between; the next chunk counts afresh.
#include "web/RefusedChunkWatch.h"

#include <gtest/gtest.h>

#include <vector>

#include "protocol/ProtocolMessages.h"

namespace kv5 {
namespace {

std::vector<uint8_t> Write(uint32_t address) {
  std::vector<uint8_t> data(16, 0x5A);
  std::vector<uint8_t> message(FlashWriteLength(16));
  message.resize(FlashWrite(message.data(), 0x4D, address, data.data(), 16));
  return message;
}

TEST(RefusedChunkWatch, TheThirdAttemptOfOneChunkTellsOnceASession) {
  std::vector<std::pair<uint32_t, int>> told;
  RefusedChunkWatch watch([&](uint32_t address, int attempts) {
    told.push_back({address, attempts});
  });
  uint8_t answer[kResultMessageLength];
  ResultMessage(answer, 0x4D, kResultAcknowledge);
  auto send = [&](const std::vector<uint8_t>& message) {
    watch.OnSent(message.data(), static_cast<uint32_t>(message.size()));
  };

  // Two attempts of one chunk, then the next chunk twice: nothing yet.
  send(Write(0x4B000));
  send(Write(0x4B000));
  send(Write(0x4C000));
  send(Write(0x4C000));
  EXPECT_TRUE(told.empty());
  // The host's answer to a request of the unit's own between two attempts changes nothing.
  watch.OnSent(answer, kResultMessageLength);
  send(Write(0x4C000));
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0], std::make_pair(0x4C000u, 3));
  send(Write(0x4C000));
  send(Write(0x4D000));
  send(Write(0x4D000));
  send(Write(0x4D000));
  EXPECT_EQ(told.size(), 1u);

  watch.Restart();
  send(Write(0x4D000));
  send(Write(0x4D000));
  send(Write(0x4D000));
  EXPECT_EQ(told.size(), 2u);
}

}  // namespace
}  // namespace kv5
