#include "ui/qt/QtUpdaterDialog.h"

namespace kv5 {

QtUpdaterDialog::QtUpdaterDialog(MidiBackend& midi, TimerServices& timer, int instanceIndex,
                                 const SessionTiming& timing, uint32_t completionLimitMs)
    : logic_(window_, midi, timer, instanceIndex, timing, completionLimitMs) {
  window_.Attach(&logic_);
}

QtUpdaterDialog::~QtUpdaterDialog() {
  // A dialog that was never ended still ends its session before the logic goes.
  if (initialised_ && !window_.Ended()) window_.reject();
  window_.Attach(nullptr);
}

void QtUpdaterDialog::Initialise() {
  if (initialised_) return;
  initialised_ = true;
  logic_.OnInitDialog();
}

int QtUpdaterDialog::DoModal() {
  Initialise();
  return window_.exec();
}

void QtUpdaterDialog::Show() {
  Initialise();
  window_.show();
}

}  // namespace kv5
