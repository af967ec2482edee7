#include "HeadlessUpdater.h"

#include "protocol/Exchanges.h"
#include "protocol/ProtocolMessages.h"
#include "session/StringTable.h"

namespace kv5::bench {

HeadlessUpdater::HeadlessUpdater(LoopbackMidi& midi, const SessionTiming& timing)
    : view_(observer_),
      timer_(MakeSystemTimerServices()),
      dialog_(std::make_unique<CKv5UpdatorDlg>(view_, midi, *timer_, 1, timing)) {
  // It writes the in-process virtual unit only: nothing to ask.
  dialog_->GuardTestPackage(false);
  dialog_->OnInitDialog();
}

HeadlessUpdater::~HeadlessUpdater() {
  dialog_->OnDestroy();
  dialog_.reset();
  view_.Close();
}

bool HeadlessUpdater::RunUpdate() {
  dialog_->OnExecute();
  view_.RunUntil([this] { return !dialog_->Busy() && !dialog_->WorkerRunning(); });
  return view_.ControlText(IDC_STATUS_LINE) == LoadString(IDS_UPDATE_COMPLETED);
}

bool HeadlessUpdater::PrepareSteps() {
  if (dialog_->OpenSelectedPorts() != 0) return false;
  dialog_->EnterBusy();
  return true;
}

bool HeadlessUpdater::EnterUpdateMode() {
  ExchangeState& state = dialog_->Exchange();
  if (IdentifyUnit(state, *dialog_, dialog_->Timing()) != IdentifyOutcome::Identified) return false;
  uint8_t message[kEnterUpdateModeLength];
  dialog_->SendSysex(message,
                     static_cast<uint32_t>(kv5::EnterUpdateMode(message, state.ModelByte())));
  return state.WaitReply(dialog_->Timing().EnterUpdateModeWaitMs) &&
         state.Status() == kReplySuccess;
}

}  // namespace kv5::bench
