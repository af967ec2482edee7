// The window going away during an update: at whatever wait, send or pause the worker is, it ends
// silently, sends nothing more and touches the host no more; an answer still queued cannot undo
// the abort.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "SessionRig.h"
#include "SessionScripts.h"
#include "session/UpdateWorker.h"

namespace kv5 {
namespace {

using namespace kv5::test;
using Action = UnitAnswer::Action;

// Long waits: only the abort may end them.
SessionTiming PatientTiming() {
  SessionTiming timing = ScriptedTiming();
  timing.WriteWaitMs = 5000;
  return timing;
}

void ExpectSilentEnd(const SessionRig& rig, const std::string& lastKind, int lastIndex) {
  EXPECT_EQ(rig.host.CallsAfterAbort(), 0);
  EXPECT_EQ(rig.state.Status(), kReplyAborted);
  EXPECT_TRUE(rig.host.EventsStartingWith("error:").empty());
  EXPECT_EQ(rig.host.Count("leave"), 0);
  EXPECT_EQ(rig.host.Count("actions:0"), 0);
  const std::vector<UnitRequest> requests = rig.unit.Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back().kind, lastKind);
  EXPECT_EQ(requests.back().index, lastIndex);
  EXPECT_EQ(WorkerSends(rig.host.Events()).back(), "send:" + lastKind);
}

TEST(UpdateAbort, AtEveryWait) {
  struct Point {
    const char* kind;
    int index;
  };
  // Identification, update mode, BOOT stamp, the first and the BOOT erase, the first PRESET and a
  // BOOT chunk, and the finish.
  const Point points[] = {{"identify", 0}, {"enter", 0}, {"read", 0},   {"erase", 0},
                          {"erase", 2},    {"write", 0}, {"write", 40}, {"finish", 0}};
  const std::pair<const char*, Action> actions[] = {
      {"while sending", Action::AbortInstead},
      {"before a queued answer", Action::AbortThenReply},
      {"while waiting", Action::AbortLater}};
  for (const auto& [when, action] : actions) {
    for (const Point& point : points) {
      SCOPED_TRACE(std::string(when) + " at " + point.kind + " " + std::to_string(point.index));
      SessionRig rig(PatientTiming());
      rig.unit.On(point.kind, PerIndex({{point.index, With(action, 20)}}));
      EXPECT_EQ(UpdateWorker(rig.host), 0);
      ExpectSilentEnd(rig, point.kind, point.index);
    }
  }
}

TEST(UpdateAbort, CutsPausesShort) {
  struct Point {
    const char* name;
    const char* kind;
    int code;  // the unit's answer, after which the worker pauses
  };
  const Point points[] = {{"after entering update mode", "enter", 0},
                          {"before an erase is resent", "erase", 3},
                          {"before a chunk is resent", "write", 5}};
  for (const Point& point : points) {
    SCOPED_TRACE(point.name);
    SessionTiming timing = PatientTiming();
    if (std::string(point.kind) == "enter") timing.EnterUpdatePauseMs = 60000;
    timing.ResendPauseMs = 60000;
    SessionRig rig(timing);
    UnitAnswer answer = With(Action::ReplyThenAbortLater, 30);
    answer.code = point.code;
    rig.unit.On(point.kind, PerIndex({{0, answer}}));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(UpdateWorker(rig.host), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    ExpectSilentEnd(rig, point.kind, 0);
  }
}

TEST(UpdateAbort, EndsRetriesOfAChunk) {
  // Error answers, then the abort arrives with the next error already queued behind it.
  SessionRig rig(PatientTiming());
  rig.unit.On("write", [](const UnitRequest& request) {
    if (request.index < 2) return Reply(6);
    UnitAnswer answer = With(Action::AbortThenReply);
    answer.code = 6;
    return answer;
  });
  EXPECT_EQ(UpdateWorker(rig.host), 0);
  ExpectSilentEnd(rig, "write", 2);
}

// The device going away at a wait, a read or a pause: the session ends at once with the one box
// "Can't open MIDI Out device." and leaves the busy state; nothing more is sent.
TEST(UpdateDeviceLost, EndsTheSessionAtOnceWithTheOpenFailureMessage) {
  const std::pair<const char*, int> points[] = {
      {"identify", 0}, {"read", 0}, {"erase", 2}, {"write", 40}, {"finish", 0}};
  for (const auto& [kind, index] : points) {
    SCOPED_TRACE(std::string(kind) + " " + std::to_string(index));
    SessionTiming timing = PatientTiming();
    timing.MemoryReadWaitMs = timing.EraseWaitMs = timing.FinishWaitMs = 60000;
    timing.IdentifyWaitMs = 60000;
    SessionRig rig(timing);
    rig.unit.On(kind, PerIndex({{index, Drop()}}));
    std::thread cable([&] {
      while (rig.unit.Requests().empty() || rig.unit.Requests().back().kind != kind ||
             rig.unit.Requests().back().index != index) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      rig.state.DeviceLost();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(UpdateWorker(rig.host), 0);
    cable.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(rig.host.EventsStartingWith("error:"),
              std::vector<std::string>{"error:Can't open MIDI Out device."});
    EXPECT_EQ(rig.host.Count("leave"), 1);
    EXPECT_EQ(rig.host.Count("actions:0"), 0);
    EXPECT_EQ(rig.unit.Requests().back().kind, kind) << "nothing sent after the loss";
    EXPECT_EQ(rig.unit.Requests().back().index, index);
  }
}

}  // namespace
}  // namespace kv5
