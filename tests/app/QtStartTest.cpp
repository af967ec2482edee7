// Start-up through the Qt toolkit on the offscreen platform: the refusal box of a twenty-first
// copy, and the updater window run modally in the claimed slot.
#include <QApplication>
#include <QComboBox>
#include <QTest>
#include <QTimer>

#include "ModalWatcher.h"
#include "app/CKv5UpdatorApp.h"
#include "app/QtAppShell.h"
#include "firmware/FirmwarePackage.h"
#include "support/RecordingMidi.h"
#include "support/RecordingTimerServices.h"
#include "ui/InstanceNames.h"
#include "ui/qt/QtUpdaterWindow.h"

namespace kv5 {
namespace {

struct NamedLock : InstanceLock {};

// Slots below `firstFree` are held by other copies.
AppPlatform PlatformFrom(int firstFree, std::vector<std::string> devices) {
  AppPlatform platform;
  platform.claim = [firstFree](const std::string& name, std::unique_ptr<InstanceLock>* held) {
    for (int slot = 1; slot < firstFree; ++slot)
      if (name == InstanceTitle(slot)) return ClaimResult::AlreadyExists;
    *held = std::make_unique<NamedLock>();
    return ClaimResult::Created;
  };
  platform.openMidi = [devices] {
    auto midi = std::make_unique<RecordingMidi>();
    midi->SetInputDevices(devices);
    midi->SetOutputDevices(devices);
    return midi;
  };
  platform.makeTimer = [] { return std::make_unique<RecordingTimerServices>(); };
  return platform;
}

}  // namespace

class QtStartTest : public QObject {
  Q_OBJECT

 public:
  explicit QtStartTest(QtToolkit& toolkit) : toolkit_(toolkit) {}

 private Q_SLOTS:
  void twentyFirstCopyShowsTheRefusalOnly() {
    QtAppShell shell(toolkit_);
    CKv5UpdatorApp app(PlatformFrom(21, {}));
    ModalWatcher watcher(nullptr);
    bool windowSeen = false;
    watcher.WhileUp([&](QWidget*) {
      for (QWidget* top : QApplication::topLevelWidgets())
        windowSeen = windowSeen || dynamic_cast<QtUpdaterWindow*>(top) != nullptr;
    });
    QVERIFY(!app.InitInstance(shell));
    QCOMPARE(app.InstanceIndex(), 0);
    QCOMPARE(watcher.Boxes().size(), size_t(1));
    const SeenBox& box = watcher.Boxes()[0];
    QCOMPARE(box.text, QStringLiteral(
                           "It is forbidden to launch more than 20 instance of this application."));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.caption, QStringLiteral("app_qt_start_tests"));  // the executable's name
    QCOMPARE(box.buttons, 1);
    QVERIFY(!windowSeen);
  }

  void dialogRunsModallyInTheClaimedSlot() {
    QtAppShell shell(toolkit_);
    CKv5UpdatorApp app(PlatformFrom(3, {"TELVOR Q9", "TELVOR Q9 (3)"}));
    QString title;
    int selection = -2;
    bool modal = false;
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, this, [&] {
      auto* window = dynamic_cast<QtUpdaterWindow*>(QApplication::activeModalWidget());
      if (!window || !window->isVisible()) return;
      title = window->windowTitle();
      selection = window->GetCurSel(IDC_OUT_DEVICE_LIST);
      modal = window->isModal();
      window->reject();
    });
    poll.start();
    QVERIFY(!app.InitInstance(shell));
    QCOMPARE(app.InstanceIndex(), 3);
    // The program as it starts: a build that carries the test package says so in its title.
    QCOMPARE(title, QStringLiteral("TELVOR Q9 System v1.20 Updater (3)") +
                        (IsTestPackage() ? QStringLiteral(" (test package)") : QString()));
    QCOMPARE(selection, 1);
    QVERIFY(modal);
  }

 private:
  QtToolkit& toolkit_;
};

}  // namespace kv5

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  kv5::QtToolkit toolkit(argc, argv);
  kv5::QtStartTest test(toolkit);
  return QTest::qExec(&test, argc, argv);
}

#include "QtStartTest.moc"
