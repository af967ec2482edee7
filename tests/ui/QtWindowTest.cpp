// The Qt updater window on the offscreen platform: its controls, texts, geometry from dialog
// units, tab order and states, its boxes, and whole sessions against the virtual unit.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "ModalWatcher.h"
#include "QtWindowRig.h"
#include "firmware/FirmwarePackage.h"
#include "session/StringTable.h"
#include "ui/OwnerNotices.h"

namespace kv5 {

using namespace kv5::qttest;

class QtWindowTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void controlsTextsAndStates() {
    FakeRig rig;
    QtUpdaterWindow& window = rig.Window();
    QCOMPARE(window.windowTitle(), QStringLiteral("TELVOR Q9 System v1.20 Updater"));
    QCOMPARE(Get<QPushButton>(window, IDC_EXECUTE)->text(), QStringLiteral("Execute"));
    QVERIFY(Get<QPushButton>(window, IDC_EXECUTE)->isDefault());
    QCOMPARE(Get<QPushButton>(window, IDC_EXIT)->text(), QStringLiteral("Exit"));
    QCOMPARE(Get<QPushButton>(window, IDC_RESCAN)->text(), QStringLiteral("Rescan Device"));
    QCOMPARE(Get<QPushButton>(window, IDC_VERSION_CHECK)->text(), QStringLiteral("Version Check"));
    // The labels are their lists' buddies: Alt+I and Alt+O move the focus to them.
    QCOMPARE(window.InLabel().text(), QStringLiteral("MIDI &IN"));
    QCOMPARE(window.OutLabel().text(), QStringLiteral("MIDI &OUT"));
    QCOMPARE(window.InLabel().buddy(), window.Control(IDC_IN_DEVICE_LIST));
    QCOMPARE(window.OutLabel().buddy(), window.Control(IDC_OUT_DEVICE_LIST));
    QTest::keyClick(&window, Qt::Key_O, Qt::AltModifier);
    QCOMPARE(window.focusWidget(), window.Control(IDC_OUT_DEVICE_LIST));
    QTest::keyClick(&window, Qt::Key_I, Qt::AltModifier);
    QCOMPARE(window.focusWidget(), window.Control(IDC_IN_DEVICE_LIST));
    for (int id : {IDC_IN_DEVICE_LIST, IDC_OUT_DEVICE_LIST}) {
      QComboBox* list = Get<QComboBox>(window, id);
      QVERIFY(!list->isEditable());
      QCOMPARE(list->insertPolicy(), QComboBox::InsertAtBottom);
      QCOMPARE(list->currentIndex(), 0);  // "TELVOR Q9" preselected
    }
    for (int id : {IDC_STATUS_LINE, IDC_STEP_COUNTER}) {
      QLineEdit* edit = Get<QLineEdit>(window, id);
      QVERIFY(edit->isReadOnly());
      QVERIFY(!edit->hasFrame());
      QVERIFY(edit->text().isEmpty());
      QCOMPARE(edit->palette().color(QPalette::Base), window.palette().color(QPalette::Window));
    }
    QLabel* picture = Get<QLabel>(window, IDC_PICTURE);
    QVERIFY(picture->text().isEmpty());
    QVERIFY(picture->pixmap().isNull());
    QCOMPARE(Get<QProgressBar>(window, IDC_PROGRESS)->maximum(), 100);
    QCOMPARE(States(window), kReady);

    const Qt::WindowFlags flags = window.windowFlags();
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    const QList<QSize> sizes = window.windowIcon().availableSizes();
    for (int side : {16, 32, 48}) QVERIFY(sizes.contains(QSize(side, side)));

    FakeRig third(3);
    QCOMPARE(third.Window().windowTitle(), QStringLiteral("TELVOR Q9 System v1.20 Updater (3)"));
  }

  void unsortedListsKeepNoSelectionWithoutMatch() {
    FakeRig rig(1, {"Zeta", "Alpha", "Mid"});
    QComboBox* list = Get<QComboBox>(rig.Window(), IDC_OUT_DEVICE_LIST);
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->itemText(0), QStringLiteral("Zeta"));
    QCOMPARE(list->itemText(1), QStringLiteral("Alpha"));
    QCOMPARE(list->currentIndex(), -1);  // Qt would select the first entry on its own
    list->setCurrentIndex(2);
    QTest::mouseClick(Get<QPushButton>(rig.Window(), IDC_RESCAN), Qt::LeftButton);
    QCOMPARE(list->currentIndex(), -1);
  }

  void geometryFollowsDialogUnits() {
    FakeRig rig;
    QtUpdaterWindow& window = rig.Window();
    QCOMPARE(QFontInfo(window.font()).pointSize(), 9);
    const Units u = MeasuredUnits(window.font());
    QCOMPARE(window.BaseUnits().x, u.x);
    QCOMPARE(window.BaseUnits().y, u.y);
    QCOMPARE(window.size(), QSize(Px(239, u.x, 4), Px(161, u.y, 8)));
    QCOMPARE(window.minimumSize(), window.maximumSize());  // not resizable
    // A compact dialog of the template's proportions.
    QVERIFY(window.width() > 300 && window.width() < 520);
    const double aspect = double(window.width()) / window.height();
    QVERIFY2(aspect > 1.3 && aspect < 1.6, qPrintable(QString::number(aspect)));

    struct Cell {
      QWidget* widget;
      int x, y, w, h;
    };
    const Cell cells[] = {
        {window.Control(IDC_EXECUTE), 119, 138, 50, 16},
        {window.Control(IDC_EXIT), 182, 138, 50, 16},
        {&window.InLabel(), 7, 7, 225, 8},
        {&window.OutLabel(), 7, 37, 225, 8},
        {window.Control(IDC_IN_DEVICE_LIST), 7, 15, 225, -1},
        {window.Control(IDC_OUT_DEVICE_LIST), 7, 45, 225, -1},
        {window.Control(IDC_PROGRESS), 7, 107, 225, 14},
        {window.Control(IDC_STATUS_LINE), 12, 91, 220, 12},
        {window.Control(IDC_RESCAN), 145, 65, 87, 16},
        {window.Control(IDC_PICTURE), 7, 134, 20, 20},
        {window.Control(IDC_STEP_COUNTER), 12, 78, 29, 12},
        {window.Control(IDC_VERSION_CHECK), 26, 140, 62, 14},
    };
    for (const Cell& cell : cells) {
      const QRect g = cell.widget->geometry();
      QCOMPARE(g.x(), Px(cell.x, u.x, 4));
      QCOMPARE(g.y(), Px(cell.y, u.y, 8));
      QCOMPARE(g.width(), Px(cell.w, u.x, 4));
      if (cell.h >= 0) QCOMPARE(g.height(), Px(cell.h, u.y, 8));
    }
    // A drop-down list is 115 units high when dropped: the closed field and the rows under it.
    for (int id : {IDC_IN_DEVICE_LIST, IDC_OUT_DEVICE_LIST}) {
      QComboBox* list = Get<QComboBox>(window, id);
      list->addItem(QStringLiteral("x"));
      const int row = list->view()->sizeHintForRow(0);
      const int dropped = Px(115, u.y, 8);
      QVERIFY(list->height() + list->maxVisibleItems() * row <= dropped);
      QVERIFY(list->height() + (list->maxVisibleItems() + 1) * row > dropped);
      // Dropped with many entries, the list opens under the field and stays within that height.
      for (int i = 0; i < 40; ++i) window.AddString(id, "Device " + std::to_string(i));
      list->showPopup();
      QWidget* popup = list->view()->window();
      QTRY_VERIFY(popup->isVisible());
      QVERIFY2(list->height() + popup->height() <= dropped,
               qPrintable(QString::number(list->height() + popup->height())));
      QVERIFY(list->height() + popup->height() > dropped - 2 * row);
      QVERIFY(popup->mapToGlobal(QPoint(0, 0)).y() >= list->mapToGlobal(QPoint(0, 0)).y());
      list->hidePopup();
      // The closed field fits above the next row of controls.
      QVERIFY(list->geometry().bottom() < Px(id == IDC_IN_DEVICE_LIST ? 37 : 65, u.y, 8));
    }
  }

  void tabOrderIsTemplateOrder() {
    FakeRig rig;
    QtUpdaterWindow& window = rig.Window();
    const QList<QWidget*> expected = {
        window.Control(IDC_EXECUTE),        window.Control(IDC_EXIT),
        window.Control(IDC_IN_DEVICE_LIST), window.Control(IDC_OUT_DEVICE_LIST),
        window.Control(IDC_STATUS_LINE),    window.Control(IDC_RESCAN),
        window.Control(IDC_STEP_COUNTER),   window.Control(IDC_VERSION_CHECK)};
    QList<QWidget*> chain;
    QWidget* at = expected.front();
    do {
      if ((at->focusPolicy() & Qt::TabFocus) && !at->isWindow() && at->parentWidget() == &window)
        chain.append(at);
      at = at->nextInFocusChain();
    } while (at != expected.front());
    QCOMPARE(chain, expected);
    QCOMPARE(window.focusWidget(), window.Control(IDC_EXECUTE));
  }

  void progressBarHoldsA32BitRange() {
    FakeRig rig;
    QtUpdaterWindow& window = rig.Window();
    QProgressBar* bar = Get<QProgressBar>(window, IDC_PROGRESS);
    window.SetProgressRange32(0, 1064224);
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 1064224);
    window.SetProgressPos(600000);
    QCOMPARE(bar->value(), 600000);
    // Drawn in proportion: the filled part of the bar's middle row.
    const QImage image = bar->grab().toImage();
    const QColor fill = bar->palette().color(QPalette::Highlight);
    int filled = 0;
    for (int x = 0; x < image.width(); ++x)
      if (image.pixelColor(x, image.height() / 2) == fill) ++filled;
    const double shown = double(filled) / image.width();
    QVERIFY2(shown > 0.45 && shown < 0.60, qPrintable(QString::number(shown)));
    // Segmented: the fill is broken into blocks.
    int blocks = 0;
    bool inBlock = false;
    for (int x = 0; x < image.width(); ++x) {
      const bool on = image.pixelColor(x, image.height() / 2) == fill;
      if (on && !inBlock) ++blocks;
      inBlock = on;
    }
    QVERIFY2(blocks > 5, qPrintable(QString::number(blocks)));
    // Positions outside the range are held at its ends.
    window.SetProgressPos(2000000);
    QCOMPARE(bar->value(), 1064224);
    window.SetProgressRange32(0, 10);
    QCOMPARE(bar->value(), 10);
  }

  void rightClickMenuOpensTheAboutBox() {
    FakeRig rig;
    QtUpdaterWindow& window = rig.Window();
    const QList<QAction*> actions = window.SystemMenu().actions();
    QCOMPARE(actions.size(), 2);
    QVERIFY(actions[0]->isSeparator());
    QCOMPARE(actions[1]->text(), QStringLiteral("About TELVOR Q5 Updater(&A)..."));

    // A right click opens the menu.
    bool menuShown = false;
    QTimer::singleShot(50, this, [&] {
      QWidget* popup = QApplication::activePopupWidget();
      menuShown = popup == &window.SystemMenu();
      if (popup) popup->close();
    });
    const QPoint at(10, 10);
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, window.mapToGlobal(at));
    QApplication::sendEvent(&window, &click);
    QVERIFY(menuShown);

    // Its entry opens the About box.
    ModalWatcher watcher(&window);
    actions[1]->trigger();
    QCOMPARE(watcher.Boxes().size(), size_t(1));
    const SeenBox& about = watcher.Boxes()[0];
    QCOMPARE(about.kind, QStringLiteral("about"));
    QCOMPARE(about.caption, QStringLiteral("About TELVOR Q5 Updater"));
    QCOMPARE(about.productText, QStringLiteral("TELVOR Q9 System v1.20 Updater"));
    QVERIFY(about.productReadOnly);
    QVERIFY(!about.productFramed);
    QVERIFY(about.okIsDefault);
    QVERIFY(about.ownedByWindow);
    QVERIFY(about.modal);
    if (IsTestPackage()) {
      QVERIFY(about.text.contains(QStringLiteral("synthetic test package"), Qt::CaseInsensitive));
      QVERIFY(about.text.contains(QStringLiteral("not firmware for a real unit")));
    } else {
      QVERIFY(!about.text.isEmpty());
    }
    const Units u = MeasuredUnits(window.font());
    QCOMPARE(about.aboutGeometry.size(), QSize(Px(235, u.x, 4), Px(60, u.y, 8)));
  }

  void fullUpdateThroughTheWindow() {
    UnitRig rig;
    QtUpdaterWindow& window = rig.Window();
    ModalWatcher watcher(&window);
    QTest::mouseClick(Get<QPushButton>(window, IDC_EXECUTE), Qt::LeftButton);
    QCOMPARE(States(window), kBusy);
    QTRY_VERIFY_WITH_TIMEOUT(rig.Settled(), 120000);
    QVERIFY2(watcher.Boxes().empty(),
             qPrintable(watcher.Boxes().empty() ? QString() : watcher.Boxes().front().text));
    QCOMPARE(Get<QLineEdit>(window, IDC_STATUS_LINE)->text(),
             QStringLiteral("Version update completed."));
    QCOMPARE(Get<QLineEdit>(window, IDC_STEP_COUNTER)->text(), QStringLiteral("10/10"));
    QProgressBar* bar = Get<QProgressBar>(window, IDC_PROGRESS);
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(States(window), kUpdated);
    QVERIFY(rig.unit.WaitIdle(std::chrono::seconds(5)));
    QVERIFY(rig.unit.VerifyPackage().ok);
    QTest::mouseClick(Get<QPushButton>(window, IDC_RESCAN), Qt::LeftButton);
    QCOMPARE(States(window), kReady);
  }

  void versionCheckThroughTheWindow() {
    UnitRig rig;
    QtUpdaterWindow& window = rig.Window();
    ModalWatcher watcher(&window);
    QString stateWhileUp;
    watcher.WhileUp([&](QWidget*) { stateWhileUp = States(window); });
    QTest::mouseClick(Get<QPushButton>(window, IDC_VERSION_CHECK), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(watcher.Boxes().size() == 1 && rig.Settled(), 60000);
    const SeenBox& report = watcher.Boxes()[0];
    QCOMPARE(report.caption, QStringLiteral("Version Information"));
    QCOMPARE(report.icon, QMessageBox::Information);
    QCOMPARE(report.text, QStringLiteral("SYSTEM:\t\t1.10 -> 1.20\nPRESET:\t\t1.00\nBOOT:\t\t1.00\n"
                                         "SUBMCU:\t\t*.** -> 1.01"));
    QCOMPARE(report.buttons, 1);
    QVERIFY(report.ownedByWindow);
    QCOMPARE(stateWhileUp, kBusy);  // the busy state is left only after the report is closed
    QCOMPARE(States(window), kReady);
  }

  void sessionErrorBox() {
    UnitConfig config;
    config.updateMode = false;
    UnitRig rig(config);
    QtUpdaterWindow& window = rig.Window();
    ModalWatcher watcher(&window);
    QString stateWhileUp;
    watcher.WhileUp([&](QWidget*) { stateWhileUp = States(window); });
    QTest::mouseClick(Get<QPushButton>(window, IDC_EXECUTE), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(watcher.Boxes().size() == 1 && rig.Settled(), 60000);
    QCOMPARE(watcher.Boxes()[0].text, QStringLiteral("Please use the firmware update mode."));
    QCOMPARE(watcher.Boxes()[0].caption, QStringLiteral("Error"));
    QCOMPARE(watcher.Boxes()[0].icon, QMessageBox::Critical);
    // The unit never entered its update mode: nothing to recover.
    QVERIFY(watcher.Boxes()[0].detail.isEmpty());
    QCOMPARE(stateWhileUp, kBusy);
    QCOMPARE(States(window), kReady);
  }

  void anUpdateFailedInUpdateModeSaysHowToRecover() {
    UnitConfig config;
    config.faults.AnswerCode(MessageKind::FlashErase, Occurrence::Every(), 5);
    UnitRig rig(config);
    QtUpdaterWindow& window = rig.Window();
    ModalWatcher watcher(&window);
    QTest::mouseClick(Get<QPushButton>(window, IDC_EXECUTE), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(watcher.Boxes().size() == 1 && rig.Settled(), 60000);
    QCOMPARE(watcher.Boxes()[0].text, QStringLiteral("Transfer error occurred."));
    QCOMPARE(watcher.Boxes()[0].detail,
             QString::fromStdString(UpdateFailureAdvice(/*deviceGone=*/false)));
  }

  // A build that carries the test package says so, and Execute asks first: Escape and Enter
  // answer No and nothing reaches the unit; only Yes starts the update.
  void theTestPackageIsWrittenOnlyAfterAYes() {
    UnitRig rig({}, Guard::On);
    QtUpdaterWindow& window = rig.Window();
    QVERIFY(window.windowTitle().endsWith(QStringLiteral(" (test package)")));
    QCOMPARE(Get<QLineEdit>(window, IDC_STATUS_LINE)->text(),
             QString::fromUtf8(kTestPackageReadyText));
    ModalWatcher watcher(&window);
    int asked = 0;
    watcher.WhileUp([&](QWidget* box) {
      ++asked;
      if (asked == 1) QTest::keyClick(box, Qt::Key_Escape);
      if (asked == 2) QTest::keyClick(box->focusWidget(), Qt::Key_Return);
    });
    auto* execute = Get<QPushButton>(window, IDC_EXECUTE);
    for (int attempt = 1; attempt <= 2; ++attempt) {
      QTest::mouseClick(execute, Qt::LeftButton);
      QCOMPARE(asked, attempt);
      QCOMPARE(States(window), kReady);
    }
    QCOMPARE(rig.unit.Count(MessageKind::Any), 0u);
    const SeenBox& question = watcher.Boxes()[0];
    QCOMPARE(question.kind, QStringLiteral("question"));
    QCOMPARE(question.caption, QString::fromUtf8(kTestPackageQuestionCaption));
    QVERIFY(question.text.contains(QStringLiteral("unusable")));
    QCOMPARE(question.icon, QMessageBox::Warning);
    QCOMPARE(question.buttons, 2);
    QVERIFY(question.ownedByWindow);
    QVERIFY(question.noIsDefault);
    QVERIFY(question.noOnEscape);

    QTest::mouseClick(execute, Qt::LeftButton);  // answered Yes
    QCOMPARE(States(window), kBusy);
    QTRY_VERIFY_WITH_TIMEOUT(rig.Settled(), 120000);
    QCOMPARE(Get<QLineEdit>(window, IDC_STATUS_LINE)->text(),
             QStringLiteral("Version update completed."));
    QVERIFY(rig.unit.WaitIdle(std::chrono::seconds(5)));
    QVERIFY(rig.unit.VerifyPackage().ok);
  }

  void closingDuringAnUpdate() {
    UnitRig rig;
    QtUpdaterWindow& window = rig.Window();
    ModalWatcher watcher(&window);
    QTest::mouseClick(Get<QPushButton>(window, IDC_EXECUTE), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(rig.unit.Count(MessageKind::FlashWrite) >= 20, 60000);
    QVERIFY(window.close());
    QVERIFY(window.Ended());
    QVERIFY(!rig.dialog->Logic().WorkerRunning());
    QCOMPARE(rig.dialog->Logic().Exchange().Status(), 255);
    QTest::qWait(100);
    QVERIFY(watcher.Boxes().empty());
    QVERIFY(rig.unit.WaitIdle(std::chrono::seconds(5)));
    const uint32_t writes = rig.unit.Count(MessageKind::FlashWrite);
    QTest::qWait(50);
    QCOMPARE(rig.unit.Count(MessageKind::FlashWrite), writes);
  }
};

}  // namespace kv5

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  kv5::QtWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "QtWindowTest.moc"
