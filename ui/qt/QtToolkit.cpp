#include "ui/qt/QtToolkit.h"

#include <QApplication>
#include <QMessageBox>
#include <optional>

#include "ui/qt/AppIcon.h"
#include "ui/qt/QtUpdaterDialog.h"
#include "ui/qt/SignalClose.h"

namespace kv5 {

struct QtToolkit::Impl {
  Impl(int& argc, char** argv) : application(argc, argv) {}
  QApplication application;
  std::optional<SignalClose> signalClose;  // gone before the application
};

QtToolkit::QtToolkit(int& argc, char** argv) : impl_(std::make_unique<Impl>(argc, argv)) {
  QApplication::setWindowIcon(AppIcon());
}

QtToolkit::~QtToolkit() = default;

int QtToolkit::RunUpdaterDialog(MidiBackend& midi, TimerServices& timer, int instanceIndex,
                                const SessionTiming& timing) {
  QtUpdaterDialog dialog(midi, timer, instanceIndex, timing);
  return dialog.DoModal();
}

void QtToolkit::ShowApplicationMessage(const std::string& text) {
  // The application's name is the executable's file name.
  QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(),
                  QString::fromStdString(text), QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void QtToolkit::CloseOnTerminationSignals() {
  if (!impl_->signalClose) impl_->signalClose.emplace();
}

}  // namespace kv5
