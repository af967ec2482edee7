#include "ui/CKv5UpdatorDlg.h"

#include <system_error>

#include "firmware/FirmwarePackage.h"
#include "protocol/ReplyPoller.h"
#include "session/StringTable.h"
#include "session/UpdateWorker.h"
#include "session/VerifyWorker.h"
#include "session/VersionCheckWorker.h"
#include "ui/OwnerNotices.h"
#include "ui/UiCallGate.h"

namespace kv5 {

CKv5UpdatorDlg::CKv5UpdatorDlg(DialogView& view, MidiBackend& midi, TimerServices& timer,
                               int instanceIndex, const SessionTiming& timing,
                               uint32_t completionLimitMs)
    : view_(view),
      instanceIndex_(instanceIndex),
      timing_(timing),
      guardTestPackage_(IsTestPackage()),
      inPort_(midi.In()),
      outPort_(midi.Out(), completionLimitMs),
      uiGate_(std::make_shared<UiCallGate>()),
      timer_(timer) {
  // A device that goes away ends the running session at its next wake, within moments.
  inPort_.SetVanishedNotice([this] { exchange_.DeviceLost(); });
  outPort_.SetVanishedNotice([this] { exchange_.DeviceLost(); });
  inPort_.SetQueuedNotice(&CKv5UpdatorDlg::WakePoller, reinterpret_cast<uintptr_t>(this));
}

CKv5UpdatorDlg::~CKv5UpdatorDlg() {
  // Normally OnDestroy has run; a dialog torn down without it still ends its session first. The
  // members then go in reverse order: the timer stops before the exchange state and the ports.
  if (!uiGate_->IsClosed()) OnDestroy();
  timer_.Stop();
}

bool CKv5UpdatorDlg::OnInitDialog() {
  const std::string about = LoadString(IDS_ABOUTBOX);
  if (!about.empty()) view_.AppendAboutMenuEntry(IDM_ABOUTBOX, about);
  FillDeviceLists();
  timer_.Start(1, &CKv5UpdatorDlg::PollerTimerProc, reinterpret_cast<uintptr_t>(this));
  view_.SetProgressRange32(0, 100);
  view_.SetWindowTitle(InstanceTitle(instanceIndex_) +
                       (guardTestPackage_ ? kTestPackageTitleSuffix : ""));
  ShowReadyStatus();
  return true;
}

void CKv5UpdatorDlg::ShowReadyStatus() {
  if (guardTestPackage_) view_.SetControlText(IDC_STATUS_LINE, kTestPackageReadyText);
}

void CKv5UpdatorDlg::PollerTimerProc(uint32_t, uint32_t, uintptr_t user, uintptr_t, uintptr_t) {
  auto* dialog = reinterpret_cast<CKv5UpdatorDlg*>(user);
  ReplyPoller(dialog->inPort_.Queue(), dialog->exchange_, *dialog, dialog->tap_);
  // A message queued after this check wakes the timer again, so resting loses none.
  if (dialog->inPort_.Queue().Empty()) dialog->timer_.Rest(kPollerRestLimitMs);
}

void CKv5UpdatorDlg::WakePoller(uintptr_t user) {
  reinterpret_cast<CKv5UpdatorDlg*>(user)->timer_.Wake();
}

void CKv5UpdatorDlg::FillDeviceLists() {
  char name[MidiOutPort::kDeviceNameCapacity];
  view_.ResetContent(IDC_OUT_DEVICE_LIST);
  for (int i = 0; i < outPort_.GetDeviceCount(); ++i) {
    outPort_.GetDeviceName(i, name);
    view_.AddString(IDC_OUT_DEVICE_LIST, name);
  }
  view_.ResetContent(IDC_IN_DEVICE_LIST);
  for (int i = 0; i < inPort_.GetDeviceCount(); ++i) {
    inPort_.GetDeviceName(i, name);
    view_.AddString(IDC_IN_DEVICE_LIST, name);
  }

  // The last entry that equals a candidate wins; a list without one keeps no selection.
  const std::vector<std::string> candidates = DeviceNameCandidates(instanceIndex_);
  for (int list : {IDC_OUT_DEVICE_LIST, IDC_IN_DEVICE_LIST}) {
    const int count = view_.GetCount(list);
    for (int entry = 0; entry < count; ++entry) {
      const std::string text = view_.GetLBText(list, entry);
      for (const std::string& candidate : candidates) {
        if (text == candidate) {
          view_.SetCurSel(list, entry);
          break;
        }
      }
    }
  }
}

int CKv5UpdatorDlg::OpenSelectedPorts() {
  if (Busy()) {
    ShowBox(IDS_IN_PROGRESS, "");
    return -1;
  }
  outPort_.Close();
  if (!outPort_.Open(view_.GetCurSel(IDC_OUT_DEVICE_LIST))) {
    ShowBox(IDS_CANT_OPEN_OUT, "");
    return -1;
  }
  inPort_.CloseIfOpen();
  // The old devices are closed: a loss they reported is no matter for the session to come.
  exchange_.ClearDeviceLost();
  inPort_.DeviceIndex = view_.GetCurSel(IDC_IN_DEVICE_LIST);
  if (!inPort_.Open()) {
    ShowBox(IDS_CANT_OPEN_IN, "");
    return -1;
  }
  return 0;
}

void CKv5UpdatorDlg::OnExecute() {
  // The test package written to a real unit makes it unusable: only a Yes writes it. A busy
  // dialog asks nothing and touches neither the ports nor the running worker.
  if (!Busy() && guardTestPackage_ &&
      !view_.AskYesNo(TestPackageQuestion(), kTestPackageQuestionCaption)) {
    return;
  }
  if (OpenSelectedPorts() != 0) return;
  EnterBusy();
  StartWorker(Session::Update, &UpdateWorker);
}

void CKv5UpdatorDlg::OnVersionCheck() {
  if (OpenSelectedPorts() != 0) return;
  EnterBusy();
  StartWorker(Session::VersionCheck, &VersionCheckWorker);
}

void CKv5UpdatorDlg::OnVerify() {
  if (OpenSelectedPorts() != 0) return;
  EnterBusy();
  StartWorker(Session::Verify, &VerifyWorker);
}

void CKv5UpdatorDlg::OnRescanDevice() {
  FillDeviceLists();
  EnableActions(true);
  ShowReadyStatus();
}

void CKv5UpdatorDlg::OnDestroy() {
  outPort_.Close();
  inPort_.CloseIfOpen();
  // ReplyStatus 255 for good and the event signalled: a waiting worker wakes and ends silently.
  exchange_.Abort();
  // Calls the worker still wants on this thread are dropped, so the join below cannot deadlock.
  uiGate_->Close();
  JoinWorker();
}

void CKv5UpdatorDlg::OnSysCommand(uint32_t command) {
  if ((command & 0xFFF0) == IDM_ABOUTBOX) view_.ShowAboutBox();
}

int CKv5UpdatorDlg::OnVersionCheckDone(int result) {
  if (result == 0) {
    view_.MessageBox(VersionReport(versionTable_), kVersionReportCaption, MessageIcon::Information,
                     "");
  }
  LeaveBusy();
  return 0;
}

void CKv5UpdatorDlg::EnterBusy() {
  for (int id :
       {IDC_IN_DEVICE_LIST, IDC_OUT_DEVICE_LIST, IDC_EXECUTE, IDC_RESCAN, IDC_VERSION_CHECK})
    view_.EnableControl(id, false);
  BusyFlag = 1;
  // A signal left over from before cannot satisfy the new worker's first wait.
  exchange_.ReplyEvent.Reset();
}

void CKv5UpdatorDlg::StartWorker(Session session, int (*worker)(SessionHost&)) {
  JoinWorker();
  session_ = session;
  uiGate_->WorkerStarted();
  try {
    worker_ = std::thread([this, worker, gate = uiGate_] {
      worker(*this);
      gate->WorkerFinished();
    });
  } catch (const std::system_error&) {
    // No thread: the dialog would stay busy with only Exit working.
    uiGate_->WorkerFinished();
    ShowBox(IDS_TRANSFER_ERROR, "");
    LeaveBusy();
  }
}

void CKv5UpdatorDlg::JoinWorker() {
  if (!worker_.joinable()) return;
  // Runs the calls the finishing worker still queues, so it can reach its end.
  uiGate_->WaitForWorker();
  worker_.join();
}

bool CKv5UpdatorDlg::WorkerRunning() const {
  return uiGate_->WorkerActive();
}

void CKv5UpdatorDlg::CallOnUiThread(const std::function<void()>& call) {
  if (view_.OnUiThread()) {
    call();
    return;
  }
  std::shared_ptr<UiCallGate> gate = uiGate_;
  gate->Call(call, [this, gate] { view_.PostToUiThread([gate] { gate->Drain(); }); });
}

int CKv5UpdatorDlg::SendSysex(const uint8_t* bytes, uint32_t length) {
  MidiHeader header;
  // The device only reads the bytes; the header's field is not const because input uses it too.
  header.lpData = const_cast<uint8_t*>(bytes);
  header.dwBufferLength = length;
  header.dwFlags = 0;
  const int result = outPort_.SendLong(&header) == 1 ? 0 : -1;
  if (tap_ != nullptr) tap_->OnSent(bytes, length, result);
  return result;
}

void CKv5UpdatorDlg::ShowError(int stringId) {
  // An update that fails once its requests may have switched the unit into its update mode
  // leaves it there: the box says so, and how to recover it. Failures before that (the unit not
  // answering, another device, one not in update mode) leave it as it was.
  std::string detail;
  if (session_ == Session::Update) {
    const bool deviceGone = exchange_.Lost();
    if (deviceGone || stringId == IDS_TIMEOUT_WRITE || stringId == IDS_TIMEOUT_ERASE ||
        stringId == IDS_TRANSFER_ERROR) {
      detail = UpdateFailureAdvice(deviceGone);
    }
  }
  ShowBox(stringId, detail);
}

void CKv5UpdatorDlg::ShowBox(int stringId, const std::string& detail) {
  CallOnUiThread([this, stringId, &detail] {
    view_.MessageBox(LoadString(stringId), LoadString(IDS_ERROR_CAPTION), MessageIcon::Error,
                     detail);
  });
}

void CKv5UpdatorDlg::LeaveBusy() {
  CallOnUiThread([this] {
    for (int id :
         {IDC_IN_DEVICE_LIST, IDC_OUT_DEVICE_LIST, IDC_VERSION_CHECK, IDC_EXECUTE, IDC_RESCAN})
      view_.EnableControl(id, true);
    BusyFlag = 0;
  });
}

void CKv5UpdatorDlg::EnableActions(bool enable) {
  CallOnUiThread([this, enable] {
    view_.EnableControl(IDC_EXECUTE, enable);
    view_.EnableControl(IDC_VERSION_CHECK, enable);
  });
}

void CKv5UpdatorDlg::SetStatusLine(const std::string& text) {
  CallOnUiThread([this, &text] { view_.SetControlText(IDC_STATUS_LINE, text); });
}

void CKv5UpdatorDlg::SetStepCounter(const std::string& text) {
  CallOnUiThread([this, &text] { view_.SetControlText(IDC_STEP_COUNTER, text); });
}

void CKv5UpdatorDlg::SetProgressRange(int32_t maximum) {
  CallOnUiThread([this, maximum] { view_.SetProgressRange32(0, maximum); });
}

void CKv5UpdatorDlg::SetProgressPos(int32_t position) {
  CallOnUiThread([this, position] { view_.SetProgressPos(position); });
}

void CKv5UpdatorDlg::CloseOutPort() {
  // The ports belong to the user-interface thread; once the window closes, it closes them itself.
  CallOnUiThread([this] { outPort_.Close(); });
}

void CKv5UpdatorDlg::CloseInPortIfOpen() {
  CallOnUiThread([this] { inPort_.CloseIfOpen(); });
}

void CKv5UpdatorDlg::PostVersionCheckDone(int result) {
  std::shared_ptr<UiCallGate> gate = uiGate_;
  gate->Post([this, result] { OnVersionCheckDone(result); },
             [this, gate] { view_.PostToUiThread([gate] { gate->Drain(); }); });
}

}  // namespace kv5
