// Drives a modal Win32 dialog from a second thread, as a user would: clicks by posted commands,
// reads texts and states back from the controls, and finds, reads and dismisses the message
// boxes that the dialog's thread opens. Only windows of that thread are looked at, so tests
// running side by side cannot see each other's boxes.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ui/win32/Win32.h"

namespace kv5 {

struct FoundBox {
  HWND window = nullptr;
  std::string caption;
  std::string text;
  HICON icon = nullptr;  // the picture the box shows beside its text
  std::vector<std::string> buttons;
};

class DialogDriver {
 public:
  using Clock = std::chrono::steady_clock;

  explicit DialogDriver(HWND dialog);

  HWND Dialog() const { return dialog_; }
  HWND Control(int id) const { return GetDlgItem(dialog_, id); }
  std::string Text(int id) const;
  std::string Title() const;
  bool Enabled(int id) const;
  // "lists execute versionCheck rescan exit" as 0/1 flags, e.g. "11 11 1 1".
  std::string ControlState() const;
  std::vector<std::string> ListEntries(int id) const;
  int Selection(int id) const;
  // The control of the dialog's thread that has the keyboard focus.
  HWND Focus() const;

  // Posts a button's click; returns at once, even when the click opens a modal box.
  void Click(int id) const;
  void Post(UINT message, WPARAM wParam, LPARAM lParam) const;

  // Waits until the condition holds; false when it did not within the limit.
  static bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);

  // The top-level windows of the dialog's thread other than the dialog, with their class.
  std::vector<HWND> OtherWindows(const char* className) const;
  // Waits for a message box (or any dialog) of the dialog's thread with this caption.
  bool WaitForBox(const std::string& caption, std::chrono::milliseconds limit, FoundBox* box) const;
  // Presses the box's OK button.
  static void Dismiss(const FoundBox& box);
  // Presses one of the box's buttons (IDYES, IDNO, ...).
  static void Answer(const FoundBox& box, int buttonId);
  // A key pressed in the box, on the control that has the focus, as the keyboard would.
  void PressKey(const FoundBox& box, UINT virtualKey) const;

 private:
  HWND dialog_;
  DWORD thread_;
};

// Runs body on a second thread while the calling thread runs modal (a dialog's DoModal), and
// joins it afterwards. The body gets the dialog's window once it exists.
class DriverThread {
 public:
  DriverThread(std::function<HWND()> window, std::function<void(DialogDriver&)> body);
  ~DriverThread();
  DriverThread(const DriverThread&) = delete;
  DriverThread& operator=(const DriverThread&) = delete;

 private:
  std::thread thread_;
};

}  // namespace kv5
