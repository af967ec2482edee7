// Writes pictures of the updater window (mid-update against the virtual unit) and of the About box
// to the folder given as the only argument, rendered on the offscreen platform. The pictures show
// the windows' client areas: offscreen there is no window manager to draw a frame.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>
#include <chrono>
#include <cstdio>

#include "firmware/FirmwarePackage.h"
#include "platform/midi/loopback/LoopbackMidi.h"
#include "platform/timer/TimerServices.h"
#include "ui/qt/AboutBox.h"
#include "ui/qt/QtUpdaterDialog.h"
#include "unit/VirtualUnit.h"

namespace {

bool WaitFor(const std::function<bool()>& done, int limitMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > limitMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

bool Save(const QPixmap& picture, const QString& path) {
  if (!picture.save(path, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s %dx%d\n", qPrintable(path), picture.width(), picture.height());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  if (!folder.exists() && !QDir().mkpath(folder.path())) return 1;

  kv5::LoopbackMidi midi;
  midi.AddDevice("USB MIDI Interface");
  kv5::UnitConfig config;
  config.pacing.perWrite = std::chrono::microseconds(1500);  // slow enough to catch mid-update
  kv5::VirtualUnit unit(midi.AddDevice("TELVOR Q9"), config);
  unit.Start();
  std::unique_ptr<kv5::TimerServices> timer = kv5::MakeSystemTimerServices();
  kv5::SessionTiming timing;
  timing.EnterUpdatePauseMs = 5;
  kv5::QtUpdaterDialog dialog(midi, *timer, 1, timing);
  dialog.Show();
  kv5::QtUpdaterWindow& window = dialog.Window();

  bool ok = Save(window.grab(), folder.filePath(QStringLiteral("window-ready-linux.png")));

  // A build that carries the test package asks before Execute writes it: the question is
  // pictured, then answered Yes.
  bool asked = false;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    answer.stop();
    asked = true;
    ok = Save(box->grab(), folder.filePath(QStringLiteral("question-linux.png"))) && ok;
    box->button(QMessageBox::Yes)->click();
  });
  answer.start(20);
  dialog.Logic().OnExecute();
  if (kv5::IsTestPackage() && !asked) {
    std::fprintf(stderr, "Execute did not ask before writing the test package\n");
    return 1;
  }
  auto* bar = dynamic_cast<QProgressBar*>(window.Control(kv5::IDC_PROGRESS));
  auto* status = dynamic_cast<QLineEdit*>(window.Control(kv5::IDC_STATUS_LINE));
  // Well into the largest image.
  const bool midway = WaitFor(
      [&] {
        return bar->maximum() == 1064224 && bar->value() > bar->maximum() * 2 / 5 &&
               status->text().startsWith(QStringLiteral("Data transmit"));
      },
      120000);
  if (!midway) {
    std::fprintf(stderr, "the update did not get under way\n");
    return 1;
  }
  ok = Save(window.grab(), folder.filePath(QStringLiteral("window-linux.png"))) && ok;

  kv5::CAboutDlg about(&window);
  about.show();
  QApplication::processEvents();
  ok = Save(about.grab(), folder.filePath(QStringLiteral("about-linux.png"))) && ok;
  about.close();

  window.close();
  return ok ? 0 : 1;
}
