// What the dialog logic needs of a window: its controls by id, message boxes, and a way onto the
// user-interface thread. Qt draws it on Linux, Win32 on Windows, a console for the command line.
// Every operation but PostToUiThread and OnUiThread is called on the user-interface thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kv5 {

// Control ids of the updater window.
constexpr int IDC_EXECUTE = 1;  // also the dialog's OK command
constexpr int IDC_EXIT = 2;     // also Escape and the close box
constexpr int IDC_IN_DEVICE_LIST = 1000;
constexpr int IDC_OUT_DEVICE_LIST = 1001;
constexpr int IDC_PROGRESS = 1002;
constexpr int IDC_STATUS_LINE = 1003;
constexpr int IDC_RESCAN = 1004;
constexpr int IDC_PICTURE = 1005;
constexpr int IDC_STEP_COUNTER = 1006;
constexpr int IDC_VERSION_CHECK = 1007;

// The system-menu command of the About entry; commands 0x0010..0x001F all open the About box.
constexpr uint32_t IDM_ABOUTBOX = 0x0010;

enum class MessageIcon { Error, Information, Exclamation };

class DialogView {
 public:
  virtual ~DialogView() = default;

  virtual void SetWindowTitle(const std::string& title) = 0;
  // Appends a separator and a menu entry that sends `command` to OnSysCommand, in the window's
  // system menu (Windows) or its context menu (Qt).
  virtual void AppendAboutMenuEntry(uint32_t command, const std::string& text) = 0;
  virtual void ShowAboutBox() = 0;

  virtual void EnableControl(int id, bool enable) = 0;
  virtual bool IsControlEnabled(int id) const = 0;
  // Edit controls (status line, step counter).
  virtual void SetControlText(int id, const std::string& text) = 0;

  // Drop-down lists, never sorted: an entry's index is the device number.
  virtual void ResetContent(int listId) = 0;
  virtual void AddString(int listId, const std::string& text) = 0;
  virtual int GetCount(int listId) const = 0;
  virtual std::string GetLBText(int listId, int index) const = 0;
  virtual void SetCurSel(int listId, int index) = 0;
  // -1 when the list has no selection.
  virtual int GetCurSel(int listId) const = 0;

  virtual void SetProgressRange32(int32_t lower, int32_t upper) = 0;
  virtual void SetProgressPos(int32_t position) = 0;

  // Modal message box owned by the window with one OK button; returns when it was dismissed.
  // detail, when not empty, is a second paragraph under the text (what to do next).
  virtual void MessageBox(const std::string& text, const std::string& caption, MessageIcon icon,
                          const std::string& detail) = 0;
  // Modal question box owned by the window, with a warning icon and the buttons Yes and No. No
  // is the default: Enter and Escape answer No, as does closing the box. True for Yes.
  virtual bool AskYesNo(const std::string& text, const std::string& caption) = 0;

  // Runs call later on the user-interface thread; callable from any thread. Calls posted after the
  // window has gone are dropped.
  virtual void PostToUiThread(std::function<void()> call) = 0;
  virtual bool OnUiThread() const = 0;
};

}  // namespace kv5
