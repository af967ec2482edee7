// The updater dialog's state, handlers and feedback operations, free of any toolkit: a view
// (Qt, Win32 or a console) draws it and forwards its events here. It owns the run-time state of
// the program: the two ports, the timer that runs the reply poller, the exchange state, the busy
// flag and the version table.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "midi/CDxMTimer.h"
#include "midi/MidiInPort.h"
#include "midi/MidiOutPort.h"
#include "platform/midi/MidiBackend.h"
#include "protocol/ExchangeState.h"
#include "protocol/SessionTiming.h"
#include "protocol/TrafficTap.h"
#include "session/SessionHost.h"
#include "ui/DialogView.h"
#include "ui/InstanceNames.h"

namespace kv5 {

class UiCallGate;

class CKv5UpdatorDlg : public SessionHost {
 public:
  // instanceIndex is the slot 1..20 of this process. timing is the production table in the
  // programs; tests pass a faster one. completionLimitMs bounds every send.
  CKv5UpdatorDlg(DialogView& view, MidiBackend& midi, TimerServices& timer, int instanceIndex,
                 const SessionTiming& timing = kProductionTiming,
                 uint32_t completionLimitMs = MidiOutPort::kDefaultCompletionLimitMs);
  ~CKv5UpdatorDlg() override;
  CKv5UpdatorDlg(const CKv5UpdatorDlg&) = delete;
  CKv5UpdatorDlg& operator=(const CKv5UpdatorDlg&) = delete;

  // A listener to every message sent and received (a support log); set before OnInitDialog starts
  // the poller, and outliving the dialog. nullptr: none.
  void SetTrafficTap(TrafficTap* tap) { tap_ = tap; }
  // Whether the window guards the test package: says in its title and ready status line that the
  // build carries it, and asks before Execute writes it. On by default in a build that carries
  // the test package; a front end with a guard of its own turns it off. Set before OnInitDialog.
  void GuardTestPackage(bool on) { guardTestPackage_ = on; }

  // Handlers, on the user-interface thread.
  bool OnInitDialog();
  void OnExecute();
  void OnVersionCheck();
  // Reads the unit's flash back against the package (the command line's verify); the verdicts
  // are in Verification() once the worker has ended.
  void OnVerify();
  void OnRescanDevice();
  // The window is being destroyed: ports closed, sessions aborted, the worker joined.
  void OnDestroy();
  void OnSysCommand(uint32_t command);
  int OnVersionCheckDone(int result);

  void FillDeviceLists();
  // Reopens both ports at the lists' selections: 0 when both are open, -1 after an error box.
  int OpenSelectedPorts();
  void EnterBusy();

  // SessionHost: called by the worker (and the poller, for SendSysex).
  int SendSysex(const uint8_t* bytes, uint32_t length) override;
  ExchangeState& Exchange() override { return exchange_; }
  const SessionTiming& Timing() const override { return timing_; }
  void ShowError(int stringId) override;
  void LeaveBusy() override;
  void EnableActions(bool enable) override;
  void SetStatusLine(const std::string& text) override;
  void SetStepCounter(const std::string& text) override;
  void SetProgressRange(int32_t maximum) override;
  void SetProgressPos(int32_t position) override;
  VersionTable& Versions() override { return versionTable_; }
  FlashVerification& Verification() override { return verification_; }
  void CloseOutPort() override;
  void CloseInPortIfOpen() override;
  void PostVersionCheckDone(int result) override;

  bool Busy() const { return BusyFlag.load() == 1; }
  // The device of the last session went away while it was open.
  bool DeviceVanished() const { return exchange_.Lost(); }
  // True while a worker thread has been started and not yet joined.
  bool WorkerRunning() const;
  int InstanceIndex() const { return instanceIndex_; }

 private:
  // The poller's period is 1 ms while messages come in; a tick that leaves the queue empty lets
  // the timer sleep until the input side queues the next one, or this long at most.
  static constexpr uint32_t kPollerRestLimitMs = 100;

  static void PollerTimerProc(uint32_t id, uint32_t message, uintptr_t user, uintptr_t r1,
                              uintptr_t r2);
  // The input port has queued a message: the poller runs now rather than at its next tick.
  static void WakePoller(uintptr_t user);
  // Which worker runs (or ran last): an update's failures get a line on what to do next.
  enum class Session { None, Update, VersionCheck, Verify };
  void StartWorker(Session session, int (*worker)(SessionHost&));
  // An error box with its text from the string table and a detail under it (none when empty).
  void ShowBox(int stringId, const std::string& detail);
  // The ready status line: the test package notice where the window guards it.
  void ShowReadyStatus();
  void JoinWorker();
  // Runs call on the user-interface thread and waits for it; once the window is closing it
  // returns at once without running it, so a worker can never block the window's teardown.
  void CallOnUiThread(const std::function<void()>& call);

  DialogView& view_;
  const int instanceIndex_;
  const SessionTiming timing_;
  TrafficTap* tap_ = nullptr;
  bool guardTestPackage_;
  std::atomic<Session> session_{Session::None};

  // Declaration order is teardown order reversed: the worker is joined and the timer stopped
  // before the exchange state and the ports go away.
  MidiInPort inPort_;
  MidiOutPort outPort_;
  ExchangeState exchange_;
  std::atomic<int> BusyFlag{0};
  VersionTable versionTable_;
  FlashVerification verification_;
  std::shared_ptr<UiCallGate> uiGate_;
  std::thread worker_;
  CDxMTimer timer_;
};

}  // namespace kv5
