// The dialog's handlers and feedback operations over the recording fake MIDI system: device
// lists and preselection, the port openings and their failures, the busy state, the About
// command and closing the window.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "DialogRig.h"
#include "platform/midi/MidiServices.h"
#include "session/StringTable.h"
#include "ui/OwnerNotices.h"

namespace kv5 {
namespace {

using namespace std::chrono_literals;

TEST(DialogPreselection, InstanceOneTakesPlainNamesAndTheLastMatchWins) {
  FakeRig rig(1, {"USB Audio Device", "Other In"},
              {"Synth", "USB Audio Device", "Mixer", "TELVOR Q9", "TELVOR Q9 (2)"});
  rig.dialog->OnInitDialog();
  // Lists hold the devices in device order, unsorted.
  EXPECT_EQ(rig.view.Entries(IDC_OUT_DEVICE_LIST),
            (std::vector<std::string>{"Synth", "USB Audio Device", "Mixer", "TELVOR Q9",
                                      "TELVOR Q9 (2)"}));
  EXPECT_EQ(rig.view.Entries(IDC_IN_DEVICE_LIST),
            (std::vector<std::string>{"USB Audio Device", "Other In"}));
  EXPECT_EQ(rig.view.GetCurSel(IDC_IN_DEVICE_LIST), 0);
  // "USB Audio Device" at 1 and "TELVOR Q9" at 3: the later entry wins, whatever the candidates'
  // order; the suffixed name belongs to instance 2.
  EXPECT_EQ(rig.view.GetCurSel(IDC_OUT_DEVICE_LIST), 3);
}

TEST(DialogPreselection, LastMatchWinsWhateverTheCandidateOrder) {
  FakeRig rig(1, {"USB Audio Device", "x", "TELVOR Q9", "y"},
              {"TELVOR Q9", "USB Audio Device", "z"});
  rig.dialog->OnInitDialog();
  EXPECT_EQ(rig.view.GetCurSel(IDC_IN_DEVICE_LIST), 2);
  EXPECT_EQ(rig.view.GetCurSel(IDC_OUT_DEVICE_LIST), 1);
}

TEST(DialogPreselection, InstanceTwoTakesOnlyItsOwnSuffix) {
  FakeRig rig(2, {"TELVOR Q9 (2)", "TELVOR Q9", "TELVOR Q9 (3)"},
              {"USB Audio Device (2)", "USB Audio Device", "TELVOR Q9(2)", "TELVOR Q9 (12)"});
  rig.dialog->OnInitDialog();
  EXPECT_EQ(rig.view.GetCurSel(IDC_IN_DEVICE_LIST), 0);
  EXPECT_EQ(rig.view.GetCurSel(IDC_OUT_DEVICE_LIST), 0);

  FakeRig plain(2, {"TELVOR Q9"}, {"TELVOR Q9", "USB Audio Device"});
  plain.dialog->OnInitDialog();
  EXPECT_EQ(plain.view.GetCurSel(IDC_IN_DEVICE_LIST), -1);
  EXPECT_EQ(plain.view.GetCurSel(IDC_OUT_DEVICE_LIST), -1);
}

TEST(DialogPreselection, NoMatchLeavesNoSelectionAndComparisonIsExact) {
  FakeRig rig(1, {"telvor q9", "TELVOR Q9 ", " TELVOR Q9", "USB Audio Device (1)"}, {});
  rig.dialog->OnInitDialog();
  EXPECT_EQ(rig.view.GetCount(IDC_IN_DEVICE_LIST), 4);
  EXPECT_EQ(rig.view.GetCurSel(IDC_IN_DEVICE_LIST), -1);
  EXPECT_EQ(rig.view.GetCount(IDC_OUT_DEVICE_LIST), 0);
  EXPECT_EQ(rig.view.GetCurSel(IDC_OUT_DEVICE_LIST), -1);
}

TEST(DialogRescan, ReplacesAManualChoiceAndEnablesTheActionsWithoutTouchingPorts) {
  FakeRig rig(1, {"A", "TELVOR Q9", "B"});
  rig.dialog->OnInitDialog();
  rig.view.SetCurSel(IDC_OUT_DEVICE_LIST, 2);
  rig.view.SetCurSel(IDC_IN_DEVICE_LIST, 0);
  rig.dialog->EnableActions(false);
  ASSERT_EQ(ControlState(rig.view), kUpdated);
  rig.midi.ClearLog();

  rig.dialog->OnRescanDevice();
  EXPECT_EQ(rig.view.GetCurSel(IDC_OUT_DEVICE_LIST), 1);
  EXPECT_EQ(rig.view.GetCurSel(IDC_IN_DEVICE_LIST), 1);
  EXPECT_EQ(ControlState(rig.view), kReady);
  EXPECT_EQ(rig.midi.Count("midiOutOpen") + rig.midi.Count("midiOutClose") +
                rig.midi.Count("midiInOpen") + rig.midi.Count("midiInClose"),
            0u);

  // The devices changed: the rescan shows the new lists, and without a match no selection.
  rig.midi.SetInputDevices({"C", "D"});
  rig.midi.SetOutputDevices({"E"});
  rig.view.SetCurSel(IDC_OUT_DEVICE_LIST, 0);
  rig.dialog->OnRescanDevice();
  EXPECT_EQ(rig.view.Entries(IDC_IN_DEVICE_LIST), (std::vector<std::string>{"C", "D"}));
  EXPECT_EQ(rig.view.GetCurSel(IDC_IN_DEVICE_LIST), -1);
  EXPECT_EQ(rig.view.GetCurSel(IDC_OUT_DEVICE_LIST), -1);
}

TEST(DialogInit, TitleMenuTimerAndProgressRange) {
  FakeRig first(1, {"TELVOR Q9"});
  ASSERT_TRUE(first.dialog->OnInitDialog());
  EXPECT_EQ(first.view.Title(), "TELVOR Q9 System v1.20 Updater");
  ASSERT_EQ(first.view.MenuEntries().size(), 1u);
  EXPECT_EQ(first.view.MenuEntries()[0].first, 0x0010u);
  EXPECT_EQ(first.view.MenuEntries()[0].second, "About TELVOR Q5 Updater(&A)...");
  EXPECT_EQ(first.view.ProgressLower(), 0);
  EXPECT_EQ(first.view.ProgressUpper(), 100);
  EXPECT_EQ(ControlState(first.view), kReady);
  EXPECT_EQ(first.view.Text(IDC_STATUS_LINE), "");
  EXPECT_EQ(first.view.Text(IDC_STEP_COUNTER), "");
  // The poller's timer: one periodic event of 1 ms.
  ASSERT_EQ(first.timer.ActiveEvents().size(), 1u);
  bool periodicOneMs = false;
  for (const TimerCall& call : first.timer.Calls()) {
    if (call.name == "timeSetEvent" && call.args.size() == 3)
      periodicOneMs = call.args[0] == 1 && call.args[2] == 1;
  }
  EXPECT_TRUE(periodicOneMs);

  FakeRig third(3, {"TELVOR Q9"});
  third.dialog->OnInitDialog();
  EXPECT_EQ(third.view.Title(), "TELVOR Q9 System v1.20 Updater (3)");

  // The timer stops when the dialog object goes.
  first.dialog.reset();
  EXPECT_TRUE(first.timer.ActiveEvents().empty());
}

// A window that guards the test package names it in its title and in its ready status line (also
// after a rescan), and asks before Execute writes: No leaves the ports untouched. A release
// build's window asks nothing.
TEST(DialogInit, TheTestPackageGuardNamesThePackageAndAsksBeforeExecute) {
  FakeRig guarded(2, {"TELVOR Q9 (2)"});
  guarded.dialog->GuardTestPackage(true);
  ASSERT_TRUE(guarded.dialog->OnInitDialog());
  EXPECT_EQ(guarded.view.Title(), "TELVOR Q9 System v1.20 Updater (2) (test package)");
  EXPECT_EQ(guarded.view.Text(IDC_STATUS_LINE), kTestPackageReadyText);
  guarded.view.AnswerQuestions(false);
  guarded.midi.ClearLog();
  guarded.dialog->OnExecute();
  ASSERT_EQ(guarded.view.Questions().size(), 1u);
  EXPECT_EQ(guarded.view.Questions()[0].caption, kTestPackageQuestionCaption);
  EXPECT_NE(
      guarded.view.Questions()[0].text.find("SYSTEM 1.20, PRESET 1.00, BOOT 1.00, SUBMCU 1.01"),
      std::string::npos);
  EXPECT_TRUE(guarded.midi.Calls().empty());
  EXPECT_EQ(ControlState(guarded.view), kReady);
  guarded.view.AnswerQuestions(true);
  guarded.dialog->OnExecute();
  EXPECT_EQ(guarded.midi.Count("midiOutOpen"), 1u);
  EXPECT_EQ(ControlState(guarded.view), kBusy);
  guarded.dialog->OnDestroy();

  FakeRig release(1, {"TELVOR Q9"});
  release.dialog->OnInitDialog();
  release.view.SetControlText(IDC_STATUS_LINE, "Version update completed.");
  release.dialog->OnRescanDevice();
  EXPECT_EQ(release.view.Text(IDC_STATUS_LINE), "Version update completed.");
  release.dialog->OnExecute();
  EXPECT_TRUE(release.view.Questions().empty());
  EXPECT_EQ(ControlState(release.view), kBusy);
}

TEST(DialogInit, AQueuedMessageWakesThePollerAndATickThatEmptiesTheQueueRests) {
  FakeRig rig(1, {"TELVOR Q9"});
  ASSERT_TRUE(rig.dialog->OnInitDialog());
  ASSERT_EQ(rig.dialog->OpenSelectedPorts(), 0);
  EXPECT_EQ(rig.timer.Wakes(), 0u);
  ASSERT_TRUE(rig.midi.DeliverLongData({0xF0, 0x7D, 0x00, 0x4D, 0x03, 0xF7}));
  EXPECT_EQ(rig.timer.Wakes(), 1u);
  EXPECT_EQ(rig.timer.LastRestLimit(), 0u);
  ASSERT_EQ(rig.timer.TickAll(), 1u);
  EXPECT_EQ(rig.timer.LastRestLimit(), 100u);
}

TEST(DialogSysCommand, CommandsSixteenToThirtyOneOpenTheAboutBox) {
  FakeRig rig(1, {"TELVOR Q9"});
  rig.dialog->OnInitDialog();
  for (uint32_t command = 0x0010; command <= 0x001F; ++command) rig.dialog->OnSysCommand(command);
  EXPECT_EQ(rig.view.AboutBoxes(), 16);
  for (uint32_t command : {0x0000u, 0x000Fu, 0x0020u, 0xF060u, 0xF120u})
    rig.dialog->OnSysCommand(command);
  EXPECT_EQ(rig.view.AboutBoxes(), 16);
  EXPECT_TRUE(rig.view.Boxes().empty());
}

TEST(DialogBusyState, EnterLeaveAndEnableActions) {
  FakeRig rig(1, {"TELVOR Q9"});
  rig.dialog->OnInitDialog();
  rig.dialog->Exchange().ReplyEvent.Set();
  rig.dialog->EnterBusy();
  EXPECT_EQ(ControlState(rig.view), kBusy);
  EXPECT_TRUE(rig.dialog->Busy());
  EXPECT_FALSE(rig.dialog->Exchange().ReplyEvent.IsSet());  // an old signal cannot satisfy a wait

  rig.dialog->EnableActions(false);
  rig.dialog->LeaveBusy();
  EXPECT_EQ(ControlState(rig.view), kReady);  // whatever EnableActions did before
  EXPECT_FALSE(rig.dialog->Busy());
  rig.dialog->EnableActions(false);
  EXPECT_EQ(ControlState(rig.view), kUpdated);
  rig.dialog->EnableActions(true);
  EXPECT_EQ(ControlState(rig.view), kReady);

  rig.dialog->ShowError(IDS_CANT_OPEN_OUT);
  ASSERT_EQ(rig.view.Boxes().size(), 1u);
  EXPECT_EQ(rig.view.Boxes()[0].text, "Can't open MIDI Out device.");
  EXPECT_EQ(rig.view.Boxes()[0].caption, "Error");
  EXPECT_EQ(rig.view.Boxes()[0].icon, MessageIcon::Error);
}

TEST(DialogPorts, OutputThatDoesNotOpenLeavesTheInputAsItWas) {
  FakeRig rig(1, {"TELVOR Q9"});
  rig.dialog->OnInitDialog();
  ASSERT_EQ(rig.dialog->OpenSelectedPorts(), 0);
  ASSERT_TRUE(rig.midi.InputOpen());
  rig.midi.ClearLog();

  rig.midi.SetResultOnce("midiOutOpen", MMSYSERR_ALLOCATED);
  rig.dialog->OnExecute();
  ASSERT_EQ(rig.view.Boxes().size(), 1u);
  EXPECT_EQ(rig.view.Boxes()[0].text, "Can't open MIDI Out device.");
  EXPECT_EQ(rig.view.Boxes()[0].caption, "Error");
  EXPECT_EQ(rig.view.Boxes()[0].icon, MessageIcon::Error);
  EXPECT_EQ(ControlState(rig.view), kReady);
  EXPECT_FALSE(rig.dialog->Busy());
  EXPECT_FALSE(rig.dialog->WorkerRunning());
  // The output was closed before the attempt; the input was not touched.
  EXPECT_EQ(rig.midi.CallNames(), (std::vector<std::string>{"midiOutClose", "midiOutOpen"}));
  EXPECT_TRUE(rig.midi.InputOpen());
}

TEST(DialogPorts, InputThatDoesNotOpenLeavesTheOutputOpen) {
  FakeRig rig(1, {"TELVOR Q9"});
  rig.dialog->OnInitDialog();
  rig.midi.SetResultOnce("midiInOpen", MMSYSERR_ALLOCATED);
  rig.dialog->OnVersionCheck();
  ASSERT_EQ(rig.view.Boxes().size(), 1u);
  EXPECT_EQ(rig.view.Boxes()[0].text, "Can't open MIDI In device.");
  EXPECT_EQ(rig.view.Boxes()[0].caption, "Error");
  EXPECT_EQ(ControlState(rig.view), kReady);
  EXPECT_FALSE(rig.dialog->Busy());
  EXPECT_FALSE(rig.dialog->WorkerRunning());
  EXPECT_EQ(rig.midi.Count("midiOutOpen"), 1u);
  EXPECT_EQ(rig.midi.Count("midiOutClose"), 0u);
  EXPECT_FALSE(rig.midi.InputOpen());

  // The next attempt closes the output again before it reopens it; closing the window closes it.
  rig.midi.SetResultOnce("midiInOpen", MMSYSERR_ALLOCATED);
  rig.dialog->OnExecute();
  EXPECT_EQ(rig.midi.Count("midiOutClose"), 1u);
  EXPECT_EQ(rig.midi.Count("midiOutOpen"), 2u);
  rig.dialog->OnDestroy();
  EXPECT_EQ(rig.midi.Count("midiOutClose"), 2u);
  EXPECT_EQ(rig.view.Boxes().size(), 2u);
}

TEST(DialogPorts, AFailedOpenKeepsTheUpdatedState) {
  FakeRig rig(1, {"TELVOR Q9"});
  rig.dialog->OnInitDialog();
  rig.dialog->EnableActions(false);
  rig.midi.SetResultOnce("midiOutOpen", MMSYSERR_BADDEVICEID);
  rig.dialog->OnExecute();
  EXPECT_EQ(ControlState(rig.view), kUpdated);
  EXPECT_FALSE(rig.dialog->Busy());
}

TEST(DialogPorts, AListWithoutSelectionHandsMinusOneToTheOpen) {
  FakeRig rig(1, {"Nothing to preselect"});
  rig.dialog->OnInitDialog();
  ASSERT_EQ(rig.view.GetCurSel(IDC_OUT_DEVICE_LIST), -1);
  rig.midi.SetResult("midiInOpen", MMSYSERR_BADDEVICEID);
  rig.dialog->OnExecute();
  const std::vector<MidiCall> calls = rig.midi.Calls();
  bool outDefault = false;
  bool inMinusOne = false;
  for (const MidiCall& call : calls) {
    if (call.name == "midiOutOpen") outDefault = call.args.at(0) == MIDI_MAPPER;
    if (call.name == "midiInOpen") inMinusOne = call.args.at(0) == 0xFFFFFFFFu;
  }
  EXPECT_TRUE(outDefault);
  EXPECT_TRUE(inMinusOne);
  ASSERT_EQ(rig.view.Boxes().size(), 1u);
  EXPECT_EQ(rig.view.Boxes()[0].text, "Can't open MIDI In device.");
}

TEST(DialogBusy, ExecuteOrVersionCheckWhileBusyOnlySaysInProgress) {
  FakeRig rig(1, {"TELVOR Q9"});
  rig.dialog->OnInitDialog();
  rig.dialog->OnExecute();
  ASSERT_TRUE(rig.dialog->Busy());
  ASSERT_TRUE(rig.dialog->WorkerRunning());
  EXPECT_EQ(ControlState(rig.view), kBusy);
  // The worker's identity request went out and it now waits for an answer that never comes.
  ASSERT_TRUE(
      rig.view.PumpUntil([&] { return rig.midi.Count("midiOutUnprepareHeader") >= 1; }, 5s));
  rig.midi.ClearLog();

  rig.dialog->OnExecute();
  rig.dialog->OnVersionCheck();
  ASSERT_EQ(rig.view.Boxes().size(), 2u);
  for (const RecordedBox& box : rig.view.Boxes()) {
    EXPECT_EQ(box.text, "In Progress.");
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.icon, MessageIcon::Error);
  }
  EXPECT_TRUE(rig.midi.Calls().empty()) << "a busy dialog touched the ports";
  EXPECT_TRUE(rig.midi.InputOpen());
  EXPECT_EQ(ControlState(rig.view), kBusy);
  EXPECT_TRUE(rig.dialog->WorkerRunning());
  // A second worker would have sent a second identity request.
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(rig.midi.Count("midiOutLongMsg"), 0u);

  // Closing the window ends the waiting worker without a box and closes both ports.
  rig.dialog->OnDestroy();
  EXPECT_FALSE(rig.dialog->WorkerRunning());
  EXPECT_EQ(rig.dialog->Exchange().Status(), 255);
  EXPECT_EQ(rig.midi.Count("midiOutClose"), 1u);
  EXPECT_FALSE(rig.midi.InputOpen());
  rig.view.Pump();
  EXPECT_EQ(rig.view.Boxes().size(), 2u);
}

TEST(DialogClose, ABoxTheWorkerWantedWhileTheWindowClosesIsNotShown) {
  FakeRig rig(1, {"TELVOR Q9"});
  rig.dialog->OnInitDialog();
  // The identity request cannot be sent: the worker asks for "Can't open MIDI Out device.".
  rig.midi.SetResult("midiOutLongMsg", MMSYSERR_ERROR);
  rig.dialog->OnExecute();
  ASSERT_TRUE(rig.view.WaitForPosts(1, 5s));
  // The window closes before the user-interface thread got to the box.
  rig.dialog->OnDestroy();
  EXPECT_FALSE(rig.dialog->WorkerRunning());
  rig.view.Pump();
  EXPECT_TRUE(rig.view.Boxes().empty());
  EXPECT_EQ(ControlState(rig.view), kBusy);  // nobody left the busy state: the window is gone
}

TEST(DialogClose, AWorkerThatFailsShowsItsBoxBeforeLeavingBusy) {
  FakeRig rig(1, {"TELVOR Q9"});
  rig.dialog->OnInitDialog();
  rig.midi.SetResult("midiOutLongMsg", MMSYSERR_ERROR);
  rig.dialog->OnExecute();
  ASSERT_TRUE(rig.view.PumpUntil([&] { return !rig.dialog->Busy(); }));
  ASSERT_EQ(rig.view.Boxes().size(), 1u);
  EXPECT_EQ(rig.view.Boxes()[0].text, "Can't open MIDI Out device.");
  EXPECT_EQ(ControlState(rig.view), kReady);
  EXPECT_TRUE(rig.view.AllOnUiThread());
  // The box came before the controls were enabled again.
  const std::vector<std::string>& events = rig.view.Events();
  size_t box = events.size();
  size_t enabled = events.size();
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i] == "box:Can't open MIDI Out device.") box = i;
    if (events[i] == "enable:1:1" && enabled == events.size()) enabled = i;
  }
  EXPECT_LT(box, enabled);
  EXPECT_TRUE(rig.view.PumpUntil([&] { return !rig.dialog->WorkerRunning(); }));
}

TEST(DialogFeedback, WorkerCallsRunOnTheUiThreadAndReturnWhenDone) {
  FakeRig rig(1, {"TELVOR Q9"});
  rig.dialog->OnInitDialog();
  std::atomic<int> stage{0};
  std::thread worker([&] {
    rig.dialog->SetProgressRange(1064224);
    rig.dialog->SetProgressPos(70000);
    rig.dialog->SetStepCounter("3/10");
    stage = 1;
    rig.dialog->SetStatusLine("Data transmit  4096 / 1064224 ");
    stage = 2;
  });
  ASSERT_TRUE(rig.view.WaitForPosts(1, 5s));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(stage.load(), 0) << "a feedback call returned before the window ran it";
  ASSERT_TRUE(rig.view.PumpUntil([&] { return stage.load() == 2; }));
  worker.join();
  EXPECT_TRUE(rig.view.AllOnUiThread());
  EXPECT_EQ(rig.view.ProgressUpper(), 1064224);
  EXPECT_EQ(rig.view.ProgressPos(), 70000);
  EXPECT_EQ(rig.view.Text(IDC_STEP_COUNTER), "3/10");
  EXPECT_EQ(rig.view.Text(IDC_STATUS_LINE), "Data transmit  4096 / 1064224 ");

  // Once the window has closed, calls from a worker return at once and change nothing.
  rig.dialog->OnDestroy();
  std::thread late([&] {
    rig.dialog->SetStatusLine("late");
    rig.dialog->ShowError(IDS_TRANSFER_ERROR);
    rig.dialog->LeaveBusy();
  });
  late.join();
  rig.view.Pump();
  EXPECT_EQ(rig.view.Text(IDC_STATUS_LINE), "Data transmit  4096 / 1064224 ");
  EXPECT_TRUE(rig.view.Boxes().empty());
}

}  // namespace
}  // namespace kv5
