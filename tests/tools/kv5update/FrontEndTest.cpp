// kv5update's commands run in-process through the dialog logic against loopback MIDI and the
// virtual unit, with the production session timing (so only failures that come fast are used).
#include "tools/kv5update/FrontEnd.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "platform/midi/MidiBackend.h"
#include "platform/midi/loopback/LoopbackMidi.h"
#include "support/RecordingMidi.h"
#include "tools/kv5update/ExitCodes.h"
#include "tools/kv5update/Kv5UpdateRun.h"
#include "tools/kv5update/NextSteps.h"
#include "unit/VirtualUnit.h"

namespace kv5 {
namespace {

const char kWarning[] =
    "Warning: this build carries the synthetic test package; it is not firmware for a real "
    "unit.\n";
// A header, and the arrow with the package's stamp only where the stamps differ.
const char kOlderReport[] =
    "component\tunit -> package\n"
    "SYSTEM:\t\t1.10 -> 1.20\nPRESET:\t\t1.00\nBOOT:\t\t1.00\nSUBMCU:\t\t*.** -> 1.01\n";
const char kCurrentReport[] =
    "component\tunit -> package\n"
    "SYSTEM:\t\t1.20\nPRESET:\t\t1.00\nBOOT:\t\t1.00\nSUBMCU:\t\t1.01\n";
const char kNoMidiSystem[] =
    "No MIDI system: neither the ALSA sequencer nor a running JACK server was found.\n";

RunResult RunOn(MidiBackend& midi, FrontEndOptions options, bool inProcessUnit = true,
                const std::atomic<int>* interrupt = nullptr) {
  std::ostringstream out, err;
  ConsoleStreams streams{out, err, false, 80};
  std::atomic<int> none{0};
  RunResult run;
  run.code = RunCommand(options, midi, inProcessUnit, streams, interrupt ? *interrupt : none);
  run.out = out.str();
  run.err = err.str();
  return run;
}

FrontEndOptions Options(Command command) {
  FrontEndOptions options;
  options.command = command;
  return options;
}

TEST(FrontEnd, ListMarksThePreselectedDevice) {
  const RunResult run = RunArgs({"list", "--backend", "virtual"});
  EXPECT_EQ(run.code, kExitOk) << run.err;
  EXPECT_EQ(run.out, "MIDI IN devices:\n* 0  TELVOR Q9\nMIDI OUT devices:\n* 0  TELVOR Q9\n");

  LoopbackMidi midi;
  midi.AddDevice("Other Synth");
  midi.AddDevice("TELVOR Q9");
  midi.AddDevice("USB Audio Device");
  const RunResult two = RunOn(midi, Options(Command::List));
  EXPECT_EQ(two.code, kExitOk);
  // The last entry that matches a candidate wins, as in the window.
  EXPECT_EQ(two.out,
            "MIDI IN devices:\n  0  Other Synth\n  1  TELVOR Q9\n* 2  USB Audio Device\n"
            "MIDI OUT devices:\n  0  Other Synth\n  1  TELVOR Q9\n* 2  USB Audio Device\n");

  auto none = MakeNoMidiBackend();
  const RunResult empty = RunOn(*none, Options(Command::List));
  EXPECT_EQ(empty.code, kExitNoMidiSystem);
  EXPECT_EQ(empty.out, "MIDI IN devices:\n  (none)\nMIDI OUT devices:\n  (none)\n");
  EXPECT_EQ(empty.err, kNoMidiSystem);
}

TEST(FrontEnd, NoMidiSystemIsOneExitStatusForEveryCommand) {
  auto none = MakeNoMidiBackend();
  for (const Command command :
       {Command::List, Command::Probe, Command::Check, Command::Update, Command::Verify}) {
    const RunResult run = RunOn(*none, Options(command));
    EXPECT_EQ(run.code, kExitNoMidiSystem) << static_cast<int>(command);
    EXPECT_EQ(run.err, kNoMidiSystem);
  }
}

TEST(FrontEnd, CheckUpdateCheckOnOneUnitByIndexAndName) {
  LoopbackMidi midi;
  midi.AddDevice("Other Synth");
  UnitConfig config;
  config.initialFlash = InitialFlash::OlderFirmware;
  VirtualUnit unit(midi.AddDevice("Q9 Port"), config);
  ASSERT_TRUE(unit.Start());

  FrontEndOptions check = Options(Command::Check);
  check.inDevice = "1";
  check.outDevice = "Q9 Port";
  RunResult run = RunOn(midi, check);
  EXPECT_EQ(run.code, kExitOk) << run.err;
  EXPECT_EQ(run.out, kOlderReport);
  EXPECT_EQ(run.err, "");

  FrontEndOptions update = check;
  update.command = Command::Update;
  update.inDevice = "Q9 Port";
  update.outDevice = "1";
  run = RunOn(midi, update);
  EXPECT_EQ(run.code, kExitOk) << run.err;
  EXPECT_EQ(run.err, kWarning);
  // Plain lines (no terminal): one per phase, no carriage returns, the completion last.
  EXPECT_EQ(run.out.find('\r'), std::string::npos);
  EXPECT_EQ(run.out.rfind("[0/10] Entering the firmware update mode\n"
                          "[1/10] SYSTEM info block: Erasing Flash memory.\n",
                          0),
            0u)
      << run.out;
  // The unit's BOOT stamp equals the package's: steps 4 and 5 send nothing.
  EXPECT_NE(run.out.find("[3/10] PRESET: 110592 bytes written in"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("[4/10] BOOT unchanged, skipped\n[5/10] BOOT unchanged, skipped\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("[7/10] SYSTEM: 1064224 bytes written in"), std::string::npos) << run.out;
  const std::string ending = "Version update completed.\n";
  ASSERT_GE(run.out.size(), ending.size());
  EXPECT_EQ(run.out.substr(run.out.size() - ending.size()), ending);
  EXPECT_TRUE(unit.WaitIdle(std::chrono::seconds(5)));
  const PackageVerification verified = unit.VerifyPackage();
  EXPECT_TRUE(verified.ok) << verified.message;
  EXPECT_EQ(unit.Count(MessageKind::FinishUpdate), 1u);

  run = RunOn(midi, check);
  EXPECT_EQ(run.code, kExitOk) << run.err;
  EXPECT_EQ(run.out, kCurrentReport);
}

TEST(FrontEnd, VerifyReadsEveryRegionBackAndUpdateVerifyFollowsACompletedUpdate) {
  // The older firmware differs from the package in the SYSTEM and SUBMCU stamps only.
  RunResult run = RunArgs({"verify", "--backend", "virtual"});
  EXPECT_EQ(run.code, kExitSessionFailed);
  const std::string verdicts =
      "BOOT: verified\nPRESET: verified\nSYSTEM: verified\n"
      "SYSTEM info block: differs from the package at 0x170FE2\n"
      "SUBMCU: differs from the package at 0x1CBFE0\n";
  EXPECT_NE(run.out.find(verdicts), std::string::npos) << run.out;
  EXPECT_EQ(run.err, std::string(kFlashDiffersText) + "\n" +
                         NextStepFor(SessionKind::Reading, kFlashDiffersText) + "\n");

  run = RunArgs({"update", "--verify", "--backend", "virtual", "--unit-firmware", "factory"});
  EXPECT_EQ(run.code, kExitOk) << run.err;
  const std::string ending =
      "Version update completed.\n[1/5] Verifying BOOT\n[2/5] Verifying PRESET\n"
      "[3/5] Verifying SYSTEM\n[4/5] Verifying SYSTEM info block\n[5/5] Verifying SUBMCU\n"
      "BOOT: verified\nPRESET: verified\nSYSTEM: verified\nSYSTEM info block: verified\n"
      "SUBMCU: verified\nThe flash holds the package.\n";
  ASSERT_GE(run.out.size(), ending.size());
  EXPECT_EQ(run.out.substr(run.out.size() - ending.size()), ending);
}

TEST(FrontEnd, SessionFailuresPrintTheErrorBoxAndExitOne) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"update", "--unit-code", "4D003300"},
       std::string(kWarning) + "Illegal device connected.\n"},
      {{"check", "--unit-code", "4D003300"}, "Illegal device connected.\n"},
      {{"update", "--unit-normal-mode"},
       std::string(kWarning) + "Please use the firmware update mode.\n"},
      {{"update", "--unit-fault", "code:enter:1:1"},
       std::string(kWarning) + "Transfer error occurred.\n"},
      // Six error answers are resent; the seventh ends the session.
      {{"update", "--unit-fault", "code:erase:1-7:5"},
       std::string(kWarning) + "Transfer error occurred.\n"},
      // A stamp read answered with an error code ends either session.
      {{"check", "--unit-fault", "code:read:1:5"}, "Transfer error occurred.\n"},
      {{"update", "--unit-fault", "code:read:1:5"},
       std::string(kWarning) + "Transfer error occurred.\n"},
  };
  for (const Case& each : cases) {
    std::vector<std::string> args = each.args;
    args.push_back("--backend");
    args.push_back("virtual");
    const RunResult run = RunArgs(args);
    EXPECT_EQ(run.code, kExitSessionFailed) << args[1] << " " << args[2] << "\n" << run.out;
    // Under the message, the line on what to do next.
    const std::string message = each.err.substr(each.err.rfind('\n', each.err.size() - 2) + 1);
    const SessionKind kind = args[0] == "update" ? SessionKind::Update : SessionKind::Reading;
    EXPECT_EQ(run.err, each.err + NextStepFor(kind, message.substr(0, message.size() - 1)) + "\n")
        << args[1] << " " << args[2];
    EXPECT_EQ(run.out.find("completed"), std::string::npos);
  }
  // Six error answers to an erase are not yet a failure.
  const RunResult recovered =
      RunArgs({"update", "--backend", "virtual", "--unit-fault", "code:erase:1-6:5"});
  EXPECT_EQ(recovered.code, kExitOk) << recovered.err;
}

TEST(FrontEnd, NoDeviceChosenExitsTwo) {
  LoopbackMidi midi;
  VirtualUnit unit(midi.AddDevice("Other Synth"), UnitConfig{});
  ASSERT_TRUE(unit.Start());

  RunResult run = RunOn(midi, Options(Command::Check));
  EXPECT_EQ(run.code, kExitUsage);
  EXPECT_EQ(run.err,
            "No MIDI IN device is preselected (none is named \"USB Audio Device\" or \"TELVOR "
            "Q9\"). Pick one with --in INDEX or --in NAME; 'kv5update list' shows them.\n");

  FrontEndOptions options = Options(Command::Update);
  options.inDevice = "0";
  run = RunOn(midi, options);
  EXPECT_EQ(run.code, kExitUsage);
  EXPECT_NE(run.err.find("No MIDI OUT device is preselected"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("--out INDEX"), std::string::npos) << run.err;

  options.outDevice = "TELVOR Q9";
  run = RunOn(midi, options);
  EXPECT_EQ(run.code, kExitUsage);
  EXPECT_EQ(run.err,
            "No MIDI OUT device has the index or the name \"TELVOR Q9\" (1 listed; see "
            "'kv5update list').\n");
  EXPECT_EQ(unit.Count(MessageKind::Any), 0u);  // nothing was sent
}

TEST(FrontEnd, TestPackageGoesToARealDeviceOnlyWithTheFlag) {
  LoopbackMidi midi;
  VirtualUnit unit(midi.AddDevice("TELVOR Q9"), UnitConfig{});
  ASSERT_TRUE(unit.Start());
  // Seen as a real device: refused before anything is sent.
  RunResult run = RunOn(midi, Options(Command::Update), false);
  EXPECT_EQ(run.code, kExitUsage);
  EXPECT_EQ(run.err, std::string(kWarning) +
                         "Refusing to write it to a MIDI device without "
                         "--yes-write-test-package.\n");
  EXPECT_EQ(unit.Count(MessageKind::Any), 0u);
  // The version check writes nothing and needs no flag.
  run = RunOn(midi, Options(Command::Check), false);
  EXPECT_EQ(run.code, kExitOk) << run.err;

  FrontEndOptions allowed = Options(Command::Update);
  allowed.writeTestPackage = true;
  run = RunOn(midi, allowed, false);
  EXPECT_EQ(run.code, kExitOk) << run.err;
  EXPECT_EQ(run.err, kWarning);
}

TEST(FrontEnd, PortsThatCannotOpenExitTwoAndADeviceInUseIsNamedAsSuch) {
  const std::string busy =
      "Another program may be using the device: close it, or disconnect it from the unit's "
      "port, and try again.\n";
  RecordingMidi midi;
  midi.SetInputDevices({"TELVOR Q9"});
  midi.SetOutputDevices({"TELVOR Q9"});
  midi.SetResult("midiOutOpen", MMSYSERR_ALLOCATED);
  RunResult run = RunOn(midi, Options(Command::Check));
  EXPECT_EQ(run.code, kExitUsage);
  EXPECT_EQ(run.err, "Can't open MIDI Out device.\n" + busy);

  midi.SetResult("midiOutOpen", MMSYSERR_NOERROR);
  midi.SetResult("midiInOpen", MMSYSERR_ALLOCATED);
  run = RunOn(midi, Options(Command::Check));
  EXPECT_EQ(run.code, kExitUsage);
  EXPECT_EQ(run.err, "Can't open MIDI In device.\n" + busy);
  EXPECT_EQ(midi.Count("midiOutLongMsg"), 0u);

  // Any other refusal gets the window's message alone.
  midi.SetResult("midiInOpen", MMSYSERR_ERROR);
  run = RunOn(midi, Options(Command::Check));
  EXPECT_EQ(run.err, "Can't open MIDI In device.\n");
}

TEST(FrontEnd, InterruptAbortsTheSessionAsClosingTheWindow) {
  LoopbackMidi midi;
  UnitConfig config;
  config.faults.Delay(MessageKind::FlashWrite, Occurrence::Every(), std::chrono::milliseconds(20));
  VirtualUnit unit(midi.AddDevice("TELVOR Q9"), config);
  ASSERT_TRUE(unit.Start());

  std::atomic<int> interrupt{0};
  std::thread ctrlC([&] {
    // Mid-write: the signal handler only notes the signal; the session loop acts on it.
    if (unit.WaitForCount(MessageKind::FlashWrite, 5, std::chrono::seconds(30))) interrupt = 2;
  });
  const RunResult run = RunOn(midi, Options(Command::Update), true, &interrupt);
  ctrlC.join();
  EXPECT_EQ(run.code, kExitSignalBase + 2);
  EXPECT_EQ(run.err, std::string(kWarning) + "Interrupted: the session was aborted.\n" +
                         NextStepFor(SessionKind::Update, kInterruptedText) + "\n");
  EXPECT_EQ(run.out.find("completed"), std::string::npos);
  // The worker was joined before the command returned: nothing more reaches the unit.
  EXPECT_TRUE(unit.WaitIdle(std::chrono::seconds(5)));
  const uint32_t writes = unit.Count(MessageKind::FlashWrite);
  EXPECT_LT(writes, 20u);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(unit.Count(MessageKind::FlashWrite), writes);
  EXPECT_EQ(unit.Count(MessageKind::FinishUpdate), 0u);
}

}  // namespace
}  // namespace kv5
