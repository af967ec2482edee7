// Every fault does what it says, alone and combined, on the occurrences it names.
#include <gtest/gtest.h>

#include "unit/UnitConfigText.h"
#include "unit/UnitRequests.h"

namespace kv5 {
namespace {

using namespace std::chrono_literals;
using test::Hex;
using Messages = std::vector<std::vector<uint8_t>>;

const std::vector<uint8_t> kOk = Hex("F0 7D 00 4D 00 00 F7");

UnitConfig Factory(FaultPlan faults) {
  UnitConfig config = test::ConfigWith(InitialFlash::Factory);
  config.faults = std::move(faults);
  return config;
}

TEST(FaultPlanText, ParsesAndDescribesEachAction) {
  struct Case {
    const char* text;
    FaultAction action;
    MessageKind kind;
    Occurrence when;
  };
  const Case cases[] = {
      {"drop:write:3", FaultAction::DropAnswer, MessageKind::FlashWrite, Occurrence::Nth(3)},
      {"drop-request:erase:2-", FaultAction::DropRequest, MessageKind::FlashErase,
       Occurrence::From(2)},
      {"delay:write:1-4:1500", FaultAction::Delay, MessageKind::FlashWrite,
       Occurrence::Range(1, 4)},
      {"code:erase:2-:7", FaultAction::AnswerCode, MessageKind::FlashErase, Occurrence::From(2)},
      {"bad-crc:read:*", FaultAction::CorruptChecksum, MessageKind::MemoryRead,
       Occurrence::Every()},
      {"bad-read-code:read:1:05", FaultAction::CorruptReadCode, MessageKind::MemoryRead,
       Occurrence::Nth(1)},
      {"bad-subcode:read:2:31", FaultAction::CorruptReadSubCode, MessageKind::MemoryRead,
       Occurrence::Nth(2)},
      {"inject:write:2:F0437F00F7", FaultAction::InjectBefore, MessageKind::FlashWrite,
       Occurrence::Nth(2)},
      {"inject-after:identity:1:F07D00F7", FaultAction::InjectAfter, MessageKind::Identity,
       Occurrence::Nth(1)},
      {"silent:any:10-", FaultAction::GoSilent, MessageKind::Any, Occurrence::From(10)},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto fault = FaultPlan::Parse(c.text, &error);
    ASSERT_TRUE(fault) << c.text << ": " << error;
    EXPECT_EQ(fault->action, c.action) << c.text;
    EXPECT_EQ(fault->kind, c.kind) << c.text;
    EXPECT_EQ(fault->when.first, c.when.first) << c.text;
    EXPECT_EQ(fault->when.last, c.when.last) << c.text;
    EXPECT_EQ(DescribeFault(*fault), c.text);
  }
  EXPECT_EQ(FaultPlan::Parse("delay:write:1-4:1500", nullptr)->delay, 1500ms);
  EXPECT_EQ(FaultPlan::Parse("code:erase:2-:7", nullptr)->code, 7);
  EXPECT_EQ(FaultPlan::Parse("bad-read-code:read:1:05", nullptr)->code, 0x05);
  EXPECT_EQ(FaultPlan::Parse("bad-subcode:read:2", nullptr)->code, 0x31);
  EXPECT_EQ(FaultPlan::Parse("inject:write:2:F0437F00F7", nullptr)->message, Hex("F0 43 7F 00 F7"));
  EXPECT_EQ(FaultPlan::Parse("foreign:write:1", nullptr)->message, FaultPlan::ForeignMessage());
  EXPECT_EQ(FaultPlan::Parse("truncated:write:1", nullptr)->message, Hex("F0 7D 00 F7"));
  EXPECT_EQ(FaultPlan::Parse("no-f0:write:1", nullptr)->message[0], 0x7D);

  for (const char* bad : {"drop:nosuch:1", "drop:write", "drop:write:0", "drop:write:3-2",
                          "delay:write:1", "code:write:1:200", "code:write:1:x", "explode:write:1",
                          "inject:write:1:F0F", "drop:write:1:5", "drop:write:1:2:3"}) {
    std::string error;
    EXPECT_FALSE(FaultPlan::Parse(bad, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(UnitConfigText, DataBytesAreEightHexDigitsOfSysexDataBytes) {
  EXPECT_EQ(ParseDataBytes("4D001200"), (std::array<uint8_t, 4>{0x4D, 0x00, 0x12, 0x00}));
  EXPECT_EQ(ParseDataBytes("7f7F0001"), (std::array<uint8_t, 4>{0x7F, 0x7F, 0x00, 0x01}));
  for (const char* bad :
       {"", "4D00120", "4D0012000", "4D00120G", "80001200", "4D 01200", "4D.01.20"}) {
    EXPECT_FALSE(ParseDataBytes(bad)) << bad;
  }
}

TEST(UnitFaults, DropAnswerActsButSendsNothing) {
  test::ResponderHarness h(
      Factory(FaultPlan().DropAnswer(MessageKind::FlashWrite, Occurrence::Nth(2))));
  ASSERT_EQ(h.EnterUpdate(), 0);
  EXPECT_EQ(h.Send(test::WriteRequest(0x1000, {1})), Messages{kOk});
  EXPECT_TRUE(h.Send(test::WriteRequest(0x1001, {2})).empty());
  EXPECT_EQ(h.unit.Flash().At(0x1001), 2) << "the write took place";
  EXPECT_TRUE(h.last.entry.HadFault(FaultAction::DropAnswer));
  EXPECT_EQ(h.last.entry.code, 0) << "the transcript keeps the swallowed answer";
  EXPECT_EQ(h.Send(test::WriteRequest(0x1002, {3})), Messages{kOk});
  // The resend of the dropped chunk meets programmed flash.
  EXPECT_EQ(h.ResultOf(test::WriteRequest(0x1001, {2})), unitcode::kNotErased);
}

TEST(UnitFaults, DropRequestLosesTheMessage) {
  test::ResponderHarness h(
      Factory(FaultPlan().DropRequest(MessageKind::FlashWrite, Occurrence::Nth(1))));
  ASSERT_EQ(h.EnterUpdate(), 0);
  const auto write = test::WriteRequest(0x1000, {1});
  EXPECT_TRUE(h.Send(write).empty());
  EXPECT_EQ(h.unit.Flash().At(0x1000), 0xFF);
  EXPECT_EQ(h.ResultOf(write), 0) << "the resend finds erased flash";
  EXPECT_EQ(h.unit.Count(MessageKind::FlashWrite), 2u);
}

TEST(UnitFaults, DelayHoldsTheAnswerAndAddsUp) {
  FaultPlan plan;
  plan.Delay(MessageKind::FlashErase, Occurrence::From(2), 1500ms)
      .Delay(MessageKind::FlashErase, Occurrence::Nth(3), 250ms);
  test::ResponderHarness h(Factory(plan));
  ASSERT_EQ(h.EnterUpdate(), 0);
  const std::chrono::milliseconds expected[] = {0ms, 1500ms, 1750ms, 1500ms};
  for (auto delay : expected) {
    EXPECT_EQ(h.Send(test::EraseRequest(0x1000, 0x1000)), Messages{kOk});
    ASSERT_EQ(h.last.messages.size(), 1u);
    EXPECT_EQ(h.last.messages[0].delay, delay);
  }
}

TEST(UnitFaults, AnswerCodeRefusesWithoutActing) {
  test::ResponderHarness h(test::ConfigWith(InitialFlash::Package));
  h.unit.AddFault(
      {MessageKind::FlashErase, Occurrence::From(2), FaultAction::AnswerCode, {}, 7, {}});
  h.unit.AddFault({MessageKind::Identity, Occurrence::Nth(1), FaultAction::AnswerCode, {}, 9, {}});
  ASSERT_EQ(h.EnterUpdate(), 0);
  EXPECT_EQ(h.ResultOf(test::EraseRequest(0x170000, 0x1000)), 0);
  EXPECT_EQ(h.ResultOf(test::EraseRequest(0x1C7000, 0x5000)), 7);
  EXPECT_EQ(h.ResultOf(test::EraseRequest(0x1C7000, 0x5000)), 7);
  EXPECT_NE(h.unit.Flash().At(0x1CBFE0), 0xFF) << "SUBMCU still holds its stamp";
  EXPECT_EQ(h.ResultOf(Hex("F0 7E 00 06 01 F7")), 9);
  EXPECT_EQ(h.Send(Hex("F0 7E 00 06 01 F7")).at(0).size(), 15u);
}

TEST(UnitFaults, CorruptsReadReplies) {
  FaultPlan plan;
  plan.CorruptChecksum(Occurrence::Nth(1))
      .CorruptReadCode(Occurrence::Nth(2))
      .CorruptReadSubCode(Occurrence::Nth(3));
  test::ResponderHarness h(test::ConfigWith(InitialFlash::Package));
  for (const Fault& fault : plan.Faults()) h.unit.AddFault(fault);
  const auto request = test::ReadRequest(0x170FE0, 4);
  const auto good = Hex("F0 7D 00 4D 60 04 30 00 00 04 00 00 31 2E 32 30 10 60 5A 7A 06 F7");

  const auto badCrc = h.Send(request).at(0);
  EXPECT_TRUE(test::ReadReplyData(badCrc).empty());
  EXPECT_EQ(DecodeSeptet32(&badCrc[16]), 0x6F56B010u + 1);
  EXPECT_TRUE(std::equal(good.begin(), good.begin() + 16, badCrc.begin())) << "only the checksum";

  auto expected = good;
  expected[5] = 0x01;
  EXPECT_EQ(h.Send(request), Messages{expected});
  expected = good;
  expected[6] = 0x31;
  EXPECT_EQ(h.Send(request), Messages{expected});
  EXPECT_EQ(h.Send(request), Messages{good});
}

TEST(UnitFaults, InjectsTrafficAroundTheAnswer) {
  FaultPlan plan;
  plan.Inject(MessageKind::FlashWrite, Occurrence::Nth(1), FaultPlan::ForeignMessage())
      .Inject(MessageKind::FlashWrite, Occurrence::Nth(1), FaultPlan::BytesWithoutF0())
      .Inject(MessageKind::FlashWrite, Occurrence::Nth(2), FaultPlan::TruncatedVendorMessage(),
              true)
      .DropAnswer(MessageKind::FlashWrite, Occurrence::Nth(3))
      .Inject(MessageKind::FlashWrite, Occurrence::Nth(3), FaultPlan::ForeignMessage(), true);
  test::ResponderHarness h(Factory(plan));
  ASSERT_EQ(h.EnterUpdate(), 0);
  EXPECT_EQ(h.Send(test::WriteRequest(0x1000, {1})),
            (Messages{FaultPlan::ForeignMessage(), FaultPlan::BytesWithoutF0(), kOk}));
  EXPECT_EQ(h.last.messages[0].role, Outgoing::Role::Injected);
  EXPECT_EQ(h.Send(test::WriteRequest(0x1001, {1})), (Messages{kOk, Hex("F0 7D 00 F7")}));
  EXPECT_EQ(h.Send(test::WriteRequest(0x1002, {1})), Messages{FaultPlan::ForeignMessage()})
      << "an injection survives the dropped answer";
}

TEST(UnitFaults, GoesSilentFromAPointOn) {
  UnitConfig config = Factory(FaultPlan().GoSilent(MessageKind::Any, Occurrence::Range(3, 4)));
  config.ownRequests.push_back({UnitRequest::Vendor(0x01), MessageKind::FlashWrite, 1, false});
  test::ResponderHarness h(config);
  ASSERT_EQ(h.EnterUpdate(), 0);                                 // message 1
  EXPECT_EQ(h.ResultOf(test::EraseRequest(0x1000, 0x1000)), 0);  // message 2
  EXPECT_TRUE(h.Send(test::WriteRequest(0x1000, {1})).empty());  // 3: silent, no request
  EXPECT_TRUE(h.Send(Hex("F0 7E 00 06 01 F7")).empty());
  EXPECT_EQ(h.unit.Flash().At(0x1000), 0xFF) << "a hung unit does not write";
  EXPECT_TRUE(h.unit.Silent());
  EXPECT_TRUE(h.unit.MakeRequest(UnitRequest::Identity()).empty());
  EXPECT_EQ(h.unit.Transcript().size(), 4u) << "still recorded";
  EXPECT_TRUE(h.unit.Transcript()[2].HadFault(FaultAction::GoSilent));
  h.unit.PowerUp(true);
  EXPECT_EQ(h.EnterUpdate(), 0) << "a power cycle wakes it";
}

TEST(UnitFaults, OccurrencesCountPerKindOrOverall) {
  FaultPlan plan;
  plan.AnswerCode(MessageKind::FlashErase, Occurrence::Range(2, 3), 40)
      .AnswerCode(MessageKind::Any, Occurrence::Nth(6), 41);
  test::ResponderHarness h(Factory(plan));
  ASSERT_EQ(h.EnterUpdate(), 0);  // overall 1
  std::vector<int> codes;
  for (int i = 0; i < 4; ++i) codes.push_back(h.ResultOf(test::EraseRequest(0x1000, 0x1000)));
  EXPECT_EQ(codes, (std::vector<int>{0, 40, 40, 0}));
  EXPECT_EQ(h.ResultOf(test::VendorRequest(0x06)), 41) << "sixth message of all";
  EXPECT_EQ(h.ResultOf(test::VendorRequest(0x06)), 1);
}

TEST(UnitFaults, CombinedOnOneReply) {
  FaultPlan plan;
  plan.Delay(MessageKind::MemoryRead, Occurrence::Nth(1), 2000ms)
      .CorruptChecksum(Occurrence::Nth(1))
      .Inject(MessageKind::MemoryRead, Occurrence::Nth(1), FaultPlan::TruncatedVendorMessage());
  test::ResponderHarness h(test::ConfigWith(InitialFlash::Package));
  for (const Fault& fault : plan.Faults()) h.unit.AddFault(fault);
  const auto sent = h.Send(test::ReadRequest(0x170FE0, 4));
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], Hex("F0 7D 00 F7"));
  EXPECT_TRUE(test::ReadReplyData(sent[1]).empty());
  for (const Outgoing& out : h.last.messages) EXPECT_EQ(out.delay, 2000ms);
  EXPECT_TRUE(h.last.entry.HadFault(FaultAction::Delay));
  EXPECT_TRUE(h.last.entry.HadFault(FaultAction::CorruptChecksum));
  EXPECT_TRUE(h.last.entry.HadFault(FaultAction::InjectBefore));
  EXPECT_FALSE(h.last.entry.HadFault(FaultAction::DropAnswer));
}

}  // namespace
}  // namespace kv5
