// Instance slots across real processes under Windows: copies of a probe that claims a slot with
// the named mutexes as the updater does, and the updater program itself.
#include <gtest/gtest.h>

#include <functional>
#include <list>
#include <memory>
#include <thread>

#include "Win32ChildProcess.h"
#include "firmware/FirmwarePackage.h"
#include "ui/InstanceNames.h"
#include "ui/OwnerNotices.h"

namespace kv5 {
namespace {

using namespace std::chrono_literals;
using test::Win32Child;
using test::WindowsOfProcess;
using test::WindowText;

// Starts a probe and returns the slot it printed (-1 when it printed nothing, with what became of
// the probe).
int StartProbe(std::list<Win32Child>& probes) {
  Win32Child& probe = probes.emplace_back(KV5_SLOT_PROBE);
  const std::optional<std::string> line = probe.ReadLine(30s);
  if (line) return std::stoi(*line);
  const std::optional<DWORD> code = probe.Wait(5s);
  ADD_FAILURE() << "the probe printed no slot: started " << probe.Started() << ", read error "
                << probe.LastReadError() << ", exit code "
                << (code ? std::to_string(*code) : std::string("none (still running)"));
  return -1;
}

void End(std::list<Win32Child>& probes, std::list<Win32Child>::iterator probe) {
  probe->CloseInput();
  EXPECT_EQ(probe->Wait(20s), std::optional<DWORD>(0));
  probes.erase(probe);
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// Whether some process holds a slot: its mutex can be opened (opening does not claim it).
bool SlotHeld(int slot) {
  HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, InstanceTitle(slot).c_str());
  if (mutex == nullptr) return false;
  CloseHandle(mutex);
  return true;
}

TEST(InstanceProcessesWin32, CopiesTakeTheLowestFreeSlotAndReuseAFreedOne) {
  std::list<Win32Child> probes;
  EXPECT_EQ(StartProbe(probes), 1);
  EXPECT_EQ(StartProbe(probes), 2);
  EXPECT_TRUE(SlotHeld(1));
  EXPECT_TRUE(SlotHeld(2));
  End(probes, probes.begin());
  // The system destroyed the mutex with the last handle, when its process ended.
  EXPECT_FALSE(SlotHeld(1));
  EXPECT_EQ(StartProbe(probes), 1);
  EXPECT_EQ(StartProbe(probes), 3);
}

TEST(InstanceProcessesWin32, ANameHeldByAnotherKindOfObjectSkipsThatSlot) {
  // An event bears the name of slot 1: it cannot be opened as a mutex.
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, InstanceTitle(1).c_str());
  ASSERT_NE(event, nullptr);
  std::list<Win32Child> probes;
  EXPECT_EQ(StartProbe(probes), 2);
  CloseHandle(event);
  EXPECT_EQ(StartProbe(probes), 1);
}

TEST(InstanceProcessesWin32, TheTwentyFirstCopyIsRefusedAndTheUpdaterTakesAFreedSlot) {
  std::list<Win32Child> probes;
  for (int slot = 1; slot <= kMaxInstances; ++slot) ASSERT_EQ(StartProbe(probes), slot);

  // A twenty-first probe finds no slot.
  {
    Win32Child refused(KV5_SLOT_PROBE);
    EXPECT_EQ(refused.ReadLine(30s), std::optional<std::string>("0"));
    EXPECT_EQ(refused.ReadLine(5s),
              std::optional<std::string>(
                  "It is forbidden to launch more than 20 instance of this application."));
    EXPECT_EQ(refused.Wait(20s), std::optional<DWORD>(3));
  }

  // The updater itself: a plain box under the application's name, and no window of its own.
  {
    Win32Child updater(KV5_UPDATER);
    ASSERT_TRUE(updater.Started());
    std::vector<HWND> boxes;
    ASSERT_TRUE(WaitUntil(
        [&] { return !(boxes = WindowsOfProcess(updater.Id(), "#32770")).empty(); }, 30s));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(WindowText(boxes[0]), "kv5updater");
    EXPECT_EQ(WindowText(GetDlgItem(boxes[0], 0xFFFF)),
              "It is forbidden to launch more than 20 instance of this application.");
    EXPECT_EQ(GetWindow(boxes[0], GW_OWNER), nullptr);
    PostMessageA(boxes[0], WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_EQ(updater.Wait(20s), std::optional<DWORD>(0));
  }

  // With slot 7 freed, the updater starts there: its title is that slot's name, which a build with
  // the test package follows with a notice.
  const std::string title = InstanceTitle(7) + (IsTestPackage() ? kTestPackageTitleSuffix : "");
  auto seventh = std::next(probes.begin(), 6);
  End(probes, seventh);
  {
    Win32Child updater(KV5_UPDATER);
    std::vector<HWND> windows;
    ASSERT_TRUE(WaitUntil(
        [&] { return !(windows = WindowsOfProcess(updater.Id(), "#32770")).empty(); }, 30s));
    EXPECT_TRUE(WaitUntil([&] { return WindowText(windows[0]) == title; }, 10s))
        << WindowText(windows[0]);
    EXPECT_TRUE(SlotHeld(7));
    // The close box ends the dialog and with it the program, which frees the slot.
    PostMessageA(windows[0], WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(updater.Wait(20s), std::optional<DWORD>(0));
    EXPECT_FALSE(SlotHeld(7));
  }
}

}  // namespace
}  // namespace kv5
