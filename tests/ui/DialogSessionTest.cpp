// The dialog driving whole sessions against the virtual unit over the loopback MIDI system, with
// the system timer running the reply poller and a fast timing table.
#include <gtest/gtest.h>

#include <chrono>

#include "DialogRig.h"
#include "platform/midi/loopback/LoopbackMidi.h"
#include "platform/timer/TimerServices.h"
#include "unit/VirtualUnit.h"

namespace kv5 {
namespace {

using namespace std::chrono_literals;

struct UnitRig {
  explicit UnitRig(UnitConfig config = {}, int instance = 1)
      : timer(MakeSystemTimerServices()),
        unit(midi.AddDevice(instance == 1 ? "TELVOR Q9"
                                          : "TELVOR Q9 (" + std::to_string(instance) + ")"),
             std::move(config)) {
    unit.Start();
    dialog = std::make_unique<CKv5UpdatorDlg>(view, midi, *timer, instance, FastTiming());
    dialog->GuardTestPackage(false);
    dialog->OnInitDialog();
  }
  bool Settled() { return !dialog->Busy() && !dialog->WorkerRunning(); }

  LoopbackMidi midi;
  std::unique_ptr<TimerServices> timer;
  VirtualUnit unit;
  RecordingView view;
  std::unique_ptr<CKv5UpdatorDlg> dialog;
};

TEST(DialogSession, CompletedUpdateLeavesTheUpdatedStateUntilRescan) {
  UnitRig rig;
  ASSERT_EQ(rig.view.GetCurSel(IDC_OUT_DEVICE_LIST), 0);
  ASSERT_EQ(rig.view.GetCurSel(IDC_IN_DEVICE_LIST), 0);
  rig.dialog->OnExecute();
  EXPECT_EQ(ControlState(rig.view), kBusy);
  ASSERT_TRUE(rig.view.PumpUntil([&] { return rig.Settled(); }, 120s));

  EXPECT_TRUE(rig.view.Boxes().empty()) << rig.view.Boxes()[0].text;
  EXPECT_EQ(rig.view.Text(IDC_STATUS_LINE), "Version update completed.");
  EXPECT_EQ(rig.view.Text(IDC_STEP_COUNTER), "10/10");
  EXPECT_EQ(ControlState(rig.view), kUpdated);
  EXPECT_TRUE(rig.view.AllOnUiThread());
  ASSERT_TRUE(rig.unit.WaitIdle(5s));
  const PackageVerification verification = rig.unit.VerifyPackage();
  EXPECT_TRUE(verification.ok);
  // The largest image's range went to the bar whole and its position reached the end.
  bool sawSystemRange = false;
  for (const std::string& event : rig.view.Events())
    sawSystemRange = sawSystemRange || event == "range:0:1064224";
  EXPECT_TRUE(sawSystemRange);

  rig.dialog->OnRescanDevice();
  EXPECT_EQ(ControlState(rig.view), kReady);
}

TEST(DialogSession, VersionCheckShowsTheReportAndClosesThePorts) {
  UnitRig rig;  // the unit holds older firmware
  rig.dialog->OnVersionCheck();
  ASSERT_TRUE(rig.view.PumpUntil([&] { return rig.Settled(); }, 60s));
  ASSERT_EQ(rig.view.Boxes().size(), 1u);
  EXPECT_EQ(rig.view.Boxes()[0].caption, "Version Information");
  EXPECT_EQ(rig.view.Boxes()[0].icon, MessageIcon::Information);
  EXPECT_EQ(rig.view.Boxes()[0].text,
            "SYSTEM:\t\t1.10 -> 1.20\nPRESET:\t\t1.00\nBOOT:\t\t1.00\nSUBMCU:\t\t*.** -> 1.01");
  // Unlike an update, a check leaves every action enabled.
  EXPECT_EQ(ControlState(rig.view), kReady);
  // The ports are closed: the unit's own request reaches nobody and is not answered...
  EXPECT_TRUE(rig.unit.SendRequest(UnitRequest::Identity()));
  EXPECT_FALSE(rig.unit.WaitForHostAnswers(1, 200ms));
  // ...while with the ports open again the poller answers it.
  ASSERT_EQ(rig.dialog->OpenSelectedPorts(), 0);
  EXPECT_TRUE(rig.unit.SendRequest(UnitRequest::Identity()));
  EXPECT_TRUE(rig.unit.WaitForHostAnswers(1, 5s));
  EXPECT_EQ(rig.view.Boxes().size(), 1u);
}

TEST(DialogSession, AfterAnUpdateTheCheckNeedsRescanAndThenReportsThePackage) {
  UnitRig rig;
  rig.dialog->OnExecute();
  ASSERT_TRUE(rig.view.PumpUntil([&] { return rig.Settled(); }, 120s));
  ASSERT_EQ(ControlState(rig.view), kUpdated);
  rig.dialog->OnRescanDevice();
  rig.dialog->OnVersionCheck();
  ASSERT_TRUE(rig.view.PumpUntil([&] { return rig.Settled(); }, 60s));
  ASSERT_EQ(rig.view.Boxes().size(), 1u);
  EXPECT_EQ(rig.view.Boxes()[0].text,
            "SYSTEM:\t\t1.20 -> 1.20\nPRESET:\t\t1.00\nBOOT:\t\t1.00\nSUBMCU:\t\t1.01");
}

TEST(DialogSession, AUnitOutsideUpdateModeEndsWithItsMessageAndReady) {
  UnitConfig config;
  config.updateMode = false;
  UnitRig rig(config);
  rig.dialog->OnExecute();
  ASSERT_TRUE(rig.view.PumpUntil([&] { return rig.Settled(); }, 60s));
  ASSERT_EQ(rig.view.Boxes().size(), 1u);
  EXPECT_EQ(rig.view.Boxes()[0].text, "Please use the firmware update mode.");
  EXPECT_EQ(rig.view.Boxes()[0].caption, "Error");
  EXPECT_EQ(ControlState(rig.view), kReady);
}

TEST(DialogSession, ClosingDuringTheUpdateEndsTheWorkerSilently) {
  UnitRig rig;
  rig.dialog->OnExecute();
  // Keep the window's thread serving the worker until the writes are well under way.
  ASSERT_TRUE(
      rig.view.PumpUntil([&] { return rig.unit.Count(MessageKind::FlashWrite) >= 20; }, 60s));
  rig.dialog->OnDestroy();
  EXPECT_FALSE(rig.dialog->WorkerRunning());
  EXPECT_EQ(rig.dialog->Exchange().Status(), 255);
  rig.view.Pump();
  EXPECT_TRUE(rig.view.Boxes().empty());
  EXPECT_EQ(ControlState(rig.view), kBusy);  // the window is gone; nothing left the busy state
  // Nothing reaches the unit any more.
  ASSERT_TRUE(rig.unit.WaitIdle(5s));
  const uint32_t writes = rig.unit.Count(MessageKind::FlashWrite);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(rig.unit.Count(MessageKind::FlashWrite), writes);
  EXPECT_NE(rig.view.Text(IDC_STATUS_LINE), "Version update completed.");
}

TEST(DialogSession, InstanceTwoDrivesItsOwnSuffixedDevice) {
  UnitRig rig(UnitConfig{}, 2);
  EXPECT_EQ(rig.view.Title(), "TELVOR Q9 System v1.20 Updater (2)");
  ASSERT_EQ(rig.view.GetCurSel(IDC_OUT_DEVICE_LIST), 0);
  rig.dialog->OnVersionCheck();
  ASSERT_TRUE(rig.view.PumpUntil([&] { return rig.Settled(); }, 60s));
  ASSERT_EQ(rig.view.Boxes().size(), 1u);
  EXPECT_EQ(rig.view.Boxes()[0].caption, "Version Information");
}

}  // namespace
}  // namespace kv5
