// The updater window on Qt: the controls of the updater dialog template, placed in dialog units,
// drawing the toolkit-free dialog logic and forwarding its events to it.
#pragma once

#include <deque>
#include <functional>
#include <mutex>

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>

#include "ui/DialogView.h"
#include "ui/qt/DialogUnits.h"

namespace kv5 {

class CKv5UpdatorDlg;

// The drop-down lists drop a bounded list under the field, as a dialog's lists do, instead of a
// menu over it that grows with the entries (what some styles do for lists that take no typing).
class DropDownListStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override;
};

class QtUpdaterWindow : public QDialog, public DialogView {
 public:
  QtUpdaterWindow();
  ~QtUpdaterWindow() override;

  // The logic the window's events go to; null detaches it.
  void Attach(CKv5UpdatorDlg* logic) { logic_ = logic; }

  // DialogView.
  void SetWindowTitle(const std::string& title) override;
  void AppendAboutMenuEntry(uint32_t command, const std::string& text) override;
  void ShowAboutBox() override;
  void EnableControl(int id, bool enable) override;
  bool IsControlEnabled(int id) const override;
  void SetControlText(int id, const std::string& text) override;
  void ResetContent(int listId) override;
  void AddString(int listId, const std::string& text) override;
  int GetCount(int listId) const override;
  std::string GetLBText(int listId, int index) const override;
  void SetCurSel(int listId, int index) override;
  int GetCurSel(int listId) const override;
  void SetProgressRange32(int32_t lower, int32_t upper) override;
  void SetProgressPos(int32_t position) override;
  void MessageBox(const std::string& text, const std::string& caption, MessageIcon icon,
                  const std::string& detail) override;
  bool AskYesNo(const std::string& text, const std::string& caption) override;
  void PostToUiThread(std::function<void()> call) override;
  bool OnUiThread() const override;

  // The control with a template id, or null; the static texts have none.
  QWidget* Control(int id);
  const QWidget* Control(int id) const;
  QLabel& InLabel() { return inLabel_; }
  QLabel& OutLabel() { return outLabel_; }
  // The window's menu: the system menu's entries, opened with a right click, the context-menu
  // key or Shift+F10.
  QMenu& SystemMenu() { return systemMenu_; }
  const DialogBaseUnits& BaseUnits() const { return units_; }
  // True once the dialog has ended (Exit, Escape or the close box) and the logic was torn down.
  bool Ended() const { return ended_; }

  // The OK command (Enter) is the Execute command: it never ends the dialog.
  void accept() override;
  // Every ending of the dialog: hide, leave the modal loop, then the logic's OnDestroy.
  void done(int result) override;

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void OpenSystemMenu(const QPoint& at);
  // Runs the calls other threads posted, in order.
  void RunPosted();
  QComboBox* List(int listId);
  const QComboBox* List(int listId) const;
  QLineEdit* Edit(int id);

  CKv5UpdatorDlg* logic_ = nullptr;
  DialogBaseUnits units_;
  bool ended_ = false;
  DropDownListStyle listStyle_;  // outlives the lists that use it

  // In template order, which is the tab order.
  QPushButton execute_;
  QPushButton exit_;
  QLabel inLabel_;
  QLabel outLabel_;
  QComboBox inList_;
  QComboBox outList_;
  QProgressBar progress_;
  QLineEdit statusLine_;
  QPushButton rescan_;
  QLabel picture_;
  QLineEdit stepCounter_;
  QPushButton versionCheck_;
  QMenu systemMenu_;

  // Calls from other threads pass through this queue under a lock of our own rather than inside
  // Qt's event, so that the hand-over is visible to the thread sanitizer.
  std::mutex postedLock_;
  std::deque<std::function<void()>> posted_;
};

}  // namespace kv5
