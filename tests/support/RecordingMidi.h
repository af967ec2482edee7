// A scripted MIDI system for unit tests: every service call is logged in order with its
// arguments, results can be scripted per call, and input events are delivered by hand.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/midi/MidiBackend.h"

namespace kv5 {

// One logged call: the platform's name of the operation ("midiInOpen", "midiOutLongMsg", ...)
// and its arguments as numbers (handles, device indices, header addresses).
struct MidiCall {
  std::string name;
  std::vector<uintptr_t> args;
  std::string ToString() const;  // "midiInOpen(3)"
};

// What LongMsg does with the header's done bit.
enum class OutputCompletion {
  Immediate,  // set before LongMsg returns
  Manual,     // set when the test calls CompleteOutput
  Never,      // only the output Reset gives the header back
};

class RecordingMidi : public MidiBackend {
 public:
  static constexpr MidiInHandle kFirstInHandle = 0x1000;
  static constexpr MidiOutHandle kFirstOutHandle = 0x2000;

  RecordingMidi();
  ~RecordingMidi() override;

  MidiInServices& In() override;
  MidiOutServices& Out() override;
  std::string Name() const override { return "fake"; }

  // --- Devices -------------------------------------------------------------------------------
  void SetInputDevices(std::vector<std::string> names);
  void SetOutputDevices(std::vector<std::string> names);
  // The capability record is then filled to its last byte without a terminating zero.
  void SetUnterminatedNames(bool on);

  // --- Scripted results ----------------------------------------------------------------------
  // Every later call of that name returns result (MMSYSERR_NOERROR restores normal behaviour).
  void SetResult(const std::string& call, MidiResult result);
  // The next call of that name returns result, once; one-shot results are used before SetResult.
  void SetResultOnce(const std::string& call, MidiResult result);

  // --- The log -------------------------------------------------------------------------------
  std::vector<MidiCall> Calls() const;
  std::vector<std::string> CallNames() const;
  size_t Count(const std::string& call) const;
  void ClearLog();
  // Waits until at least count calls of that name have been logged.
  bool WaitForCalls(const std::string& call, size_t count, std::chrono::milliseconds limit);

  // --- Input ---------------------------------------------------------------------------------
  bool InputOpen() const;
  // Buffers the port has queued with the device, oldest first.
  std::vector<MidiHeader*> QueuedInputBuffers() const;
  // Takes the oldest queued buffer, copies the bytes into it (as many as fit), and hands it back
  // through the callback as MIM_LONGDATA, with MHDR_DONE when done is true. False when no buffer
  // is queued or no device is open.
  bool DeliverLongData(const std::vector<uint8_t>& bytes, bool done = true);
  // As DeliverLongData, with MIM_LONGERROR.
  bool DeliverLongError(const std::vector<uint8_t>& bytes);
  // Writes bytes into the oldest queued buffer without handing it back (a message under way),
  // so that a Stop or Reset then returns it partly filled.
  bool FillInput(const std::vector<uint8_t>& bytes);
  // Calls the callback as the device would, with any message and first parameter.
  bool DeliverRaw(uint32_t message, uintptr_t param1);
  // A short message: MIM_DATA with the packed bytes as parameter 1.
  bool DeliverShort(uint32_t packed);
  // Whether the input Stop and Reset hand queued buffers back through the callback (default on).
  void SetInputReturnsBuffers(bool on);

  // --- Output --------------------------------------------------------------------------------
  void SetOutputCompletion(OutputCompletion mode);
  // Marks every header taken by LongMsg and not yet done as done; returns how many.
  size_t CompleteOutput();
  // The bytes of every header LongMsg accepted, in order.
  std::vector<std::vector<uint8_t>> SentMessages() const;
  size_t PendingOutput() const;

 private:
  class InSide;
  class OutSide;
  friend class InSide;
  friend class OutSide;

  // Logs the call and returns its scripted result (NOERROR when none); lock_ is held.
  MidiResult RecordLocked(const char* name, std::vector<uintptr_t> args);
  MidiResult FillCaps(const std::vector<std::string>& names, uint32_t device, MidiDeviceCaps* caps);
  bool HandBackInput(uint32_t message, const std::vector<uint8_t>* bytes, bool done);
  void CallInput(uint32_t message, uintptr_t param1);

  mutable std::mutex lock_;
  std::condition_variable logged_;
  std::vector<MidiCall> log_;
  std::map<std::string, MidiResult> results_;
  std::map<std::string, std::deque<MidiResult>> onceResults_;

  std::vector<std::string> inNames_;
  std::vector<std::string> outNames_;
  bool unterminatedNames_ = false;

  MidiInHandle inHandle_ = 0;
  MidiInHandle nextInHandle_ = kFirstInHandle;
  MidiInProc callback_ = nullptr;
  uintptr_t instance_ = 0;
  std::deque<MidiHeader*> inQueue_;
  bool inputReturnsBuffers_ = true;

  MidiOutHandle outHandle_ = 0;
  MidiOutHandle nextOutHandle_ = kFirstOutHandle;
  OutputCompletion completion_ = OutputCompletion::Immediate;
  std::vector<MidiHeader*> outPending_;
  std::vector<std::vector<uint8_t>> sent_;

  std::unique_ptr<MidiInServices> in_;
  std::unique_ptr<MidiOutServices> out_;
};

}  // namespace kv5
