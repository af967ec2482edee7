// The Windows window's update through the system's real MIDI devices, for the sequencer machine
// of run-in-vm.sh --host-root: the dialog runs in this process on winmm, a second thread picks the
// virtual unit's ports by the names Wine gives them, presses Execute and waits for the completion.
// The unit's own verification of its flash is judged by guest-update.sh.
#include <gtest/gtest.h>

#include <string>

#include "Win32WindowRig.h"
#include "firmware/FirmwarePackage.h"
#include "platform/midi/SystemMidi.h"
#include "ui/OwnerNotices.h"

namespace kv5 {
namespace {

using namespace std::chrono_literals;

// Wine names a sequencer port "client - port"; the unit's output feeds our input.
constexpr const char* kUnitOut = "TELVOR Q9 - MIDI Out";
constexpr const char* kUnitIn = "TELVOR Q9 - MIDI In";

bool Choose(const DialogDriver& driver, int list, const char* name) {
  const LRESULT index = SendMessageA(driver.Control(list), CB_FINDSTRINGEXACT,
                                     static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(name));
  if (index == CB_ERR) return false;
  SendMessageA(driver.Control(list), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  return driver.Selection(list) == static_cast<int>(index);
}

TEST(WineWindow, ExecuteUpdatesTheUnitThroughTheSystemsMidiDevices) {
  auto midi = OpenMidiSystem(MidiSystem::WinMM);
  ASSERT_NE(midi, nullptr);
  // As the shipped program: a build that carries the test package asks before it writes.
  Win32WindowRig window(*midi, 1, kProductionTiming, IsTestPackage());
  window.Run([&](DialogDriver& driver) {
    ASSERT_TRUE(Choose(driver, 1000, kUnitOut))
        << ::testing::PrintToString(driver.ListEntries(1000));
    ASSERT_TRUE(Choose(driver, 1001, kUnitIn))
        << ::testing::PrintToString(driver.ListEntries(1001));
    driver.Click(1);
    FoundBox box;
    if (IsTestPackage()) {
      ASSERT_TRUE(driver.WaitForBox(kTestPackageQuestionCaption, 30s, &box));
      DialogDriver::Answer(box, IDYES);
      box = FoundBox{};
    }
    ASSERT_TRUE(DialogDriver::WaitUntil([&] { return driver.ControlState() == kBusy; }, 30s));
    ASSERT_TRUE(DialogDriver::WaitUntil(
        [&] {
          return driver.Text(1003) == "Version update completed." ||
                 driver.WaitForBox("Error", 0ms, &box);
        },
        400s))
        << driver.Text(1003);
    EXPECT_EQ(driver.Text(1003), "Version update completed.") << box.text;
    EXPECT_TRUE(DialogDriver::WaitUntil([&] { return driver.ControlState() == kUpdated; }, 30s))
        << driver.ControlState();
    if (box.window != nullptr) DialogDriver::Dismiss(box);
  });
}

}  // namespace
}  // namespace kv5
