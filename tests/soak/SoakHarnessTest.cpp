// The soak's own verdicts: a session that overruns its bound is a hang and its window still
// closes; a failure is reported with its message and leaves the unit ready for a clean update; a
// completed one is checked against the flash; a step that never returns ends the soak through
// the watchdog; and every session's plan can be replayed from its seed.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "SoakPlan.h"
#include "SoakSession.h"
#include "Watchdog.h"

namespace kv5::soak {
namespace {

using namespace std::chrono_literals;

struct Rig {
  explicit Rig(UnitConfig config = {})
      : timer(MakeSystemTimerServices()), unit(midi.AddDevice("TELVOR Q9"), std::move(config)) {
    unit.Start();
  }
  SessionResult Run(std::chrono::milliseconds bound,
                    std::optional<std::chrono::milliseconds> closeAfter = std::nullopt) {
    return RunSession({midi, *timer, unit, SoakTiming(2), bound, closeAfter, 10s}, watchdog);
  }

  LoopbackMidi midi;
  std::unique_ptr<TimerServices> timer;
  VirtualUnit unit;
  Watchdog watchdog{[] { return std::string("soak harness test"); }};
};

TEST(SoakSession, EndsAreToldApart) {
  {
    Rig rig;  // older firmware: a clean update completes and leaves the package
    const SessionResult result = rig.Run(60s);
    EXPECT_EQ(result.end, SessionEnd::Completed) << result.message;
    EXPECT_TRUE(result.flashMatches);
    EXPECT_TRUE(result.broken.empty()) << result.broken;
  }
  {
    UnitConfig config;
    config.updateMode = false;
    Rig rig(config);
    const SessionResult result = rig.Run(60s);
    EXPECT_EQ(result.end, SessionEnd::Failed);
    EXPECT_EQ(result.message, "Please use the firmware update mode.");
    // The same unit, powered up in update mode, takes a clean update.
    rig.unit.PowerUp(true);
    EXPECT_EQ(rig.Run(60s).end, SessionEnd::Completed);
  }
  {
    // The first identification goes unanswered and the session waits for it far longer than
    // its bound: a hang, and the window still closes.
    UnitConfig config;
    config.faults.DropAnswer(MessageKind::Identity, Occurrence::Nth(1));
    Rig rig(config);
    const SessionResult result = rig.Run(30ms);
    EXPECT_EQ(result.end, SessionEnd::Hang);
    EXPECT_TRUE(result.broken.empty()) << result.broken;
    EXPECT_EQ(rig.Run(60s).end, SessionEnd::Completed);
  }
  {
    Rig rig;  // the window closed at once: aborted, silently
    const SessionResult result = rig.Run(60s, 0ms);
    EXPECT_EQ(result.end, SessionEnd::Aborted);
    EXPECT_TRUE(result.broken.empty()) << result.broken;
  }
}

TEST(SoakSession, AFlashThatDiffersIsCaught) {
  // The unit acknowledges one chunk without writing it: the session reports success, and the
  // verdict must not take its word for it.
  UnitConfig config;
  Fault fault;
  fault.kind = MessageKind::FlashWrite;
  fault.when = Occurrence::Nth(7);
  fault.action = FaultAction::AnswerCode;
  fault.code = 0;
  config.faults.Add(fault);
  Rig rig(config);
  const SessionResult result = rig.Run(60s);
  EXPECT_EQ(result.end, SessionEnd::Completed);
  EXPECT_FALSE(result.flashMatches);
}

TEST(SoakWatchdogDeathTest, AStepThatNeverReturnsEndsTheSoak) {
  EXPECT_EXIT(
      {
        Watchdog watchdog([] { return std::string("summary so far"); });
        watchdog.Arm(Watchdog::Clock::now() + 20ms, "a stuck step");
        std::this_thread::sleep_for(5s);
      },
      ::testing::ExitedWithCode(3), "HANG: a stuck step");
}

TEST(SoakPlan, PlansReplayFromTheirSeedAndCoverEveryKindOfFault) {
  const SessionTiming timing = SoakTiming(1);
  std::set<std::string> kinds;
  for (uint32_t index = 0; index < 400; ++index) {
    std::mt19937_64 first(SessionSeed(1, index));
    std::mt19937_64 again(SessionSeed(1, index));
    const SessionPlan plan = DrawPlan(first, timing, 300ms);
    EXPECT_EQ(plan.label, DrawPlan(again, timing, 300ms).label);
    kinds.insert(plan.label.substr(0, plan.label.find_first_of(" [")));
    if (plan.closeAfter) {
      EXPECT_GE(plan.extraTime, *plan.closeAfter);
    }
  }
  EXPECT_EQ(kinds, (std::set<std::string>{"clean", "lost", "late", "slow", "error", "corrupted",
                                          "stray", "unit", "window"}));
  EXPECT_NE(SessionSeed(1, 0), SessionSeed(2, 0));
}

}  // namespace
}  // namespace kv5::soak
