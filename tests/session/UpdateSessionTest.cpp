// The firmware update against a scripted unit: a complete run with what it shows at each phase,
// the BOOT skip, a late answer, and the unit's own requests during the update.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "SessionRig.h"
#include "SessionScripts.h"
#include "firmware/FirmwarePackage.h"
#include "session/UpdateWorker.h"

namespace kv5 {
namespace {

using namespace kv5::test;

constexpr DeviceCodeBytes kUnitCode{0x4D, 0x00, 0x12, 0x00};

// What a completed update shows and sends, phase by phase.
std::vector<std::string> CompletedUpdate(bool bootUnchanged) {
  std::vector<std::string> events = {
      "step:0/10", "send:identify", "send:enter", StatusEvent(IDS_ERASING), "status:", "send:read"};
  for (size_t j = 0; j < UpdatePlan.size(); ++j) {
    const PlanStep& step = UpdatePlan[j];
    events.push_back("step:" + std::to_string(j + 1) + "/10");
    if (step.address == 0 && bootUnchanged) continue;
    if (step.kind == kEraseStep) {
      events.insert(events.end(),
                    {"range:10", "send:erase", "pos:1", StatusEvent(IDS_ERASING), "pos:10"});
      continue;
    }
    const int total =
        step.size != 0 ? step.size : static_cast<int>(OpenImage(step.resourceId).size);
    events.push_back("range:" + std::to_string(total));
    for (int done = 0; done < total;) {
      events.push_back("send:write");
      events.push_back("status:Data transmit  " + std::to_string(done) + " / " +
                       std::to_string(total) + " ");
      done += std::min(4096, total - done);
      events.push_back("pos:" + std::to_string(done));
    }
  }
  events.insert(events.end(),
                {"send:finish", StatusEvent(IDS_UPDATE_COMPLETED), "leave", "actions:0"});
  return events;
}

bool FlashHoldsPackage(const ScriptedUnit& unit) {
  return std::all_of(kFlashRegions.begin(), kFlashRegions.end(),
                     [&](const FlashRegion& region) { return unit.RegionHoldsImage(region); });
}

TEST(UpdateSession, CompletesShowingEachPhase) {
  SessionRig rig;
  EXPECT_EQ(UpdateWorker(rig.host), 0);
  const std::vector<std::string> events = rig.host.Events();
  EXPECT_EQ(events, CompletedUpdate(false));

  EXPECT_EQ(rig.unit.CountOf("write"), 368);
  EXPECT_EQ(rig.unit.CountOf("erase"), 5);
  EXPECT_TRUE(FlashHoldsPackage(rig.unit));
  // The last PRESET chunk shows the 26 chunks acknowledged before it; no chunk shows the total.
  EXPECT_EQ(std::count(events.begin(), events.end(), "status:Data transmit  106496 / 110592 "), 1);
  EXPECT_EQ(std::count(events.begin(), events.end(), "status:Data transmit  110592 / 110592 "), 0);
  EXPECT_EQ(rig.state.EchoCode(), kUnitCode);

  // Every vendor request carries the unit's model byte; the BOOT stamp is read first.
  const std::vector<UnitRequest> requests = rig.unit.Requests();
  for (const UnitRequest& request : requests)
    if (request.kind != "identify") {
      EXPECT_EQ(request.modelByte, 0x4D) << request.kind;
    }
  ASSERT_GE(requests.size(), 4u);
  EXPECT_EQ(requests[2].kind, "read");
  EXPECT_EQ(requests[2].address, 0x4AFFCu);
  EXPECT_EQ(requests[2].size, 4u);
  // The SYSTEM image ends in a short chunk.
  const auto lastSystemChunk =
      std::find_if(requests.rbegin(), requests.rend(), [](const UnitRequest& r) {
        return r.kind == "write" && r.address >= 0x066000 && r.address < 0x170000;
      });
  ASSERT_NE(lastSystemChunk, requests.rend());
  EXPECT_EQ(lastSystemChunk->address, 0x066000u + 259 * 4096);
  EXPECT_EQ(lastSystemChunk->size, 3360u);
}

TEST(UpdateSession, SkipsBootWhenItsStampIsUnchanged) {
  SessionRig rig;
  rig.unit.SetFlash(0x4AFFC, Ascii4("1.00"));
  EXPECT_EQ(UpdateWorker(rig.host), 0);
  // Steps 4 and 5 send and show nothing but the step counter.
  EXPECT_EQ(rig.host.Events(), CompletedUpdate(true));
  EXPECT_EQ(rig.unit.CountOf("write"), 293);
  EXPECT_EQ(rig.unit.CountOf("erase"), 4);
  for (const UnitRequest& request : rig.unit.Requests())
    if (request.kind == "erase" || request.kind == "write") {
      EXPECT_NE(request.address, 0u);
    }
}

TEST(UpdateSession, WritesBootWhenItsStampDiffersInAnyByte) {
  for (const Bytes& stamp : {Ascii4("1.01"), Ascii4("0.00"), Ascii4("1.0 "), Bytes(4, 0xFF),
                             Bytes{'1', '.', '0', 0x00}}) {
    SessionRig rig;
    rig.unit.SetFlash(0x4AFFC, stamp);
    EXPECT_EQ(UpdateWorker(rig.host), 0);
    EXPECT_EQ(rig.unit.CountOf("write"), 368);
    EXPECT_TRUE(FlashHoldsPackage(rig.unit));
  }
}

TEST(UpdateSession, TakesALateAnswerForTheResentChunk) {
  SessionRig rig;
  const uint32_t second = 0x04B000 + 4096;
  // The answer to the first attempt comes after its wait ran out; the resend gets none of its own.
  rig.unit.On("write", PerAddress({{second, {With(UnitAnswer::Action::Hold), Drop()}}}));
  EXPECT_EQ(UpdateWorker(rig.host), 0);
  EXPECT_EQ(Tail(rig.host.Events(), 2), (std::vector<std::string>{"leave", "actions:0"}));
  EXPECT_EQ(rig.unit.CountOf("write"), 369);
  std::vector<uint32_t> presetChunks;
  for (const UnitRequest& request : rig.unit.Requests())
    if (request.kind == "write" && request.address >= 0x04B000 &&
        request.address < 0x04B000 + 3 * 4096)
      presetChunks.push_back(request.address);
  EXPECT_EQ(presetChunks, (std::vector<uint32_t>{0x04B000, second, second, second + 4096}));
  EXPECT_TRUE(FlashHoldsPackage(rig.unit));
}

TEST(UpdateSession, AnswersTheUnitsRequestsMeanwhile) {
  SessionRig rig;
  const Bytes askIdentity = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
  const std::vector<Bytes> ownRequests = {
      {0xF0, 0x7D, 0x00, 0x4D, 0x01, 0xF7}, {0xF0, 0x7D, 0x00, 0x4D, 0x04, 0xF7},
      {0xF0, 0x7D, 0x00, 0x4D, 0x05, 0xF7}, askIdentity,
      {0xF0, 0x7D, 0x00, 0x4D, 0x06, 0xF7}, {0xF0, 0x7D, 0x00, 0x4D, 0x03, 0xF7}};
  UnitAnswer beforeIdentity = Reply();
  beforeIdentity.before = {askIdentity, ownRequests[0]};
  rig.unit.On("identify", Always(beforeIdentity));
  UnitAnswer beforeEnter = Reply();
  beforeEnter.before = {askIdentity};
  rig.unit.On("enter", Always(beforeEnter));
  UnitAnswer midWrite = Reply();
  midWrite.before = ownRequests;
  rig.unit.On("write", PerIndex({{3, midWrite}, {200, midWrite}}));

  EXPECT_EQ(UpdateWorker(rig.host), 0);
  EXPECT_EQ(Tail(rig.host.Events(), 2), (std::vector<std::string>{"leave", "actions:0"}));
  EXPECT_EQ(rig.unit.CountOf("write"), 368);
  EXPECT_TRUE(FlashHoldsPackage(rig.unit));

  const Bytes ack = {0xF0, 0x7D, 0x00, 0x4D, 0x00, 0x00, 0xF7};
  const Bytes notHandled = {0xF0, 0x7D, 0x00, 0x4D, 0x00, 0x01, 0xF7};
  const Bytes echo = {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x7D, 0x4D, 0x00,
                      0x12, 0x00, 0x31, 0x30, 0x30, 0x30, 0xF7};
  // Before the unit was identified the answers carry zeros; once accepted, the unit's code.
  const std::vector<Bytes> expected = {
      {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x7D, 0x00, 0x00, 0x00, 0x00, 0x31, 0x30, 0x30, 0x30, 0xF7},
      {0xF0, 0x7D, 0x00, 0x00, 0x00, 0x00, 0xF7},
      echo,
      ack,
      ack,
      ack,
      echo,
      notHandled,
      ack,
      ack,
      ack,
      echo,
      notHandled};
  EXPECT_EQ(rig.unit.PollerAnswers(), expected);
}

}  // namespace
}  // namespace kv5
