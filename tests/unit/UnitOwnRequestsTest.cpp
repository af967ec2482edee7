// The unit's own requests, on demand and at chosen moments, and how it records the host's
// answers to them.
#include <gtest/gtest.h>

#include "unit/UnitRequests.h"

namespace kv5 {
namespace {

using test::Hex;

TEST(UnitOwnRequests, BuildsItsRequestsAndPairsTheHostAnswers) {
  test::ResponderHarness h(test::ConfigWith(InitialFlash::Factory));
  EXPECT_EQ(h.unit.MakeRequest(UnitRequest::Vendor(0x01)), Hex("F0 7D 00 4D 01 F7"));
  EXPECT_EQ(h.unit.MakeRequest(UnitRequest::Identity()), Hex("F0 7E 7F 06 01 F7"));
  EXPECT_EQ(h.unit.MakeRequest(UnitRequest::Vendor(0x05)), Hex("F0 7D 00 4D 05 F7"));

  // The host's acknowledgement (before its first identification it carries model 00), its
  // identity reply with EchoCode and "1000", and a second acknowledgement.
  EXPECT_TRUE(h.Send(Hex("F0 7D 00 00 00 00 F7")).empty());
  EXPECT_TRUE(h.Send(Hex("F0 7E 00 06 02 7D 00 00 00 00 31 30 30 30 F7")).empty());
  EXPECT_TRUE(h.Send(Hex("F0 7D 00 4D 00 00 F7")).empty());
  // An answer nobody asked for.
  EXPECT_TRUE(h.Send(Hex("F0 7D 00 4D 00 01 F7")).empty());

  const auto& answers = h.unit.HostAnswers();
  ASSERT_EQ(answers.size(), 4u);
  EXPECT_EQ(answers[0].kind, MessageKind::HostResult);
  EXPECT_EQ(answers[0].request, UnitRequest::Vendor(0x01));
  EXPECT_EQ(answers[0].code, 0);
  EXPECT_EQ(answers[1].kind, MessageKind::HostIdentity);
  EXPECT_EQ(answers[1].request, UnitRequest::Identity());
  EXPECT_EQ(answers[1].bytes, Hex("F0 7E 00 06 02 7D 00 00 00 00 31 30 30 30 F7"));
  EXPECT_EQ(answers[2].request, UnitRequest::Vendor(0x05));
  EXPECT_FALSE(answers[3].request.has_value());
  EXPECT_EQ(answers[3].code, 1);
  EXPECT_EQ(h.unit.Count(MessageKind::HostResult), 3u);
  EXPECT_EQ(h.unit.Count(MessageKind::HostIdentity), 1u);
  EXPECT_EQ(h.unit.Transcript()[1].verdict, 0);

  // A bent identity reply is recorded with its flaw.
  h.unit.MakeRequest(UnitRequest::Identity());
  EXPECT_TRUE(h.Send(Hex("F0 7E 00 06 02 7D 4D 00 12 00 F7")).empty());
  EXPECT_EQ(h.unit.Transcript().back().verdict, unitcode::kMalformed);
  EXPECT_EQ(h.unit.HostAnswers().back().request, UnitRequest::Identity());
}

TEST(UnitOwnRequests, SentAtChosenMomentsOnce) {
  UnitConfig config = test::ConfigWith(InitialFlash::Factory);
  config.ownRequests.push_back({UnitRequest::Vendor(0x04), MessageKind::FlashWrite, 2, false});
  config.ownRequests.push_back({UnitRequest::Identity(), MessageKind::FlashWrite, 2, true});
  config.ownRequests.push_back({UnitRequest::Vendor(0x01), MessageKind::Any, 1, false});
  test::ResponderHarness h(config);
  h.unit.Schedule({UnitRequest::Vendor(0x05), MessageKind::FlashErase, 1, false});

  EXPECT_EQ(
      h.Send(test::VendorRequest(0x01)),
      (std::vector<std::vector<uint8_t>>{Hex("F0 7D 00 4D 00 00 F7"), Hex("F0 7D 00 4D 01 F7")}));
  EXPECT_EQ(h.last.messages[1].role, Outgoing::Role::OwnRequest);
  EXPECT_EQ(h.Send(test::EraseRequest(0x1000, 0x1000)).size(), 2u);
  EXPECT_EQ(h.Send(test::WriteRequest(0x1000, {1})).size(), 1u);
  EXPECT_EQ(h.Send(test::WriteRequest(0x1001, {1})),
            (std::vector<std::vector<uint8_t>>{
                Hex("F0 7E 7F 06 01 F7"), Hex("F0 7D 00 4D 00 00 F7"), Hex("F0 7D 00 4D 04 F7")}));
  EXPECT_EQ(h.Send(test::WriteRequest(0x1002, {1})).size(), 1u) << "fired once";
  EXPECT_EQ(h.Send(test::EraseRequest(0x2000, 0x1000)).size(), 1u);

  // Delayed answers take the requests scheduled with them along, in order.
  h.unit.AddFault({MessageKind::FlashWrite,
                   Occurrence::Nth(4),
                   FaultAction::Delay,
                   std::chrono::milliseconds(300),
                   0,
                   {}});
  h.unit.Schedule({UnitRequest::Vendor(0x01), MessageKind::FlashWrite, 4, false});
  h.Send(test::WriteRequest(0x1003, {1}));
  ASSERT_EQ(h.last.messages.size(), 2u);
  EXPECT_EQ(h.last.messages[1].delay, std::chrono::milliseconds(300));
}

}  // namespace
}  // namespace kv5
