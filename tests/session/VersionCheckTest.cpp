// The version check against a scripted unit: the four stamps read in order into the table, the
// report, and every way the check ends (ports closed and the result posted, or silence on abort).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SessionRig.h"
#include "SessionScripts.h"
#include "session/VersionCheckWorker.h"

namespace kv5 {
namespace {

using namespace kv5::test;
using Events = std::vector<std::string>;
using Action = UnitAnswer::Action;

constexpr uint32_t kSystemAt = 0x170FE0, kPresetAt = 0x065FFC, kBootAt = 0x04AFFC,
                   kSubmcuAt = 0x1CBFE0;

void SetStamps(ScriptedUnit& unit, const char* system, const char* preset, const char* boot) {
  unit.SetFlash(kSystemAt, Ascii4(system));
  unit.SetFlash(kPresetAt, Ascii4(preset));
  unit.SetFlash(kBootAt, Ascii4(boot));
}

const Events kEnding = {"close-out", "close-in", "done:-1"};

Events Then(Events first, const Events& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

TEST(VersionCheck, ReadsTheFourStampsAndReports) {
  SessionRig rig;
  SetStamps(rig.unit, "1.10", "1.00", "1.00");  // SUBMCU stays erased: four 0xFF bytes
  EXPECT_EQ(VersionCheckWorker(rig.host), 0);
  // No display is touched; the ports are closed before the result is posted.
  EXPECT_EQ(rig.host.Events(), (Events{"send:identify", "send:read", "send:read", "send:read",
                                       "send:read", "close-out", "close-in", "done:0"}));
  std::vector<uint32_t> addresses;
  for (const UnitRequest& request : rig.unit.Requests()) {
    if (request.kind != "read") continue;
    addresses.push_back(request.address);
    EXPECT_EQ(request.size, 4u);
    EXPECT_EQ(request.modelByte, 0x4D);
  }
  EXPECT_EQ(addresses, (std::vector<uint32_t>{kSystemAt, kPresetAt, kBootAt, kSubmcuAt}));
  EXPECT_EQ(rig.host.Table().slots, (std::array<std::string, 8>{"*.**", "1.00", "1.00", "1.10",
                                                                "1.01", "1.00", "1.00", "1.20"}));
  EXPECT_EQ(VersionReport(rig.host.Table()),
            "SYSTEM:\t\t1.10 -> 1.20\nPRESET:\t\t1.00\nBOOT:\t\t1.00\nSUBMCU:\t\t*.** -> 1.01");
  // The check neither enters update mode nor hands the unit's code to the identity answer.
  EXPECT_EQ(rig.unit.CountOf("enter"), 0);
  EXPECT_EQ(rig.state.EchoCode(), (DeviceCodeBytes{0, 0, 0, 0}));
}

TEST(VersionCheck, StampsEqualToThePackage) {
  SessionRig rig;
  SetStamps(rig.unit, "1.20", "1.00", "1.00");
  rig.unit.SetFlash(kSubmcuAt, Ascii4("1.01"));
  VersionCheckWorker(rig.host);
  EXPECT_EQ(VersionReport(rig.host.Table()),
            "SYSTEM:\t\t1.20 -> 1.20\nPRESET:\t\t1.00\nBOOT:\t\t1.00\nSUBMCU:\t\t1.01");
}

TEST(VersionCheck, IdentificationFailures) {
  const std::pair<UnitAnswer, int> failures[] = {
      {With(Action::FailSend), IDS_CANT_OPEN_OUT},
      {Drop(), IDS_TIMEOUT_IDENTIFY},
      {Send(UnitResult(5)), IDS_ILLEGAL_DEVICE},
      {Send(UnitIdentityReply({0x4D, 0x00, 0x22, 0x00})), IDS_ILLEGAL_DEVICE}};
  for (const auto& [answer, message] : failures) {
    SCOPED_TRACE(message);
    SessionRig rig;
    rig.unit.On("identify", Always(answer));
    VersionCheckWorker(rig.host);
    EXPECT_EQ(rig.host.Events(), Then({"send:identify", ErrorEvent(message)}, kEnding));
  }
}

TEST(VersionCheck, AFailedReadOfSystemBootOrSubmcuIsReported) {
  const std::pair<const char*, UnitAnswer> answers[] = {
      {"no answer", Drop()},
      {"bad checksum", Send(UnitReadReply(Ascii4("1.00"), false))},
      {"not a read reply", Send(Bytes{0xF0, 0x7D, 0x00, 0x4D, 0x60, 0x01, 0xF7})},
      {"error code", Send(UnitResult(2))}};
  for (const int failing : {0, 2, 3}) {
    for (const auto& [name, answer] : answers) {
      SCOPED_TRACE(std::string(name) + " at read " + std::to_string(failing));
      SessionRig rig;
      SetStamps(rig.unit, "1.10", "0.90", "1.00");
      rig.unit.On("read", PerIndex({{failing, answer}}));
      VersionCheckWorker(rig.host);
      EXPECT_EQ(Tail(rig.host.Events(), 5),
                Then({"send:read", ErrorEvent(IDS_TRANSFER_ERROR)}, kEnding));
      EXPECT_EQ(rig.unit.CountOf("read"), failing + 1);
      // What this check read before the failure stays in the table.
      const auto& slots = rig.host.Table().slots;
      EXPECT_EQ(slots[VersionTable::UnitSystem], failing > 0 ? "1.10" : "");
      EXPECT_EQ(slots[VersionTable::UnitPreset], failing > 0 ? "0.90" : "");
      EXPECT_EQ(slots[VersionTable::UnitBoot], failing > 2 ? "1.00" : "");
    }
  }
}

TEST(VersionCheck, AFailedPresetReadEmptiesOnlyThePresetLine) {
  SessionRig rig;
  SetStamps(rig.unit, "1.10", "0.90", "1.00");
  VersionCheckWorker(rig.host);
  ASSERT_EQ(rig.host.Table().slots[VersionTable::UnitPreset], "0.90");

  // A later check whose PRESET read fails shows no PRESET stamps, not the earlier check's.
  for (const UnitAnswer& answer :
       {Drop(), Send(Bytes{0xF0, 0x7D, 0x00, 0x4D, 0x60, 0x01, 0xF7}), Send(UnitResult(3))}) {
    rig.unit.On("read", [answer](const UnitRequest& request) {
      return request.address == kPresetAt ? answer : Reply();
    });
    VersionCheckWorker(rig.host);
    EXPECT_EQ(Tail(rig.host.Events(), 3), (Events{"close-out", "close-in", "done:0"}));
    EXPECT_EQ(VersionReport(rig.host.Table()),
              "SYSTEM:\t\t1.10 -> 1.20\nPRESET:\t\t\nBOOT:\t\t1.00\nSUBMCU:\t\t*.** -> 1.01");
  }
  EXPECT_TRUE(rig.host.EventsStartingWith("error:").empty());
}

TEST(VersionCheck, EndsSilentlyOnAbort) {
  SessionTiming timing = ScriptedTiming();
  timing.IdentifyWaitMs = timing.MemoryReadWaitMs = 5000;
  for (const Action action : {Action::AbortInstead, Action::AbortThenReply, Action::AbortLater}) {
    for (int point = 0; point < 5; ++point) {
      SCOPED_TRACE("abort kind " + std::to_string(static_cast<int>(action)) + " at request " +
                   std::to_string(point));
      SessionRig rig(timing);
      const char* kind = point == 0 ? "identify" : "read";
      const int index = point == 0 ? 0 : point - 1;
      rig.unit.On(kind, PerIndex({{index, With(action, 20)}}));
      EXPECT_EQ(VersionCheckWorker(rig.host), 0);
      // No box, no closing of ports the window closed itself, no result to a window that is gone.
      EXPECT_EQ(rig.host.CallsAfterAbort(), 0);
      const Events events = rig.host.Events();
      ASSERT_FALSE(events.empty());
      EXPECT_EQ(events.back(), std::string("send:") + kind);
      EXPECT_EQ(static_cast<int>(events.size()), point + 1);
    }
  }
}

}  // namespace
}  // namespace kv5
