#include "ui/qt/QtUpdaterWindow.h"

#include <QAbstractItemView>
#include <QContextMenuEvent>
#include <QMessageBox>
#include <QMetaObject>
#include <QPalette>
#include <QShortcut>
#include <QThread>
#include <algorithm>

#include "ui/CKv5UpdatorDlg.h"
#include "ui/qt/AboutBox.h"
#include "ui/qt/AppIcon.h"

namespace kv5 {
namespace {

constexpr Qt::WindowFlags kDialogFrame = Qt::Dialog | Qt::CustomizeWindowHint |
                                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                         Qt::WindowCloseButtonHint;

// Read-only, borderless edits show the dialog's face, as read-only edits of a dialog do; a screen
// reader reads them as read-only text.
void MakeDisplayEdit(QLineEdit& edit, const QString& name) {
  edit.setReadOnly(true);
  edit.setFrame(false);
  edit.setTextMargins(0, 0, 0, 0);
  edit.setAccessibleName(name);
}

// The field's face is the window's face of the moment: called again whenever the palette changes.
void PaintLikeTheWindow(QLineEdit& edit, const QWidget& window) {
  QPalette palette = edit.palette();
  palette.setColor(QPalette::Base, window.palette().color(QPalette::Window));
  edit.setPalette(palette);
}

// A drop-down list that takes only its entries, in the order they are added.
void MakeDeviceList(QComboBox& list, const QRect& cell, QStyle& style) {
  list.setStyle(&style);
  list.setEditable(false);
  list.setInsertPolicy(QComboBox::InsertAtBottom);
  list.setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  list.setMinimumContentsLength(1);
  const int closed = list.sizeHint().height();
  list.setGeometry(cell.x(), cell.y(), cell.width(), closed);
  // The template's height is the list dropped down: the closed field and the rows below it.
  list.addItem(QStringLiteral("M"));
  const int row = std::max(1, list.view()->sizeHintForRow(0));
  list.clear();
  list.setMaxVisibleItems(std::max(1, (cell.height() - closed) / row));
}

// The classic segmented bar: blocks two thirds as wide as the bar is high, two pixels apart.
QString SegmentedStyle(int height) {
  const int block = std::max(2, (height - 4) * 2 / 3);
  return QStringLiteral(
             "QProgressBar { border: 1px solid palette(mid); background: palette(base);"
             " padding: 1px; }"
             "QProgressBar::chunk { background: palette(highlight); width: %1px;"
             " margin-right: 2px; }")
      .arg(block);
}

QMessageBox::Icon BoxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Error:
      return QMessageBox::Critical;
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Exclamation:
      return QMessageBox::Warning;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

int DropDownListStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                                 QStyleHintReturn* returnData) const {
  if (hint == QStyle::SH_ComboBox_Popup) return 0;
  return QProxyStyle::styleHint(hint, option, widget, returnData);
}

QtUpdaterWindow::QtUpdaterWindow()
    : QDialog(nullptr, kDialogFrame),
      execute_(QStringLiteral("Execute"), this),
      exit_(QStringLiteral("Exit"), this),
      inLabel_(QStringLiteral("MIDI &IN"), this),
      outLabel_(QStringLiteral("MIDI &OUT"), this),
      inList_(this),
      outList_(this),
      progress_(this),
      statusLine_(this),
      rescan_(QStringLiteral("Rescan Device"), this),
      picture_(this),
      stepCounter_(this),
      versionCheck_(QStringLiteral("Version Check"), this),
      systemMenu_(this) {
  setFont(DialogFont());
  units_ = BaseUnitsOf(font());
  setFixedSize(DuToPxX(239, units_), DuToPxY(161, units_));
  setWindowIcon(AppIcon());
  setSizeGripEnabled(false);

  execute_.setGeometry(MapDialogRect(units_, 119, 138, 50, 16));
  // Execute is the default button: Enter presses it unless the focus is on another button, which
  // Enter (or the space bar) then presses, as a dialog's buttons do.
  execute_.setDefault(true);
  exit_.setGeometry(MapDialogRect(units_, 182, 138, 50, 16));
  inLabel_.setGeometry(MapDialogRect(units_, 7, 7, 225, 8));
  outLabel_.setGeometry(MapDialogRect(units_, 7, 37, 225, 8));
  for (QLabel* label : {&inLabel_, &outLabel_}) {
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFocusPolicy(Qt::NoFocus);
  }
  // Each label names its list and, with its mnemonic (Alt+I, Alt+O), moves the focus to it.
  inLabel_.setBuddy(&inList_);
  outLabel_.setBuddy(&outList_);
  MakeDeviceList(inList_, MapDialogRect(units_, 7, 15, 225, 115), listStyle_);
  MakeDeviceList(outList_, MapDialogRect(units_, 7, 45, 225, 115), listStyle_);
  inList_.setAccessibleName(QStringLiteral("MIDI IN"));
  outList_.setAccessibleName(QStringLiteral("MIDI OUT"));
  progress_.setGeometry(MapDialogRect(units_, 7, 107, 225, 14));
  progress_.setTextVisible(false);
  progress_.setFocusPolicy(Qt::NoFocus);
  progress_.setStyleSheet(SegmentedStyle(progress_.height()));
  progress_.setRange(0, 100);
  progress_.setValue(0);
  progress_.setAccessibleName(QStringLiteral("Progress"));
  statusLine_.setGeometry(MapDialogRect(units_, 12, 91, 220, 12));
  MakeDisplayEdit(statusLine_, QStringLiteral("Status"));
  rescan_.setGeometry(MapDialogRect(units_, 145, 65, 87, 16));
  // The picture static has no image: it takes room and shows nothing.
  picture_.setGeometry(MapDialogRect(units_, 7, 134, 20, 20));
  picture_.setFocusPolicy(Qt::NoFocus);
  stepCounter_.setGeometry(MapDialogRect(units_, 12, 78, 29, 12));
  MakeDisplayEdit(stepCounter_, QStringLiteral("Step"));
  versionCheck_.setGeometry(MapDialogRect(units_, 26, 140, 62, 14));
  for (QLineEdit* edit : {&statusLine_, &stepCounter_}) PaintLikeTheWindow(*edit, *this);
  for (QPushButton* button : {&execute_, &exit_, &rescan_, &versionCheck_})
    button->setAccessibleName(button->text());

  // The window's menu from the keyboard: the context-menu key and Shift+F10, wherever the focus.
  for (const QKeySequence& keys :
       {QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)}) {
    auto* shortcut = new QShortcut(keys, this);  // owned by the window
    connect(shortcut, &QShortcut::activated, this, [this] {
      const QWidget* anchor = focusWidget() != nullptr ? focusWidget() : this;
      OpenSystemMenu(anchor->mapToGlobal(QPoint(0, anchor->height())));
    });
  }

  QWidget* tabOrder[] = {&execute_,    &exit_,   &inList_,      &outList_,
                         &statusLine_, &rescan_, &stepCounter_, &versionCheck_};
  for (size_t i = 1; i < std::size(tabOrder); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);

  connect(&execute_, &QPushButton::clicked, this, [this] {
    if (logic_) logic_->OnExecute();
  });
  connect(&exit_, &QPushButton::clicked, this, &QDialog::reject);
  connect(&rescan_, &QPushButton::clicked, this, [this] {
    if (logic_) logic_->OnRescanDevice();
  });
  connect(&versionCheck_, &QPushButton::clicked, this, [this] {
    if (logic_) logic_->OnVersionCheck();
  });
}

QtUpdaterWindow::~QtUpdaterWindow() = default;

void QtUpdaterWindow::accept() {
  if (logic_) logic_->OnExecute();
}

void QtUpdaterWindow::done(int result) {
  QDialog::done(result);
  if (ended_) return;
  ended_ = true;
  if (logic_) logic_->OnDestroy();
}

void QtUpdaterWindow::contextMenuEvent(QContextMenuEvent* event) {
  OpenSystemMenu(event->globalPos());
}

void QtUpdaterWindow::OpenSystemMenu(const QPoint& at) {
  if (systemMenu_.actions().isEmpty()) return;
  systemMenu_.exec(at);
}

void QtUpdaterWindow::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  // A theme switched at run time: the display fields take the new face too.
  if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) {
    for (QLineEdit* edit : {&statusLine_, &stepCounter_}) PaintLikeTheWindow(*edit, *this);
  }
}

void QtUpdaterWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Like a dialog's first tab stop, Execute has the focus when the window opens.
  if (!focusWidget()) execute_.setFocus();
}

QWidget* QtUpdaterWindow::Control(int id) {
  return const_cast<QWidget*>(static_cast<const QtUpdaterWindow*>(this)->Control(id));
}

const QWidget* QtUpdaterWindow::Control(int id) const {
  switch (id) {
    case IDC_EXECUTE:
      return &execute_;
    case IDC_EXIT:
      return &exit_;
    case IDC_IN_DEVICE_LIST:
      return &inList_;
    case IDC_OUT_DEVICE_LIST:
      return &outList_;
    case IDC_PROGRESS:
      return &progress_;
    case IDC_STATUS_LINE:
      return &statusLine_;
    case IDC_RESCAN:
      return &rescan_;
    case IDC_PICTURE:
      return &picture_;
    case IDC_STEP_COUNTER:
      return &stepCounter_;
    case IDC_VERSION_CHECK:
      return &versionCheck_;
    default:
      return nullptr;
  }
}

QComboBox* QtUpdaterWindow::List(int listId) {
  return const_cast<QComboBox*>(static_cast<const QtUpdaterWindow*>(this)->List(listId));
}

const QComboBox* QtUpdaterWindow::List(int listId) const {
  if (listId == IDC_IN_DEVICE_LIST) return &inList_;
  if (listId == IDC_OUT_DEVICE_LIST) return &outList_;
  return nullptr;
}

QLineEdit* QtUpdaterWindow::Edit(int id) {
  if (id == IDC_STATUS_LINE) return &statusLine_;
  if (id == IDC_STEP_COUNTER) return &stepCounter_;
  return nullptr;
}

void QtUpdaterWindow::SetWindowTitle(const std::string& title) {
  setWindowTitle(QString::fromStdString(title));
}

void QtUpdaterWindow::AppendAboutMenuEntry(uint32_t command, const std::string& text) {
  systemMenu_.addSeparator();
  QAction* entry = systemMenu_.addAction(QString::fromStdString(text));
  connect(entry, &QAction::triggered, this, [this, command] {
    if (logic_) logic_->OnSysCommand(command);
  });
}

void QtUpdaterWindow::ShowAboutBox() {
  CAboutDlg about(this);
  about.exec();
}

void QtUpdaterWindow::EnableControl(int id, bool enable) {
  if (QWidget* control = Control(id)) control->setEnabled(enable);
}

bool QtUpdaterWindow::IsControlEnabled(int id) const {
  const QWidget* control = Control(id);
  return control != nullptr && control->isEnabledTo(this);
}

void QtUpdaterWindow::SetControlText(int id, const std::string& text) {
  QLineEdit* edit = Edit(id);
  if (!edit) return;
  edit->setText(QString::fromStdString(text));
  // Show the text from its start, as an edit does after its text was set.
  edit->setCursorPosition(0);
}

void QtUpdaterWindow::ResetContent(int listId) {
  if (QComboBox* list = List(listId)) list->clear();
}

void QtUpdaterWindow::AddString(int listId, const std::string& text) {
  QComboBox* list = List(listId);
  if (!list) return;
  // Adding never selects: Qt would select the first entry of an empty list.
  const int selection = list->currentIndex();
  // The entry keeps the name's bytes, which the preselection compares exactly.
  list->addItem(QString::fromStdString(text), QByteArray::fromStdString(text));
  if (list->currentIndex() != selection) list->setCurrentIndex(selection);
}

int QtUpdaterWindow::GetCount(int listId) const {
  const QComboBox* list = List(listId);
  return list ? list->count() : 0;
}

std::string QtUpdaterWindow::GetLBText(int listId, int index) const {
  const QComboBox* list = List(listId);
  if (!list || index < 0 || index >= list->count()) return std::string();
  return list->itemData(index).toByteArray().toStdString();
}

void QtUpdaterWindow::SetCurSel(int listId, int index) {
  QComboBox* list = List(listId);
  if (!list) return;
  // An index outside the list clears the selection.
  list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

int QtUpdaterWindow::GetCurSel(int listId) const {
  const QComboBox* list = List(listId);
  return list ? list->currentIndex() : -1;
}

void QtUpdaterWindow::SetProgressRange32(int32_t lower, int32_t upper) {
  const int position = progress_.value() < progress_.minimum() ? lower : progress_.value();
  progress_.setRange(lower, upper);
  // A bar keeps its position inside the new range rather than emptying.
  progress_.setValue(std::max(progress_.minimum(), std::min(position, progress_.maximum())));
}

void QtUpdaterWindow::SetProgressPos(int32_t position) {
  progress_.setValue(std::max(progress_.minimum(), std::min(position, progress_.maximum())));
}

void QtUpdaterWindow::MessageBox(const std::string& text, const std::string& caption,
                                 MessageIcon icon, const std::string& detail) {
  QMessageBox box(BoxIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  if (!detail.empty()) box.setInformativeText(QString::fromStdString(detail));
  box.exec();
}

bool QtUpdaterWindow::AskYesNo(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::Warning, QString::fromStdString(caption),
                  QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No, this);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  box.exec();
  return box.clickedButton() == box.button(QMessageBox::Yes);
}

void QtUpdaterWindow::PostToUiThread(std::function<void()> call) {
  {
    std::lock_guard<std::mutex> hold(postedLock_);
    posted_.push_back(std::move(call));
  }
  // Queued on the window's thread; Qt drops it if the window is destroyed first.
  QMetaObject::invokeMethod(
      this, [this] { RunPosted(); }, Qt::QueuedConnection);
}

void QtUpdaterWindow::RunPosted() {
  for (;;) {
    std::function<void()> call;
    {
      std::lock_guard<std::mutex> hold(postedLock_);
      if (posted_.empty()) return;
      call = std::move(posted_.front());
      posted_.pop_front();
    }
    call();
  }
}

bool QtUpdaterWindow::OnUiThread() const {
  return QThread::currentThread() == thread();
}

}  // namespace kv5
