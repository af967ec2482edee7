// Instance slots across real processes: copies of a probe that claims a slot the way the updater
// does, and the updater program itself on the offscreen platform.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <list>
#include <thread>

#include "support/ChildProcess.h"
#include "ui/InstanceNames.h"

namespace kv5 {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;

// The probe and the updater: input a pipe (closing it lets a probe end), output read by lines.
ChildProcess::Options Probe() {
  return {};
}
// The updater on the offscreen platform, its output discarded.
ChildProcess::Options Offscreen() {
  ChildProcess::Options options;
  options.output = ChildProcess::Output::Discard;
  options.environment = {"QT_QPA_PLATFORM=offscreen"};
  return options;
}

std::optional<std::string> Line(ChildProcess& child, std::chrono::milliseconds limit) {
  std::string line;
  if (!child.ReadLine(&line, limit)) return std::nullopt;
  return line;
}

// Starts a probe and returns the slot it printed (-1 when it printed nothing).
int StartProbe(std::list<ChildProcess>& probes) {
  probes.emplace_back(KV5_SLOT_PROBE, std::vector<std::string>{}, Probe());
  const std::optional<std::string> line = Line(probes.back(), 20s);
  return line ? std::stoi(*line) : -1;
}

// Whether some process holds a slot's lock, seen in the kernel's table of bound socket names
// without touching the lock (a claim to test it would take it).
bool SlotHeld(int slot) {
  std::ifstream table("/proc/net/unix");
  const std::string suffix = std::string("/").append(InstanceTitle(slot));
  for (std::string line; std::getline(table, line);) {
    if (line.size() >= suffix.size() &&
        line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0)
      return true;
  }
  return false;
}

bool WaitForSlot(int slot, bool held, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (SlotHeld(slot) != held) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

void End(std::list<ChildProcess>& probes, std::list<ChildProcess>::iterator probe) {
  probe->CloseInput();
  EXPECT_EQ(probe->Wait(10s), 0);
  probes.erase(probe);
}

TEST(InstanceProcesses, CopiesTakeTheLowestFreeSlotAndReuseAFreedOne) {
  std::list<ChildProcess> probes;
  EXPECT_EQ(StartProbe(probes), 1);
  EXPECT_EQ(StartProbe(probes), 2);
  EXPECT_TRUE(SlotHeld(1));
  EXPECT_TRUE(SlotHeld(2));
  End(probes, probes.begin());
  EXPECT_FALSE(SlotHeld(1));
  EXPECT_EQ(StartProbe(probes), 1);
  EXPECT_EQ(StartProbe(probes), 3);
  // A copy that dies without cleaning up frees its slot too.
  probes.front().Signal(SIGKILL);
  EXPECT_EQ(probes.front().Wait(10s), 128 + SIGKILL);
  EXPECT_EQ(StartProbe(probes), 2);
}

TEST(InstanceProcesses, TheTwentyFirstCopyIsRefused) {
  std::list<ChildProcess> probes;
  for (int slot = 1; slot <= 20; ++slot) ASSERT_EQ(StartProbe(probes), slot);
  ChildProcess refused(KV5_SLOT_PROBE, {}, Probe());
  EXPECT_EQ(Line(refused, 20s), "0");
  EXPECT_EQ(Line(refused, 5s),
            "It is forbidden to launch more than 20 instance of this application.");
  EXPECT_EQ(refused.Wait(10s), 3);
  // One ends; the next copy takes its number.
  auto seventh = std::next(probes.begin(), 6);
  End(probes, seventh);
  EXPECT_EQ(StartProbe(probes), 7);
}

TEST(InstanceProcesses, TheUpdaterTakesItsSlotAndFreesItWhenItEnds) {
  if (std::string(KV5_UPDATER).empty()) GTEST_SKIP() << "built without the Qt window";
  // The first copy of the updater takes slot 1, whose name is also its window's title.
  {
    ChildProcess updater(KV5_UPDATER, {}, Offscreen());
    ASSERT_TRUE(updater.Started());
    ASSERT_TRUE(WaitForSlot(1, true, 30s));
    EXPECT_FALSE(SlotHeld(2));
    // SIGTERM closes it as its close box does.
    updater.Signal(SIGTERM);
    EXPECT_EQ(updater.Wait(10s), std::optional<int>(0));
    EXPECT_TRUE(WaitForSlot(1, false, 10s));
  }
  // With slot 1 taken, it takes slot 2; a copy started next takes slot 3.
  std::list<ChildProcess> probes;
  ASSERT_EQ(StartProbe(probes), 1);
  ChildProcess updater(KV5_UPDATER, {}, Offscreen());
  ASSERT_TRUE(WaitForSlot(2, true, 30s));
  EXPECT_FALSE(SlotHeld(3));
  EXPECT_EQ(StartProbe(probes), 3);
  // Still running: its modal window keeps it alive.
  EXPECT_FALSE(updater.Wait(200ms).has_value());
  updater.Signal(SIGINT);
  EXPECT_EQ(updater.Wait(10s), std::optional<int>(0));
  EXPECT_TRUE(WaitForSlot(2, false, 10s));
  EXPECT_EQ(StartProbe(probes), 2);
}

}  // namespace
}  // namespace kv5
