// Every way the firmware update can fail: the message shown, the busy state left after it, and
// nothing sent to the unit afterwards. Also the retry counting of erases and chunk writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SessionRig.h"
#include "SessionScripts.h"
#include "firmware/EmbeddedImages.h"
#include "firmware/FirmwarePackage.h"
#include "session/UpdateWorker.h"

namespace kv5 {
namespace {

using namespace kv5::test;
using Events = std::vector<std::string>;

constexpr uint32_t kPresetStart = 0x04B000;

struct Failure {
  const char* name;
  const char* kind;  // the request the unit answers badly
  ScriptedUnit::Script script;
  Events ending;  // the session's last events
};

// Runs an update whose unit answers one kind of request by script; the session must end with
// the given events, so nothing was sent or shown after them.
void ExpectEnding(const Failure& failure) {
  SCOPED_TRACE(failure.name);
  SessionRig rig;
  rig.unit.On(failure.kind, failure.script);
  EXPECT_EQ(UpdateWorker(rig.host), 0);
  EXPECT_EQ(Tail(rig.host.Events(), failure.ending.size()), failure.ending);
  EXPECT_EQ(rig.host.Count("leave"), 1);
  EXPECT_EQ(rig.host.Count("actions:0"), 0);
}

TEST(UpdateFailure, Identification) {
  auto ending = [&](int id) {
    return Events{"step:0/10", "send:identify", ErrorEvent(id), "leave"};
  };
  const std::vector<Failure> failures = {
      {"send fails", "identify", Always(With(UnitAnswer::Action::FailSend)),
       ending(IDS_CANT_OPEN_OUT)},
      {"no answer", "identify", Always(Drop()), ending(IDS_TIMEOUT_IDENTIFY)},
      {"refused", "identify", Always(Send(UnitResult(5))), ending(IDS_ILLEGAL_DEVICE)},
      {"refused with 11", "identify", Always(Send(UnitResult(11))), ending(IDS_ILLEGAL_DEVICE)},
      {"code not accepted", "identify", Always(Send(UnitIdentityReply({0x4D, 0x00, 0x22, 0x00}))),
       ending(IDS_ILLEGAL_DEVICE)},
      {"other model", "identify", Always(Send(UnitIdentityReply({0x4E, 0x00, 0x02, 0x00}))),
       ending(IDS_ILLEGAL_DEVICE)},
      // A bare success reports no code at all.
      {"bare success", "identify", Always(Send(UnitResult(0))), ending(IDS_ILLEGAL_DEVICE)},
  };
  for (const Failure& failure : failures) {
    ExpectEnding(failure);
  }
  // The whole session is exactly those four events.
  SessionRig rig;
  rig.unit.On("identify", Always(Drop()));
  UpdateWorker(rig.host);
  EXPECT_EQ(rig.host.Events(), ending(IDS_TIMEOUT_IDENTIFY));
  EXPECT_EQ(rig.state.EchoCode(), (DeviceCodeBytes{0, 0, 0, 0}));
}

TEST(UpdateFailure, EnterUpdateMode) {
  const std::string erasing = StatusEvent(IDS_ERASING);
  ExpectEnding({"no answer",
                "enter",
                Always(Drop()),
                // The status line keeps its text: it is emptied only once an answer came.
                {"send:enter", erasing, ErrorEvent(IDS_TIMEOUT_IDENTIFY), "leave"}});
  ExpectEnding({"not in update mode",
                "enter",
                Always(Reply(11)),
                {"send:enter", erasing, "status:", ErrorEvent(IDS_USE_UPDATE_MODE), "leave"}});
  ExpectEnding({"error code",
                "enter",
                Always(Reply(1)),
                {"send:enter", erasing, "status:", ErrorEvent(IDS_TRANSFER_ERROR), "leave"}});
  ExpectEnding({"error code 127",
                "enter",
                Always(Reply(127)),
                {"send:enter", erasing, "status:", ErrorEvent(IDS_TRANSFER_ERROR), "leave"}});
}

TEST(UpdateFailure, BootStampRead) {
  const Events ending = {"status:", "send:read", ErrorEvent(IDS_TRANSFER_ERROR), "leave"};
  ExpectEnding({"no answer", "read", Always(Drop()), ending});
  ExpectEnding(
      {"bad checksum", "read", Always(Send(UnitReadReply(Ascii4("1.00"), false))), ending});
  ExpectEnding({"wrong sub-code", "read",
                Always(Send(Bytes{0xF0, 0x7D, 0x00, 0x4D, 0x60, 0x04, 0x31, 0xF7})), ending});
  // Not a read reply: it must not pass for one with the bytes of an earlier read.
  ExpectEnding({"not a read reply", "read",
                Always(Send(Bytes{0xF0, 0x7D, 0x00, 0x4D, 0x60, 0x01, 0xF7})), ending});
  ExpectEnding({"error code", "read", Always(Send(UnitResult(4))), ending});
  // Fewer bytes than asked for: the stamp must not be made of what an earlier read left.
  ExpectEnding({"no bytes", "read", Always(Send(UnitReadReply({}))), ending});
  ExpectEnding({"two bytes", "read", Always(Send(UnitReadReply(Bytes{0x31, 0x2E}))), ending});
}

// Packages the real build never holds: one without the BOOT image, and one whose BOOT image ends
// a byte before the end of its stamp (its own buffer of that length, so a read past it is caught).
FirmwareImage WithoutBootImage(int resourceId) {
  return resourceId == kBootImageId ? FirmwareImage{} : EmbeddedImage(resourceId);
}

FirmwareImage WithShortBootImage(int resourceId) {
  if (resourceId != kBootImageId) return EmbeddedImage(resourceId);
  static const std::vector<uint8_t> bytes = [] {
    const FirmwareImage boot = EmbeddedImage(kBootImageId);
    return std::vector<uint8_t>(boot.bytes, boot.bytes + kBootStamp.imageOffset + 3);
  }();
  return {bytes.data(), static_cast<uint32_t>(bytes.size())};
}

TEST(UpdateFailure, PackageWithoutTheBootStamp) {
  // The unit's stamp is read, the package's cannot be: the session fails before it erases.
  const Events ending = {"status:", "send:read", ErrorEvent(IDS_TRANSFER_ERROR), "leave"};
  for (ImageLookup package : {WithoutBootImage, WithShortBootImage}) {
    SetImageLookup(package);
    SessionRig rig;
    EXPECT_EQ(UpdateWorker(rig.host), 0);
    SetImageLookup(nullptr);
    EXPECT_EQ(Tail(rig.host.Events(), ending.size()), ending);
    EXPECT_EQ(rig.host.Count("leave"), 1);
  }
}

TEST(UpdateFailure, CodeBytesOf0x80AndMoreAreFailureAnswers) {
  // Only the window's abort ends a session silently: no answer of a unit can, not even 0xFF.
  const std::string erasing = StatusEvent(IDS_ERASING);
  for (int code : {0x80, 0xFF}) {
    SCOPED_TRACE(code);
    ExpectEnding({"enter",
                  "enter",
                  Always(Reply(code)),
                  {"send:enter", erasing, "status:", ErrorEvent(IDS_TRANSFER_ERROR), "leave"}});
    ExpectEnding({"erase",
                  "erase",
                  Always(Reply(code)),
                  {"send:erase", "pos:1", erasing, ErrorEvent(IDS_TRANSFER_ERROR), "leave"}});
  }
  // The next session of the same window runs as if nothing had happened.
  SessionRig rig;
  rig.unit.On("write", PerAddress({{kPresetStart, Repeat(Reply(0xFF), 1)}}));
  rig.unit.On("enter", Always(Reply(0xFF)));
  UpdateWorker(rig.host);
  rig.unit.On("enter", Always(Reply(0)));
  UpdateWorker(rig.host);
  EXPECT_EQ(Tail(rig.host.Events(), 2), (Events{"leave", "actions:0"}));
  EXPECT_EQ(rig.host.Count("leave"), 2);
  for (const FlashRegion& region : kFlashRegions) EXPECT_TRUE(rig.unit.RegionHoldsImage(region));
}

TEST(UpdateFailure, EraseRetriesErrorsButNotTimeouts) {
  const std::string erasing = StatusEvent(IDS_ERASING);
  {
    SCOPED_TRACE("six errors, then the erase succeeds");
    SessionRig rig;
    rig.unit.On("erase", PerAddress({{0x170000, Repeat(Reply(3), 6)}}));
    UpdateWorker(rig.host);
    EXPECT_EQ(Tail(rig.host.Events(), 2), (Events{"leave", "actions:0"}));
    EXPECT_EQ(rig.unit.CountOf("erase"), 5 + 6);
    const Events events = rig.host.Events();
    const auto step1 = std::find(events.begin(), events.end(), "step:1/10");
    const auto step2 = std::find(events.begin(), events.end(), "step:2/10");
    Events expected = {"range:10"};
    for (int attempt = 0; attempt < 7; ++attempt)
      expected.insert(expected.end(), {"send:erase", "pos:1", erasing});
    expected.push_back("pos:10");
    EXPECT_EQ(Events(step1 + 1, step2), expected);
  }
  {
    SCOPED_TRACE("the seventh error ends it");
    SessionRig rig;
    rig.unit.On("erase", Always(Reply(3)));
    UpdateWorker(rig.host);
    EXPECT_EQ(Tail(rig.host.Events(), 5),
              (Events{"send:erase", "pos:1", erasing, ErrorEvent(IDS_TRANSFER_ERROR), "leave"}));
    EXPECT_EQ(rig.unit.CountOf("erase"), 7);
  }
  ExpectEnding({"a timeout ends it at once",
                "erase",
                Always(Drop()),
                {"step:1/10", "range:10", "send:erase", "pos:1", erasing,
                 ErrorEvent(IDS_TIMEOUT_ERASE), "leave"}});
  {
    SCOPED_TRACE("a timeout after errors, on a later erase");
    SessionRig rig;
    rig.unit.On("erase", PerAddress({{0x066000, Repeat(Reply(9), 3) + Repeat(Drop(), 1)}}));
    UpdateWorker(rig.host);
    EXPECT_EQ(Tail(rig.host.Events(), 2), (Events{ErrorEvent(IDS_TIMEOUT_ERASE), "leave"}));
    EXPECT_EQ(rig.host.EventsStartingWith("step:").back(), "step:6/10");
    EXPECT_EQ(rig.unit.CountOf("erase"), 3 + 4);
  }
}

TEST(UpdateFailure, ChunkFailuresCountUntilAnAcknowledgement) {
  const uint32_t laterChunk = kPresetStart + 5 * 4096;
  SessionRig rig;
  rig.unit.On("write",
              PerAddress({{kPresetStart, Repeat(Drop(), 31)}, {laterChunk, Repeat(Reply(7), 31)}}));
  UpdateWorker(rig.host);
  EXPECT_EQ(Tail(rig.host.Events(), 2), (Events{"leave", "actions:0"}));
  EXPECT_EQ(rig.unit.CountOf("write"), 368 + 31 + 31);
  for (const FlashRegion& region : kFlashRegions) EXPECT_TRUE(rig.unit.RegionHoldsImage(region));
  // Each attempt shows the bytes acknowledged before the chunk.
  const Events events = rig.host.Events();
  EXPECT_EQ(std::count(events.begin(), events.end(), "status:Data transmit  0 / 110592 "), 32);
  EXPECT_EQ(std::count(events.begin(), events.end(), "status:Data transmit  20480 / 110592 "), 32);
}

TEST(UpdateFailure, TheLastOfThirtyTwoFailuresPicksTheMessage) {
  const uint32_t chunk = kPresetStart + 4096;
  const Events writeAttempt = {"send:write", "status:Data transmit  4096 / 110592 "};
  auto ending = [&](int id) {
    return Events{writeAttempt[0], writeAttempt[1], ErrorEvent(id), "leave"};
  };
  ExpectEnding({"20 timeouts, then 12 errors", "write",
                PerAddress({{chunk, Repeat(Drop(), 20) + Repeat(Reply(2), 12)}}),
                ending(IDS_TRANSFER_ERROR)});
  ExpectEnding({"12 errors, then 20 timeouts", "write",
                PerAddress({{chunk, Repeat(Reply(2), 12) + Repeat(Drop(), 20)}}),
                ending(IDS_TIMEOUT_WRITE)});
  SessionRig rig;
  rig.unit.On("write", PerAddress({{chunk, Repeat(Reply(2), 32)}}));
  UpdateWorker(rig.host);
  EXPECT_EQ(rig.unit.CountOf("write"), 1 + 32);
  EXPECT_EQ(Tail(rig.host.Events(), 4), ending(IDS_TRANSFER_ERROR));
}

TEST(UpdateFailure, FinishUpdate) {
  const std::string lastChunk = "status:Data transmit  0 / 4096 ";
  ExpectEnding({"no answer",
                "finish",
                Always(Drop()),
                {lastChunk, "pos:4096", "send:finish", ErrorEvent(IDS_TRANSFER_ERROR), "leave"}});
  // Any answer completes the update: its code is not examined.
  for (int code : {0, 1, 9, 11, 127}) {
    SessionRig rig;
    rig.unit.On("finish", Always(Reply(code)));
    UpdateWorker(rig.host);
    EXPECT_EQ(Tail(rig.host.Events(), 9),
              (Events{"step:10/10", "range:4096", "send:write", lastChunk, "pos:4096",
                      "send:finish", StatusEvent(IDS_UPDATE_COMPLETED), "leave", "actions:0"}))
        << code;
  }
}

TEST(UpdateFailure, AnImageThatCannotGiveTheBytes) {
  for (const auto& [size, id] : {std::pair<uint32_t, int>{0, 136}, {0x5001, kSubmcuImageId}}) {
    SessionRig rig;
    EXPECT_EQ(WriteImage(rig.host, 0x1C7000, size, id), -1);
    EXPECT_EQ(rig.host.Events(), (Events{ErrorEvent(IDS_TRANSFER_ERROR), "leave"}));
  }
}

}  // namespace
}  // namespace kv5
