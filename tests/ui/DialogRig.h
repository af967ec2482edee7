// Builds the dialog logic over a recording view, with either the recording fake MIDI system or
// the loopback with a virtual unit.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/FastTiming.h"
#include "RecordingView.h"
#include "support/RecordingMidi.h"
#include "support/RecordingTimerServices.h"
#include "protocol/SessionTiming.h"
#include "ui/CKv5UpdatorDlg.h"

namespace kv5 {

// A timing under which an unanswered identification keeps a session busy for the whole test.
inline SessionTiming PatientTiming() {
  SessionTiming timing = FastTiming();
  timing.IdentifyWaitMs = 60000;
  return timing;
}

// The dialog over the recording fake: nothing answers, ticks never fire on their own.
struct FakeRig {
  FakeRig(int instance, std::vector<std::string> inputs, std::vector<std::string> outputs,
          const SessionTiming& timing = PatientTiming()) {
    midi.SetInputDevices(std::move(inputs));
    midi.SetOutputDevices(std::move(outputs));
    dialog = std::make_unique<CKv5UpdatorDlg>(view, midi, timer, instance, timing, 2000);
    // The window of a release build; the test package guard has tests of its own.
    dialog->GuardTestPackage(false);
  }
  FakeRig(int instance, std::vector<std::string> devices) : FakeRig(instance, devices, devices) {}

  RecordingMidi midi;
  RecordingTimerServices timer;
  RecordingView view;
  std::unique_ptr<CKv5UpdatorDlg> dialog;  // last: goes first
};

// Which of the five switched controls are enabled, as "lists execute versionCheck rescan".
inline std::string ControlState(const RecordingView& view) {
  auto on = [&](int id) { return view.IsControlEnabled(id) ? '1' : '0'; };
  std::string state;
  state += on(IDC_IN_DEVICE_LIST);
  state += on(IDC_OUT_DEVICE_LIST);
  state += ' ';
  state += on(IDC_EXECUTE);
  state += on(IDC_VERSION_CHECK);
  state += ' ';
  state += on(IDC_RESCAN);
  state += ' ';
  state += on(IDC_EXIT);
  return state;
}
inline constexpr const char* kReady = "11 11 1 1";
inline constexpr const char* kBusy = "00 00 0 1";
inline constexpr const char* kUpdated = "11 00 1 1";

}  // namespace kv5
