// Whole sessions driven through the real Win32 dialog against the virtual unit over the loopback
// MIDI system, with the Windows timer running the reply poller.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "Win32WindowRig.h"
#include "platform/midi/loopback/LoopbackMidi.h"
#include "ui/OwnerNotices.h"
#include "unit/VirtualUnit.h"

namespace kv5 {
namespace {

using namespace std::chrono_literals;

struct UnitWindowRig {
  explicit UnitWindowRig(UnitConfig config = {}, const SessionTiming& timing = FastTiming(),
                         bool guard = false)
      : unit(midi.AddDevice("TELVOR Q9"), std::move(config)), window(midi, 1, timing, guard) {
    unit.Start();
  }
  LoopbackMidi midi;
  VirtualUnit unit;
  Win32WindowRig window;
};

int ProgressPos(const DialogDriver& driver) {
  return static_cast<int>(SendMessageA(driver.Control(1002), PBM_GETPOS, 0, 0));
}

int ProgressHigh(const DialogDriver& driver) {
  return static_cast<int>(SendMessageA(driver.Control(1002), PBM_GETRANGE, FALSE, 0));
}

// True while no box of the dialog's thread shows the caption.
bool NoBox(const DialogDriver& driver, const std::string& caption) {
  FoundBox box;
  return !driver.WaitForBox(caption, 0ms, &box);
}

TEST(Win32Session, ExecuteUpdatesTheUnitAndLeavesTheUpdatedStateUntilRescan) {
  UnitWindowRig rig;
  rig.window.Run([&](DialogDriver& driver) {
    ASSERT_EQ(driver.ListEntries(1001), std::vector<std::string>{"TELVOR Q9"});
    ASSERT_EQ(driver.Selection(1001), 0);
    ASSERT_EQ(driver.Selection(1000), 0);
    // Execute has the focus when it is pressed; once it is disabled, Exit has it.
    driver.Post(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(driver.Control(1)), TRUE);
    ASSERT_TRUE(DialogDriver::WaitUntil([&] { return driver.Focus() == driver.Control(1); }, 10s));
    driver.Click(1);
    ASSERT_TRUE(DialogDriver::WaitUntil([&] { return driver.ControlState() == kBusy; }, 10s));
    EXPECT_EQ(driver.Focus(), driver.Control(2));
    ASSERT_TRUE(DialogDriver::WaitUntil(
        [&] { return driver.Text(1003) == "Version update completed."; }, 180s))
        << driver.Text(1003);
    EXPECT_TRUE(DialogDriver::WaitUntil([&] { return driver.ControlState() == kUpdated; }, 10s))
        << driver.ControlState();
    EXPECT_EQ(driver.Text(1006), "10/10");
    // The last image went out whole: the bar stands at the end of its range.
    EXPECT_EQ(ProgressPos(driver), ProgressHigh(driver));
    EXPECT_TRUE(NoBox(driver, "Error"));
    ASSERT_TRUE(rig.unit.WaitIdle(5s));
    const PackageVerification verification = rig.unit.VerifyPackage();
    EXPECT_TRUE(verification.ok);

    driver.Click(1004);
    EXPECT_TRUE(DialogDriver::WaitUntil([&] { return driver.ControlState() == kReady; }, 10s));
  });
}

// A build that carries the test package says so, and Execute asks first: Escape and Enter answer
// No and nothing reaches the unit; only Yes starts the update.
TEST(Win32Session, TheTestPackageIsWrittenOnlyAfterAYes) {
  UnitWindowRig rig({}, FastTiming(), /*guard=*/true);
  rig.window.Run([&](DialogDriver& driver) {
    EXPECT_EQ(driver.Title(), "TELVOR Q9 System v1.20 Updater (test package)");
    EXPECT_EQ(driver.Text(1003), kTestPackageReadyText);
    FoundBox box;
    for (UINT key : {VK_ESCAPE, VK_RETURN}) {
      driver.Click(1);
      ASSERT_TRUE(driver.WaitForBox(kTestPackageQuestionCaption, 10s, &box)) << key;
      EXPECT_EQ(box.buttons, (std::vector<std::string>{"&Yes", "&No"}));
      EXPECT_NE(box.text.find("unusable"), std::string::npos) << box.text;
      EXPECT_NE(box.icon, nullptr);
      EXPECT_EQ(GetWindow(box.window, GW_OWNER), driver.Dialog());
      ASSERT_TRUE(DialogDriver::WaitUntil(
          [&] { return driver.Focus() == GetDlgItem(box.window, IDNO); }, 10s));
      driver.PressKey(box, key);
      ASSERT_TRUE(DialogDriver::WaitUntil([&] { return !IsWindow(box.window); }, 10s)) << key;
      EXPECT_EQ(driver.ControlState(), kReady);
    }
    EXPECT_EQ(rig.unit.Count(MessageKind::Any), 0u);
    driver.Click(1);
    ASSERT_TRUE(driver.WaitForBox(kTestPackageQuestionCaption, 10s, &box));
    DialogDriver::Answer(box, IDYES);
    ASSERT_TRUE(DialogDriver::WaitUntil(
        [&] { return driver.Text(1003) == "Version update completed."; }, 180s))
        << driver.Text(1003);
  });
  EXPECT_TRUE(rig.unit.WaitIdle(10s));
  EXPECT_TRUE(rig.unit.VerifyPackage().ok);
}

TEST(Win32Session, VersionCheckShowsTheReportInItsOwnBox) {
  UnitWindowRig rig;  // the unit holds older firmware
  rig.window.Run([&](DialogDriver& driver) {
    driver.Click(1007);
    FoundBox box;
    ASSERT_TRUE(driver.WaitForBox("Version Information", 60s, &box));
    EXPECT_EQ(box.text,
              "SYSTEM:\t\t1.10 -> 1.20\nPRESET:\t\t1.00\nBOOT:\t\t1.00\nSUBMCU:\t\t*.** -> 1.01");
    EXPECT_EQ(box.icon, LoadIconA(nullptr, MAKEINTRESOURCEA(32516)));  // IDI_INFORMATION
    EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
    // Busy until the report is closed.
    EXPECT_EQ(driver.ControlState(), kBusy);
    DialogDriver::Dismiss(box);
    EXPECT_TRUE(DialogDriver::WaitUntil([&] { return driver.ControlState() == kReady; }, 10s));
    EXPECT_EQ(driver.Text(1003), "");  // a check writes none of the displays
  });
}

TEST(Win32Session, AWorkerFailureShowsTheErrorBoxThenLeavesTheBusyState) {
  UnitConfig config;
  config.updateMode = false;
  UnitWindowRig rig(config);
  rig.window.Run([&](DialogDriver& driver) {
    driver.Click(1);
    FoundBox box;
    ASSERT_TRUE(driver.WaitForBox("Error", 60s, &box));
    EXPECT_EQ(box.text, "Please use the firmware update mode.");
    EXPECT_EQ(box.icon, LoadIconA(nullptr, MAKEINTRESOURCEA(32513)));  // IDI_ERROR
    // The worker waits for the box: the busy state lasts until it is closed.
    EXPECT_EQ(driver.ControlState(), kBusy);
    DialogDriver::Dismiss(box);
    EXPECT_TRUE(DialogDriver::WaitUntil([&] { return driver.ControlState() == kReady; }, 10s));
  });
}

TEST(Win32Session, ExecuteWhileBusyOnlySaysInProgress) {
  UnitConfig config;
  config.faults.DropAnswer(MessageKind::Identity, Occurrence::Every());
  // The identification waits long enough for the second command to arrive while it runs.
  UnitWindowRig rig(config, PatientTiming());
  rig.window.Run([&](DialogDriver& driver) {
    driver.Click(1);
    ASSERT_TRUE(DialogDriver::WaitUntil([&] { return driver.ControlState() == kBusy; }, 10s));
    // The button is disabled, so the command comes as the dialog's OK command (Enter).
    driver.Post(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    FoundBox box;
    ASSERT_TRUE(driver.WaitForBox("Error", 10s, &box));
    EXPECT_EQ(box.text, "In Progress.");
    DialogDriver::Dismiss(box);
    ASSERT_TRUE(DialogDriver::WaitUntil([&] { return !IsWindow(box.window); }, 10s));
    EXPECT_EQ(driver.ControlState(), kBusy);
    EXPECT_EQ(rig.unit.Count(MessageKind::Identity), 1u);
  });
  EXPECT_FALSE(rig.window.dialog.Logic().WorkerRunning());
}

TEST(Win32Session, ClosingDuringTheUpdateEndsTheWorkerSilently) {
  UnitWindowRig rig;
  std::atomic<bool> boxSeen{false};
  const INT_PTR result = rig.window.Run([&](DialogDriver& driver) {
    driver.Click(1);
    ASSERT_TRUE(DialogDriver::WaitUntil(
        [&] { return rig.unit.Count(MessageKind::FlashWrite) >= 20; }, 120s));
    // The close box: the dialog manager turns it into the cancel command.
    driver.Post(WM_SYSCOMMAND, SC_CLOSE, 0);
    DialogDriver::WaitUntil([&] { return !IsWindow(driver.Dialog()); }, 30s);
    boxSeen = !NoBox(driver, "Error");
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_FALSE(boxSeen);
  EXPECT_FALSE(rig.window.dialog.Logic().WorkerRunning());
  EXPECT_EQ(rig.window.dialog.Logic().Exchange().Status(), 255);
  // Nothing reaches the unit any more.
  ASSERT_TRUE(rig.unit.WaitIdle(5s));
  const uint32_t writes = rig.unit.Count(MessageKind::FlashWrite);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(rig.unit.Count(MessageKind::FlashWrite), writes);
  EXPECT_FALSE(rig.unit.VerifyPackage().ok);
}

TEST(Win32Session, InstanceTwoPreselectsItsSuffixedDevice) {
  LoopbackMidi midi;
  midi.AddDevice("TELVOR Q9");
  midi.AddDevice("USB Audio Device (2)");
  midi.AddDevice("TELVOR Q9 (2)");
  Win32WindowRig window(midi, 2);
  window.Run([&](DialogDriver& driver) {
    EXPECT_EQ(driver.Title(), "TELVOR Q9 System v1.20 Updater (2)");
    EXPECT_EQ(driver.ListEntries(1000),
              (std::vector<std::string>{"TELVOR Q9", "USB Audio Device (2)", "TELVOR Q9 (2)"}));
    // The last matching entry wins; the plain name is no candidate of instance 2.
    EXPECT_EQ(driver.Selection(1000), 2);
    EXPECT_EQ(driver.Selection(1001), 2);
  });
}

}  // namespace
}  // namespace kv5
