// Both sessions end to end: the real ports over in-process loopback MIDI, the reply poller on the
// system's 1 ms timer, and the virtual unit on the far side.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "PortsHost.h"
#include "platform/midi/loopback/LoopbackMidi.h"
#include "session/UpdateWorker.h"
#include "session/VersionCheckWorker.h"
#include "support/FastTiming.h"
#include "unit/VirtualUnit.h"

namespace kv5 {
namespace {

using namespace std::chrono_literals;
using Events = std::vector<std::string>;

// Waits that only a lost message would run out; short pauses.
SessionTiming LoopbackTiming() {
  return FastTiming(5000);
}

// Declared in teardown order reversed: the host (its timer first) goes before the unit, and the
// unit before the loopback devices it talks through.
struct LoopbackRig {
  explicit LoopbackRig(UnitConfig config, const SessionTiming& timing = LoopbackTiming())
      : unit(midi.AddDevice("TELVOR Q9"), std::move(config)),
        timer(MakeSystemTimerServices()),
        host(state, timing, midi, *timer) {}

  LoopbackMidi midi;
  VirtualUnit unit;
  ExchangeState state;
  std::unique_ptr<TimerServices> timer;
  test::PortsHost host;
};

UnitConfig StartingFrom(InitialFlash flash) {
  UnitConfig config;
  config.initialFlash = flash;
  return config;
}

TEST(SessionsOverLoopback, UpdateWritesThePackage) {
  const std::pair<InitialFlash, uint32_t> starts[] = {
      {InitialFlash::Factory, 368},        // BOOT stamp erased: BOOT is written
      {InitialFlash::OlderFirmware, 293},  // BOOT stamp equal: BOOT is skipped
      {InitialFlash::Package, 293}};
  for (const auto& [flash, writes] : starts) {
    SCOPED_TRACE(std::string(InitialFlashName(flash)));
    LoopbackRig rig(StartingFrom(flash));
    ASSERT_TRUE(rig.unit.Start());
    ASSERT_TRUE(rig.host.Open(0, 0));
    EXPECT_EQ(UpdateWorker(rig.host), 0);
    const Events events = rig.host.Events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(Events(events.end() - 3, events.end()),
              (Events{"status:Version update completed.", "leave", "actions:0"}));
    ASSERT_TRUE(rig.unit.WaitIdle(5s));
    EXPECT_EQ(rig.unit.Count(MessageKind::FlashWrite), writes);
    EXPECT_EQ(rig.unit.Count(MessageKind::FinishUpdate), 1u);
    const PackageVerification verification = rig.unit.VerifyPackage();
    EXPECT_TRUE(verification.ok) << verification.message;
    EXPECT_FALSE(rig.unit.UpdateEntered());
  }
}

TEST(SessionsOverLoopback, UpdateAnswersTheUnitsOwnRequests) {
  UnitConfig config = StartingFrom(InitialFlash::Factory);
  config.ownRequests = {{UnitRequest::Vendor(0x01), MessageKind::FlashWrite, 3, false},
                        {UnitRequest::Identity(), MessageKind::FlashErase, 2, true},
                        {UnitRequest::Vendor(0x05), MessageKind::FlashWrite, 100, true}};
  LoopbackRig rig(config);
  ASSERT_TRUE(rig.unit.Start());
  ASSERT_TRUE(rig.host.Open(0, 0));
  EXPECT_EQ(UpdateWorker(rig.host), 0);
  EXPECT_EQ(rig.host.Events().back(), "actions:0");
  ASSERT_TRUE(rig.unit.WaitForHostAnswers(3, 5s));
  EXPECT_TRUE(rig.unit.VerifyPackage().ok);
}

TEST(SessionsOverLoopback, VersionCheckReportsTheOlderFirmware) {
  LoopbackRig rig(StartingFrom(InitialFlash::OlderFirmware));
  ASSERT_TRUE(rig.unit.Start());
  ASSERT_TRUE(rig.host.Open(0, 0));
  EXPECT_EQ(VersionCheckWorker(rig.host), 0);
  EXPECT_EQ(rig.host.Events().back(), "done:0");
  EXPECT_FALSE(rig.host.InOpen());
  EXPECT_FALSE(rig.host.OutOpen());
  EXPECT_EQ(VersionReport(rig.host.Table()),
            "SYSTEM:\t\t1.10 -> 1.20\nPRESET:\t\t1.00\nBOOT:\t\t1.00\nSUBMCU:\t\t*.** -> 1.01");
}

TEST(SessionsOverLoopback, UpdateOfAUnitNotInUpdateMode) {
  UnitConfig config = StartingFrom(InitialFlash::OlderFirmware);
  config.updateMode = false;
  LoopbackRig rig(config);
  ASSERT_TRUE(rig.unit.Start());
  ASSERT_TRUE(rig.host.Open(0, 0));
  EXPECT_EQ(UpdateWorker(rig.host), 0);
  const Events events = rig.host.Events();
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(Events(events.end() - 2, events.end()),
            (Events{"error:Please use the firmware update mode.", "leave"}));
  ASSERT_TRUE(rig.unit.WaitIdle(5s));
  EXPECT_EQ(rig.unit.Count(MessageKind::FlashErase), 0u);
}

TEST(SessionsOverLoopback, ALateAnswerNeverLetsARefusedChunkPassAsWritten) {
  // The answer to a chunk comes after its wait ran out, so that chunk is sent again and two
  // answers are on their way for it. Were the second taken for the next chunk's answer, every
  // answer after it would be one behind, and a chunk the unit refuses later would never be sent
  // again while the update still reports success.
  SessionTiming timing = LoopbackTiming();
  timing.WriteWaitMs = 120;
  for (const bool lenient : {true, false}) {
    SCOPED_TRACE(lenient ? "a unit that takes a chunk written again" : "a strict unit");
    UnitConfig config = StartingFrom(InitialFlash::OlderFirmware);
    config.acceptIdenticalRewrite = lenient;
    // Each write takes the unit a little while, so an answer is still on its way when the host
    // reads the status of a wait that a stale answer ended.
    config.pacing.perWrite = 4ms;
    for (const uint32_t late : {5u, 40u, 90u}) {
      config.faults.Delay(MessageKind::FlashWrite, Occurrence::Nth(late), 170ms);
    }
    for (const uint32_t refused : {30u, 70u, 130u, 200u}) {
      config.faults.AnswerCode(MessageKind::FlashWrite, Occurrence::Nth(refused), 7);
    }
    LoopbackRig rig(config, timing);
    ASSERT_TRUE(rig.unit.Start());
    ASSERT_TRUE(rig.host.Open(0, 0));
    EXPECT_EQ(UpdateWorker(rig.host), 0);
    const Events events = rig.host.Events();
    ASSERT_GE(events.size(), 3u);
    const bool completed = Events(events.end() - 3, events.end()) ==
                           Events{"status:Version update completed.", "leave", "actions:0"};
    ASSERT_TRUE(rig.unit.WaitIdle(5s));
    const PackageVerification verification = rig.unit.VerifyPackage();
    if (completed) {
      EXPECT_TRUE(verification.ok) << "success reported: " << verification.message;
    }
    EXPECT_TRUE(completed) << events.back();
  }
}

// An answer lost after the unit wrote a chunk: a strict unit refuses the resend over its own
// bytes, and the chunk read back shows it written. A unit that takes the chunk again is never
// asked to read; a chunk the unit did not write still ends the update after its attempts.
TEST(SessionsOverLoopback, ALostAnswerFailsNoUpdateWhoseChunkReachedTheFlash) {
  SessionTiming timing = LoopbackTiming();
  timing.WriteWaitMs = 150;
  struct Case {
    const char* name;
    bool lenient;
    FaultPlan faults;
    bool completes;
    uint32_t reads;  // the BOOT stamp's, and each chunk read back
  };
  const Case cases[] = {
      {"strict unit, answer lost", false,
       FaultPlan().DropAnswer(MessageKind::FlashWrite, Occurrence::Nth(3)), true, 2},
      {"lenient unit, answer lost", true,
       FaultPlan().DropAnswer(MessageKind::FlashWrite, Occurrence::Nth(3)), true, 1},
      {"chunk never written", false,
       FaultPlan()
           .DropRequest(MessageKind::FlashWrite, Occurrence::Nth(3))
           .AnswerCode(MessageKind::FlashWrite, Occurrence::From(4), 22),
       false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UnitConfig config = StartingFrom(InitialFlash::OlderFirmware);
    config.acceptIdenticalRewrite = c.lenient;
    config.faults = c.faults;
    LoopbackRig rig(config, timing);
    ASSERT_TRUE(rig.unit.Start());
    ASSERT_TRUE(rig.host.Open(0, 0));
    EXPECT_EQ(UpdateWorker(rig.host), 0);
    ASSERT_TRUE(rig.unit.WaitIdle(5s));
    EXPECT_EQ(rig.unit.Count(MessageKind::MemoryRead), c.reads);
    const Events events = rig.host.Events();
    ASSERT_GE(events.size(), 2u);
    if (c.completes) {
      EXPECT_EQ(events.back(), "actions:0");
      EXPECT_TRUE(rig.unit.VerifyPackage().ok);
    } else {
      EXPECT_EQ(Events(events.end() - 2, events.end()),
                (Events{"error:Transfer error occurred.", "leave"}));
      EXPECT_EQ(rig.unit.Count(MessageKind::FlashWrite), 2u + 32u);
    }
  }
}

}  // namespace
}  // namespace kv5
