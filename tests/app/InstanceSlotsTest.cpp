// The slot search and start-up, with a scripted lock: the order slots are tried in, what counts as
// taken, the lock kept for the process's life, and the refusal of a twenty-first copy.
#include <gtest/gtest.h>

#include <set>

#include "app/CKv5UpdatorApp.h"
#include "support/RecordingMidi.h"
#include "support/RecordingTimerServices.h"
#include "ui/InstanceNames.h"

namespace kv5 {
namespace {

// Counts the locks alive, so a test sees when one is given up.
struct CountedLock : InstanceLock {
  explicit CountedLock(int* alive) : alive_(alive) { ++*alive_; }
  ~CountedLock() override { --*alive_; }
  int* alive_;
};

struct ScriptedLocks {
  std::map<std::string, ClaimResult> taken;  // anything else is created
  std::vector<std::string> tried;
  int alive = 0;
  ClaimFunction Claim() {
    return [this](const std::string& name, std::unique_ptr<InstanceLock>* held) {
      tried.push_back(name);
      auto found = taken.find(name);
      if (found != taken.end()) return found->second;
      *held = std::make_unique<CountedLock>(&alive);
      return ClaimResult::Created;
    };
  }
};

TEST(InstanceSlots, LowestFreeSlotInAscendingOrder) {
  ScriptedLocks locks;
  std::unique_ptr<InstanceLock> held;
  EXPECT_EQ(ClaimFirstFreeSlot(locks.Claim(), &held), 1);
  EXPECT_EQ(locks.tried, (std::vector<std::string>{"TELVOR Q9 System v1.20 Updater"}));
  EXPECT_TRUE(held);

  // Slot 1 held by another copy, slot 2 by an object of another kind: slot 3.
  locks.tried.clear();
  locks.taken[InstanceTitle(1)] = ClaimResult::AlreadyExists;
  locks.taken[InstanceTitle(2)] = ClaimResult::Failed;
  std::unique_ptr<InstanceLock> third;
  EXPECT_EQ(ClaimFirstFreeSlot(locks.Claim(), &third), 3);
  EXPECT_EQ(locks.tried, (std::vector<std::string>{"TELVOR Q9 System v1.20 Updater",
                                                   "TELVOR Q9 System v1.20 Updater (2)",
                                                   "TELVOR Q9 System v1.20 Updater (3)"}));
  EXPECT_EQ(locks.alive, 2);
}

TEST(InstanceSlots, AllTwentyTakenIsRefused) {
  ScriptedLocks locks;
  for (int slot = 1; slot <= 20; ++slot)
    locks.taken[InstanceTitle(slot)] =
        slot % 3 == 0 ? ClaimResult::Failed : ClaimResult::AlreadyExists;
  std::unique_ptr<InstanceLock> held;
  EXPECT_EQ(ClaimFirstFreeSlot(locks.Claim(), &held), 0);
  EXPECT_FALSE(held);
  ASSERT_EQ(locks.tried.size(), 20u);
  EXPECT_EQ(locks.tried.back(), "TELVOR Q9 System v1.20 Updater (20)");
  EXPECT_EQ(TooManyInstancesMessage(),
            "It is forbidden to launch more than 20 instance of this application.");

  // The twentieth is still a slot.
  locks.taken.erase(InstanceTitle(20));
  EXPECT_EQ(ClaimFirstFreeSlot(locks.Claim(), &held), 20);
}

struct RecordingShell : AppShell {
  void RunUpdaterDialog(MidiBackend& midi, TimerServices&, int instanceIndex,
                        const SessionTiming& timing) override {
    dialogs.push_back(instanceIndex);
    backend = midi.Name();
    identifyWait = timing.IdentifyWaitMs;
    locksAliveDuringDialog = locks ? locks->alive : -1;
  }
  void ShowApplicationMessage(const std::string& text) override { messages.push_back(text); }
  std::vector<int> dialogs;
  std::vector<std::string> messages;
  std::string backend;
  uint32_t identifyWait = 0;
  ScriptedLocks* locks = nullptr;
  int locksAliveDuringDialog = -1;
};

AppPlatform FakePlatform(ScriptedLocks& locks) {
  AppPlatform platform;
  platform.claim = locks.Claim();
  platform.openMidi = [] { return std::make_unique<RecordingMidi>(); };
  platform.makeTimer = [] { return std::make_unique<RecordingTimerServices>(); };
  return platform;
}

TEST(CKv5UpdatorAppStart, RunsTheDialogInTheClaimedSlotAndHoldsTheLock) {
  ScriptedLocks locks;
  locks.taken[InstanceTitle(1)] = ClaimResult::AlreadyExists;
  RecordingShell shell;
  shell.locks = &locks;
  {
    CKv5UpdatorApp app(FakePlatform(locks));
    EXPECT_EQ(app.InstanceIndex(), 0);
    EXPECT_FALSE(app.InitInstance(shell));
    EXPECT_EQ(app.InstanceIndex(), 2);
    EXPECT_EQ(shell.dialogs, std::vector<int>{2});
    EXPECT_TRUE(shell.messages.empty());
    EXPECT_EQ(shell.backend, "fake");
    EXPECT_EQ(shell.identifyWait, kProductionTiming.IdentifyWaitMs);
    EXPECT_EQ(shell.locksAliveDuringDialog, 1);
    EXPECT_EQ(locks.alive, 1);  // kept after the dialog, until the process ends
  }
  EXPECT_EQ(locks.alive, 0);
}

TEST(CKv5UpdatorAppStart, TheTwentyFirstCopyShowsTheRefusalAndNoWindow) {
  ScriptedLocks locks;
  for (int slot = 1; slot <= 20; ++slot)
    locks.taken[InstanceTitle(slot)] = ClaimResult::AlreadyExists;
  RecordingShell shell;
  CKv5UpdatorApp app(FakePlatform(locks));
  EXPECT_FALSE(app.InitInstance(shell));
  EXPECT_EQ(app.InstanceIndex(), 0);
  EXPECT_TRUE(shell.dialogs.empty());
  EXPECT_EQ(shell.messages,
            std::vector<std::string>{
                "It is forbidden to launch more than 20 instance of this application."});
}

}  // namespace
}  // namespace kv5
