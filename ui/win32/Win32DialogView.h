// The dialog logic's view on a Win32 dialog window: controls are reached by id with the dialog
// manager's calls, and calls from other threads travel as posted window messages.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "ui/DialogView.h"
#include "ui/win32/Win32.h"

namespace kv5 {

// A posted call: lParam owns a std::function<void()> on the heap.
constexpr UINT kRunCallMessage = WM_APP + 2;

class Win32DialogView : public DialogView {
 public:
  Win32DialogView();
  ~Win32DialogView() override;
  Win32DialogView(const Win32DialogView&) = delete;
  Win32DialogView& operator=(const Win32DialogView&) = delete;

  // The dialog window, from WM_INITDIALOG until WM_NCDESTROY; the calling thread becomes the
  // user-interface thread.
  void Attach(HWND dialog);
  // The window is going: later posts are dropped, and so are the calls still queued.
  void Detach();
  HWND Window() const;
  // Runs a call that kRunCallMessage brought.
  static void RunPostedCall(LPARAM call);

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
  // The detail goes under the text, after a blank line.
  void MessageBox(const std::string& text, const std::string& caption, MessageIcon icon,
                  const std::string& detail) override;
  bool AskYesNo(const std::string& text, const std::string& caption) override;
  void PostToUiThread(std::function<void()> call) override;
  bool OnUiThread() const override;

 private:
  HWND Control(int id) const;

  mutable std::mutex lock_;  // guards window_ against posts from other threads
  HWND window_ = nullptr;
  DWORD uiThread_;
};

}  // namespace kv5
