// kv5_usb_window_update UNIT-BACK-FILE: the window on the system's MIDI (the kernel's sequencer)
// with the production timing, in the test machine of run-usb-tests.sh, offscreen. Execute starts
// an update through the USB card "TELVOR Q9"; the script pulls the cable in the middle: the
// window says "Can't open MIDI Out device.". Once the script has plugged the unit in again (and
// made UNIT-BACK-FILE), Rescan Device finds it as an owner would, and Execute updates it.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <vector>

#include "ModalWatcher.h"
#include "platform/midi/SystemMidi.h"
#include "platform/timer/TimerServices.h"
#include "ui/DialogView.h"
#include "ui/qt/QtUpdaterDialog.h"

namespace kv5 {
namespace {

QString unitBackFile;

template <typename T>
T* Control(QtUpdaterWindow& window, int id) {
  return dynamic_cast<T*>(window.Control(id));
}

QString Selected(QtUpdaterWindow& window, int list) {
  return Control<QComboBox>(window, list)->currentText();
}

}  // namespace

class UsbWindowUpdate : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void cutRescanAndUpdate() {
    auto midi = OpenMidiSystem(MidiSystem::Alsa);
    QVERIFY(midi != nullptr);
    auto timer = MakeSystemTimerServices();
    QtUpdaterDialog dialog(*midi, *timer, 1);
    dialog.Show();
    QtUpdaterWindow& window = dialog.Window();
    ModalWatcher watcher(&window);
    auto settled = [&] { return !dialog.Logic().Busy() && !dialog.Logic().WorkerRunning(); };
    // The message boxes the window put up; the question before each Execute of the test
    // package is answered Yes by the watcher.
    auto messages = [&] {
      std::vector<SeenBox> shown;
      for (const SeenBox& box : watcher.Boxes())
        if (box.kind == QStringLiteral("message")) shown.push_back(box);
      return shown;
    };
    QCOMPARE(Selected(window, IDC_OUT_DEVICE_LIST), QStringLiteral("TELVOR Q9"));
    QCOMPARE(Selected(window, IDC_IN_DEVICE_LIST), QStringLiteral("TELVOR Q9"));

    QTest::mouseClick(Control<QPushButton>(window, IDC_EXECUTE), Qt::LeftButton);
    std::printf("window: Execute, updating through the USB card\n");
    std::fflush(stdout);
    QTRY_VERIFY_WITH_TIMEOUT(messages().size() == 1 && settled(), 120000);
    QCOMPARE(messages()[0].text, QStringLiteral("Can't open MIDI Out device."));
    std::printf("window: the pulled cable ended the session: \"%s\"\n",
                qPrintable(messages()[0].text));

    // The owner plugs the unit in again and presses Rescan Device until it is listed.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(unitBackFile), 120000);
    QElapsedTimer rescanning;
    rescanning.start();
    QTRY_VERIFY_WITH_TIMEOUT(
        (QTest::mouseClick(Control<QPushButton>(window, IDC_RESCAN), Qt::LeftButton),
         Selected(window, IDC_OUT_DEVICE_LIST) == QStringLiteral("TELVOR Q9") &&
             Selected(window, IDC_IN_DEVICE_LIST) == QStringLiteral("TELVOR Q9")),
        60000);
    std::printf("window: Rescan Device lists the unit again after %lld ms\n",
                static_cast<long long>(rescanning.elapsed()));

    watcher.Clear();
    QTest::mouseClick(Control<QPushButton>(window, IDC_EXECUTE), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(settled(), 300000);
    QVERIFY2(messages().empty(), qPrintable(messages().empty() ? QString() : messages()[0].text));
    QCOMPARE(Control<QLineEdit>(window, IDC_STATUS_LINE)->text(),
             QStringLiteral("Version update completed."));
    std::printf("window: Version update completed.\n");
  }
};

}  // namespace kv5

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: kv5_usb_window_update UNIT-BACK-FILE\n");
    return 2;
  }
  kv5::unitBackFile = QString::fromLocal8Bit(argv[1]);
  QApplication app(argc, argv);
  kv5::UsbWindowUpdate test;
  char* qtArgs[] = {argv[0]};
  return QTest::qExec(&test, 1, qtArgs);
}

#include "UsbWindowUpdate.moc"
