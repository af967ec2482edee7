// The Qt updater window without a mouse: Enter presses the focused button, Escape ends, the
// labels' mnemonics, the menu keys; what a screen reader learns of each control; and the display
// fields under a theme switched at run time.
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <utility>

#include "ModalWatcher.h"
#include "QtWindowRig.h"

namespace kv5 {

using namespace kv5::qttest;

class QtWindowAccessTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void keyboardOpensTheAboutBox() {
    FakeRig rig;
    QtUpdaterWindow& window = rig.Window();
    ModalWatcher watcher(&window);
    // The context-menu key and Shift+F10 open the window's menu wherever the focus is, a read-only
    // field included; the entry's mnemonic A then opens the About box.
    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {{Qt::Key_Menu, Qt::NoModifier},
                                                              {Qt::Key_F10, Qt::ShiftModifier}};
    for (const auto& [key, modifiers] : keys) {
      for (int id : {IDC_EXECUTE, IDC_STATUS_LINE}) {
        QApplication::setActiveWindow(&window);  // the offscreen platform does not give it back
        window.Control(id)->setFocus();
        bool menuShown = false;
        QTimer::singleShot(50, this, [&] {
          QWidget* popup = QApplication::activePopupWidget();
          menuShown = popup == &window.SystemMenu();
          if (popup) QTest::keyClick(popup, Qt::Key_A);
        });
        QTest::keyClick(window.Control(id), key, modifiers);
        QVERIFY(menuShown);
      }
    }
    QCOMPARE(watcher.Boxes().size(), size_t(4));
    for (const SeenBox& box : watcher.Boxes()) QCOMPARE(box.kind, QStringLiteral("about"));
    QVERIFY(!window.Ended());
  }

  void screenReaderNamesAndRoles() {
    FakeRig rig;
    QtUpdaterWindow& window = rig.Window();
    struct Expected {
      int id;
      QString name;
      QAccessible::Role role;
    };
    const Expected controls[] = {
        {IDC_EXECUTE, QStringLiteral("Execute"), QAccessible::Button},
        {IDC_EXIT, QStringLiteral("Exit"), QAccessible::Button},
        {IDC_IN_DEVICE_LIST, QStringLiteral("MIDI IN"), QAccessible::ComboBox},
        {IDC_OUT_DEVICE_LIST, QStringLiteral("MIDI OUT"), QAccessible::ComboBox},
        {IDC_PROGRESS, QStringLiteral("Progress"), QAccessible::ProgressBar},
        {IDC_STATUS_LINE, QStringLiteral("Status"), QAccessible::EditableText},
        {IDC_RESCAN, QStringLiteral("Rescan Device"), QAccessible::Button},
        {IDC_STEP_COUNTER, QStringLiteral("Step"), QAccessible::EditableText},
        {IDC_VERSION_CHECK, QStringLiteral("Version Check"), QAccessible::Button},
    };
    for (const Expected& control : controls) {
      QWidget* widget = window.Control(control.id);
      QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
      QVERIFY(face != nullptr);
      QCOMPARE(face->role(), control.role);
      QCOMPARE(widget->accessibleName(), control.name);
      if (control.role != QAccessible::ComboBox) {
        QCOMPARE(face->text(QAccessible::Name), control.name);
        continue;
      }
      // A list's name is its entry; its label is announced through the label relation.
      const auto labels = face->relations(QAccessible::Label);
      QCOMPARE(labels.size(), 1);
      QCOMPARE(labels[0].first->role(), QAccessible::StaticText);
      QCOMPARE(labels[0].first->text(QAccessible::Name), control.name);
    }
    // The two fields are read aloud as read-only text, whatever they show.
    window.SetControlText(IDC_STATUS_LINE, "Erasing Flash memory.");
    window.SetControlText(IDC_STEP_COUNTER, "3/10");
    for (const auto& [id, text] :
         {std::pair<int, QString>{IDC_STATUS_LINE, "Erasing Flash memory."},
          {IDC_STEP_COUNTER, "3/10"}}) {
      QAccessibleInterface* face = QAccessible::queryAccessibleInterface(window.Control(id));
      QVERIFY(face->state().readOnly);
      QVERIFY(face->state().focusable);
      QCOMPARE(face->text(QAccessible::Value), text);
    }
  }

  void displayFieldsFollowThePalette() {
    FakeRig rig;
    QtUpdaterWindow& window = rig.Window();
    const QPalette light = QApplication::palette();
    QPalette dark = light;
    dark.setColor(QPalette::Window, QColor(0x2D, 0x2D, 0x2D));
    dark.setColor(QPalette::Base, QColor(0x1E, 0x1E, 0x1E));
    dark.setColor(QPalette::Text, QColor(0xEE, 0xEE, 0xEE));
    for (const QPalette& theme : {dark, light}) {
      QApplication::setPalette(theme);
      QCoreApplication::processEvents();  // the change reaches the widgets through the loop
      for (int id : {IDC_STATUS_LINE, IDC_STEP_COUNTER}) {
        QLineEdit* edit = Get<QLineEdit>(window, id);
        QCOMPARE(edit->palette().color(QPalette::Base), theme.color(QPalette::Window));
        QCOMPARE(edit->palette().color(QPalette::Text), theme.color(QPalette::Text));
      }
    }
  }

  void enterPressesTheFocusedButton() {
    {
      // After a failed session the focus may sit on Exit: Enter leaves, and starts nothing.
      FakeRig rig;
      QtUpdaterWindow& window = rig.Window();
      window.Control(IDC_EXIT)->setFocus();
      QTest::keyClick(window.Control(IDC_EXIT), Qt::Key_Return);
      QVERIFY(window.Ended());
      QVERIFY(!window.isVisible());
      QCOMPARE(rig.midi.Count("midiOutOpen"), size_t(0));
      QCOMPARE(rig.midi.Count("midiOutLongMsg"), size_t(0));
    }
    FakeRig rig;
    QtUpdaterWindow& window = rig.Window();
    ModalWatcher watcher(&window);
    rig.midi.SetResult("midiOutOpen", MMSYSERR_ALLOCATED);
    // Execute is the default: Enter on the window, on a list and the OK command press it.
    QTest::keyClick(&window, Qt::Key_Return);
    Get<QComboBox>(window, IDC_IN_DEVICE_LIST)->setFocus();
    QTest::keyClick(Get<QComboBox>(window, IDC_IN_DEVICE_LIST), Qt::Key_Enter);
    window.accept();
    QCOMPARE(watcher.Boxes().size(), size_t(3));
    // Enter on Version Check starts the check, which fails the same way; on Rescan Device it
    // rescans, which shows nothing.
    window.Control(IDC_VERSION_CHECK)->setFocus();
    QTest::keyClick(window.Control(IDC_VERSION_CHECK), Qt::Key_Return);
    QCOMPARE(watcher.Boxes().size(), size_t(4));
    const size_t listed = rig.midi.Count("midiOutGetNumDevs");
    window.Control(IDC_RESCAN)->setFocus();
    QTest::keyClick(window.Control(IDC_RESCAN), Qt::Key_Return);
    QVERIFY(rig.midi.Count("midiOutGetNumDevs") > listed);
    QCOMPARE(watcher.Boxes().size(), size_t(4));
    for (const SeenBox& box : watcher.Boxes()) {
      QCOMPARE(box.text, QStringLiteral("Can't open MIDI Out device."));
      QCOMPARE(box.caption, QStringLiteral("Error"));
      QCOMPARE(box.icon, QMessageBox::Critical);
      QCOMPARE(box.buttons, 1);
      QVERIFY(box.ownedByWindow);
      QVERIFY(box.modal);
    }
    QVERIFY(window.isVisible());
    QVERIFY(!window.Ended());
    QCOMPARE(States(window), kReady);

    // While Execute is disabled, Enter on a list does nothing at all.
    rig.dialog->Logic().EnableActions(false);
    Get<QComboBox>(window, IDC_IN_DEVICE_LIST)->setFocus();
    QTest::keyClick(Get<QComboBox>(window, IDC_IN_DEVICE_LIST), Qt::Key_Return);
    QCOMPARE(watcher.Boxes().size(), size_t(4));
    QVERIFY(!window.Ended());
    // The space bar presses the focused button.
    window.Control(IDC_EXIT)->setFocus();
    QTest::keyClick(window.Control(IDC_EXIT), Qt::Key_Space);
    QVERIFY(window.Ended());
  }

  void exitEscapeAndCloseBoxEndTheDialog() {
    {
      FakeRig rig;
      QVERIFY(rig.dialog->Logic().OpenSelectedPorts() == 0);
      QTest::keyClick(&rig.Window(), Qt::Key_Escape);
      QVERIFY(rig.Window().Ended());
      QVERIFY(!rig.Window().isVisible());
      QCOMPARE(rig.midi.Count("midiOutClose"), size_t(1));
      QVERIFY(!rig.midi.InputOpen());
      QCOMPARE(rig.dialog->Logic().Exchange().Status(), 255);
    }
    {
      FakeRig rig;
      QTest::mouseClick(Get<QPushButton>(rig.Window(), IDC_EXIT), Qt::LeftButton);
      QVERIFY(rig.Window().Ended());
      QVERIFY(!rig.Window().isVisible());
    }
    {
      FakeRig rig;
      QVERIFY(rig.Window().close());
      QVERIFY(rig.Window().Ended());
    }
  }
};

}  // namespace kv5

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  kv5::QtWindowAccessTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "QtWindowAccessTest.moc"
