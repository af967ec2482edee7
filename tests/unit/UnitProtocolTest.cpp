// The unit's answers to well-formed requests, byte for byte, and its update-mode rules.
#include <gtest/gtest.h>

#include "firmware/FirmwarePackage.h"
#include "unit/UnitMessages.h"
#include "unit/UnitRequests.h"

namespace kv5 {
namespace {

using test::Hex;
using Messages = std::vector<std::vector<uint8_t>>;

TEST(UnitProtocol, AnswersTheIdentityRequestWithItsDeviceCode) {
  test::ResponderHarness h(test::ConfigWith(InitialFlash::Factory));
  const auto reply = Hex("F0 7E 00 06 02 7D 4D 00 12 00 01 02 00 00 F7");
  EXPECT_EQ(h.Send(Hex("F0 7E 00 06 01 F7")), Messages{reply});
  EXPECT_EQ(h.Send(Hex("F0 7E 7F 06 01 F7")), Messages{reply}) << "any device id is asked";
  EXPECT_EQ(h.last.entry.answer, AnswerKind::IdentityReply);

  // A code the package refuses; the unit's vendor answers then carry its first byte.
  UnitConfig config = test::ConfigWith(InitialFlash::Factory);
  config.deviceCode = {0x4E, 0x00, 0x02, 0x00};
  config.revision = {0x00, 0x00, 0x00, 0x01};
  test::ResponderHarness refused(config);
  EXPECT_EQ(refused.Send(Hex("F0 7E 00 06 01 F7")),
            Messages{Hex("F0 7E 00 06 02 7D 4E 00 02 00 00 00 00 01 F7")});
  EXPECT_EQ(refused.Send(test::VendorRequest(0x01, 0x4E)), Messages{Hex("F0 7D 00 4E 00 00 F7")});
}

TEST(UnitProtocol, ReadsTheSystemStampOfThePackageAsTheExampleReply) {
  test::ResponderHarness h(test::ConfigWith(InitialFlash::Package, false));
  const auto request = Hex("F0 7D 00 4D 60 30 60 1F 5C 00 00 04 00 00 00 00 F7");
  EXPECT_EQ(h.Send(request), Messages{Hex("F0 7D 00 4D 60 04 30 00 00 04 00 00 31 2E 32 30 10 60 "
                                          "5A 7A 06 F7")});
  EXPECT_EQ(h.last.entry.kind, MessageKind::MemoryRead);
  EXPECT_EQ(h.last.entry.address, 0x170FE0u);
  EXPECT_EQ(h.last.entry.length, 4u);
}

TEST(UnitProtocol, InitialFlashStatesHoldTheirStamps) {
  struct Case {
    InitialFlash state;
    std::array<std::vector<uint8_t>, 4> stamps;  // SYSTEM, PRESET, BOOT, SUBMCU
  };
  const std::vector<uint8_t> erased = {0xFF, 0xFF, 0xFF, 0xFF};
  const Case cases[] = {
      {InitialFlash::Factory, {erased, erased, erased, erased}},
      {InitialFlash::OlderFirmware,
       {test::Ascii("1.10"), test::Ascii("1.00"), test::Ascii("1.00"), erased}},
      {InitialFlash::Package,
       {test::Ascii("1.20"), test::Ascii("1.00"), test::Ascii("1.00"), test::Ascii("1.01")}},
  };
  for (const Case& c : cases) {
    test::ResponderHarness h(test::ConfigWith(c.state));
    for (size_t i = 0; i < StampLocations.size(); ++i) {
      const auto sent = h.Send(test::ReadRequest(StampLocations[i].deviceAddress, 4));
      ASSERT_EQ(sent.size(), 1u);
      EXPECT_EQ(test::ReadReplyData(sent[0]), c.stamps[i])
          << InitialFlashName(c.state) << " " << StampLocations[i].component;
    }
  }
  // Outside the stamps the older firmware is the package's image.
  test::ResponderHarness older(test::ConfigWith(InitialFlash::OlderFirmware));
  const FirmwareImage boot = OpenImage(kBootImageId);
  const auto sent = older.Send(test::ReadRequest(0, 64));
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(test::ReadReplyData(sent[0]), std::vector<uint8_t>(boot.bytes, boot.bytes + 64));
}

TEST(UnitProtocol, ReadsOfAnyLength) {
  test::ResponderHarness h(test::ConfigWith(InitialFlash::Package));
  // Nothing asked: one reply with no data and the checksum of no bytes.
  EXPECT_EQ(h.Send(test::ReadRequest(0x1000, 0)),
            Messages{Hex("F0 7D 00 4D 60 04 30 00 00 00 00 7F 7F 7F 7F 0F F7")});

  // More than one reply holds: replies of 4096 bytes, numbered in bytes 7..8, in order.
  const uint32_t length = 4096 * 2 + 100;
  const auto sent = h.Send(test::ReadRequest(0x04B000, length));
  ASSERT_EQ(sent.size(), 3u);
  std::vector<uint8_t> joined;
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(DecodeSeptet14(&sent[i][7]), static_cast<int>(i));
    const auto data = test::ReadReplyData(sent[i]);
    EXPECT_EQ(data.size(), i < 2 ? 4096u : 100u);
    joined.insert(joined.end(), data.begin(), data.end());
  }
  const uint8_t* flash = h.unit.Flash().Data() + 0x04B000;
  EXPECT_EQ(joined, std::vector<uint8_t>(flash, flash + length));

  // The last byte of the flash can be read; one further cannot.
  EXPECT_EQ(h.Send(test::ReadRequest(0x1FFFFF, 1)).size(), 1u);
  EXPECT_EQ(h.ResultOf(test::ReadRequest(0x1FFFFF, 2)), unitcode::kOutOfRange);
  EXPECT_EQ(h.ResultOf(test::ReadRequest(0x200000, 0)), unitcode::kOutOfRange);
}

TEST(UnitProtocol, ErasesAndWritesTheExampleMessages) {
  test::ResponderHarness h(test::ConfigWith(InitialFlash::Package));
  ASSERT_EQ(h.EnterUpdate(), 0);
  EXPECT_TRUE(h.unit.UpdateEntered());

  const std::vector<uint8_t> before(h.unit.Flash().Data(), h.unit.Flash().Data() + 0x200000);
  const auto erase = Hex("F0 7D 00 4D 0A 00 00 5C 00 00 00 20 00 00 00 F7");
  EXPECT_EQ(h.Send(erase), Messages{Hex("F0 7D 00 4D 00 00 F7")});
  EXPECT_EQ(h.last.entry.address, 0x170000u);
  EXPECT_EQ(h.last.entry.length, 0x1000u);
  for (uint32_t a = 0; a < 0x200000; ++a) {
    const bool inRegion = a >= 0x170000 && a < 0x171000;
    ASSERT_EQ(h.unit.Flash().At(a), inRegion ? 0xFF : before[a]) << a;
  }

  const auto abc = Hex("F0 7D 00 4D 02 00 60 12 00 00 03 00 00 61 62 63 3D 7C 6E 56 0C F7");
  EXPECT_EQ(h.ResultOf(test::EraseRequest(0x04B000, 0x1B000)), 0);
  EXPECT_EQ(h.ResultOf(abc), 0);
  EXPECT_EQ(h.last.entry.kind, MessageKind::FlashWrite);
  EXPECT_EQ(h.last.entry.length, 3u);
  EXPECT_EQ(h.unit.Flash().At(0x04B000), 'a');
  EXPECT_EQ(h.unit.Flash().At(0x04B002), 'c');
  EXPECT_EQ(h.unit.Flash().At(0x04B003), 0xFF);
  // The same bytes again: not erased any more, refused, flash as it was.
  EXPECT_EQ(h.ResultOf(abc), unitcode::kNotErased);
  EXPECT_EQ(h.unit.Flash().At(0x04B000), 'a');

  EXPECT_EQ(h.Send(test::VendorRequest(0x04)), Messages{Hex("F0 7D 00 4D 00 00 F7")});
  EXPECT_FALSE(h.unit.InUpdateMode());
  EXPECT_FALSE(h.unit.UpdateEntered());
}

TEST(UnitProtocol, AnIdenticalRewriteIsAcceptedOnlyWhenConfigured) {
  UnitConfig config = test::ConfigWith(InitialFlash::Factory);
  config.acceptIdenticalRewrite = true;
  test::ResponderHarness h(config);
  ASSERT_EQ(h.EnterUpdate(), 0);
  const auto write = test::WriteRequest(0x1000, {1, 2, 3, 4});
  EXPECT_EQ(h.ResultOf(write), 0);
  EXPECT_EQ(h.ResultOf(write), 0) << "resend of a chunk whose answer was lost";
  EXPECT_EQ(h.ResultOf(test::WriteRequest(0x1000, {1, 2, 3, 5})), unitcode::kNotErased);
  EXPECT_EQ(h.unit.Flash().At(0x1003), 4);
}

TEST(UnitProtocol, UpdateModeDecidesWhatTheUnitAccepts) {
  // Powered up normally: EnterUpdateMode gets 11, erase and write are locked, reads work.
  test::ResponderHarness normal(test::ConfigWith(InitialFlash::OlderFirmware, false));
  EXPECT_EQ(normal.Send(test::VendorRequest(0x01)), Messages{Hex("F0 7D 00 4D 00 0B F7")});
  EXPECT_EQ(normal.ResultOf(test::EraseRequest(0x170000, 0x1000)), unitcode::kUpdateModeOff);
  EXPECT_EQ(normal.ResultOf(test::WriteRequest(0x1CC000, {1})), unitcode::kUpdateModeOff);
  EXPECT_EQ(normal.ResultOf(test::VendorRequest(0x04)), unitcode::kUpdateModeOff);
  EXPECT_EQ(normal.Send(test::ReadRequest(0x170FE0, 4)).size(), 1u);
  EXPECT_EQ(normal.unit.Flash().At(0x170FE0), '1') << "nothing erased";

  // In update mode, but EnterUpdateMode not sent yet.
  test::ResponderHarness update(test::ConfigWith(InitialFlash::OlderFirmware, true));
  EXPECT_EQ(update.ResultOf(test::EraseRequest(0x170000, 0x1000)), unitcode::kUpdateNotEntered);
  EXPECT_EQ(update.ResultOf(test::WriteRequest(0x1CC000, {1})), unitcode::kUpdateNotEntered);
  EXPECT_EQ(update.EnterUpdate(), 0);
  EXPECT_EQ(update.ResultOf(test::EraseRequest(0x170000, 0x1000)), 0);
  EXPECT_EQ(update.ResultOf(test::VendorRequest(0x04)), 0);
  // Finished: the unit runs its normal firmware again.
  EXPECT_EQ(update.EnterUpdate(), unitcode::kNotInUpdateMode);
  EXPECT_EQ(update.ResultOf(test::EraseRequest(0x170000, 0x1000)), unitcode::kUpdateModeOff);

  // A power cycle into update mode opens it again; the flash survives.
  update.unit.PowerUp(true);
  EXPECT_EQ(update.unit.Flash().At(0x170FE0), 0xFF);
  EXPECT_EQ(update.EnterUpdate(), 0);
}

TEST(UnitProtocol, UnknownCommandsGetCodeOne) {
  test::ResponderHarness h(test::ConfigWith(InitialFlash::Factory));
  for (const char* text :
       {"F0 7D 00 4D 03 F7", "F0 7D 00 4D 05 F7", "F0 7D 00 4D 06 F7", "F0 7D 00 4D 61 F7",
        "F0 7D 00 4D 7F 01 02 F7", "F0 7D 00 4D 60 31 00 F7", "F0 7D 00 4D 60 04 30 F7"}) {
    EXPECT_EQ(h.Send(Hex(text)), Messages{Hex("F0 7D 00 4D 00 01 F7")}) << text;
    EXPECT_EQ(h.last.entry.kind, MessageKind::UnknownCommand) << text;
  }
  EXPECT_EQ(h.unit.Count(MessageKind::UnknownCommand), 7u);
  EXPECT_EQ(h.unit.Count(MessageKind::Any), 7u);
}

TEST(UnitProtocol, BuildsItsMessagesFromTheTables) {
  EXPECT_EQ(UnitResultMessage(0x4D, 0), Hex("F0 7D 00 4D 00 00 F7"));
  EXPECT_EQ(UnitResultMessage(0x4D, 11), Hex("F0 7D 00 4D 00 0B F7"));
  const auto stamp = test::Ascii("1.20");
  EXPECT_EQ(UnitReadReply(0x4D, 0, stamp.data(), 4),
            Hex("F0 7D 00 4D 60 04 30 00 00 04 00 00 31 2E 32 30 10 60 5A 7A 06 F7"));
  EXPECT_EQ(UnitReadReply(0x4D, 130, stamp.data(), 4)[7], 0x02);
  EXPECT_EQ(UnitReadReply(0x4D, 130, stamp.data(), 4)[8], 0x01);
  EXPECT_EQ(UnitRequestMessage(0x4D, UnitRequest::Vendor(0x05)), Hex("F0 7D 00 4D 05 F7"));
  EXPECT_EQ(UnitRequestMessage(0x4D, UnitRequest::Identity()), Hex("F0 7E 7F 06 01 F7"));
}

}  // namespace
}  // namespace kv5
