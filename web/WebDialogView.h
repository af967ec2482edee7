// The dialog's view on the page: every control operation goes to the page's markup, the lists are
// kept here as well (the dialog reads them back at once), and a modal box waits on the page's
// user-interface thread for its button. What the session shows (steps, status, boxes, the busy
// state) is also told to an observer: the session's log.
#pragma once

#include <string>
#include <vector>

#include "ui/DialogView.h"
#include "web/PageThread.h"

namespace kv5 {

class ViewObserver {
 public:
  virtual ~ViewObserver() = default;
  virtual void OnControlText(int /*id*/, const std::string& /*text*/) {}
  virtual void OnMessageBox(const std::string& /*text*/, const std::string& /*caption*/,
                            MessageIcon /*icon*/) {}
  // The busy state began or ended (the Rescan Device button is disabled exactly while busy).
  virtual void OnBusy(bool /*busy*/) {}
};

class WebDialogView : public DialogView {
 public:
  WebDialogView(PageThread& thread, ViewObserver& observer)
      : thread_(thread), observer_(observer) {}

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
  void PostToUiThread(std::function<void()> call) override { thread_.Post(std::move(call)); }
  bool OnUiThread() const override { return thread_.OnThread(); }

  // The user picked an entry (-1: none).
  void UserSelected(int listId, int index);

 private:
  struct List {
    std::vector<std::string> entries;
    int selection = -1;
  };
  List& ListOf(int listId) { return listId == IDC_IN_DEVICE_LIST ? in_ : out_; }
  const List& ListOf(int listId) const { return listId == IDC_IN_DEVICE_LIST ? in_ : out_; }
  // Shows a box and waits for its answer: 1 OK or Yes, 0 No.
  int ShowBox(const std::string& text, const std::string& caption, int icon,
              const std::string& detail);

  PageThread& thread_;
  ViewObserver& observer_;
  List in_;
  List out_;
  std::vector<int> disabled_;
  int32_t lower_ = 0;
  int32_t upper_ = 100;
  int32_t position_ = 0;
};

}  // namespace kv5
