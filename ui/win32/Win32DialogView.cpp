#include "ui/win32/Win32DialogView.h"

#include <memory>
#include <vector>

#include "ui/win32/AboutBox.h"
#include "ui/win32/QuestionBox.h"

namespace kv5 {
namespace {

using PostedCall = std::function<void()>;

UINT IconStyle(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Error:
      return MB_ICONERROR;
    case MessageIcon::Information:
      return MB_ICONINFORMATION;
    case MessageIcon::Exclamation:
      return MB_ICONEXCLAMATION;
  }
  return 0;
}

}  // namespace

Win32DialogView::Win32DialogView() : uiThread_(GetCurrentThreadId()) {}

Win32DialogView::~Win32DialogView() {
  Detach();
}

void Win32DialogView::Attach(HWND dialog) {
  std::lock_guard<std::mutex> hold(lock_);
  window_ = dialog;
  uiThread_ = GetCurrentThreadId();
}

void Win32DialogView::Detach() {
  HWND window = nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    window = window_;
    window_ = nullptr;
  }
  if (window == nullptr) return;
  // Nothing can be posted any more; what is queued still owns its call and is dropped here.
  MSG message;
  while (PeekMessageA(&message, window, kRunCallMessage, kRunCallMessage, PM_REMOVE))
    std::unique_ptr<PostedCall> dropped(reinterpret_cast<PostedCall*>(message.lParam));
}

HWND Win32DialogView::Window() const {
  std::lock_guard<std::mutex> hold(lock_);
  return window_;
}

void Win32DialogView::RunPostedCall(LPARAM call) {
  std::unique_ptr<PostedCall> owned(reinterpret_cast<PostedCall*>(call));
  (*owned)();
}

HWND Win32DialogView::Control(int id) const {
  return GetDlgItem(Window(), id);
}

void Win32DialogView::SetWindowTitle(const std::string& title) {
  SetWindowTextA(Window(), title.c_str());
}

void Win32DialogView::AppendAboutMenuEntry(uint32_t command, const std::string& text) {
  HMENU menu = GetSystemMenu(Window(), FALSE);
  if (menu == nullptr) return;
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING, command, text.c_str());
}

void Win32DialogView::ShowAboutBox() {
  RunAboutBox(Window());
}

void Win32DialogView::EnableControl(int id, bool enable) {
  HWND control = Control(id);
  // A disabled control keeps the keyboard focus, and then no key reaches the dialog: the focus
  // moves to Exit, which stays enabled while a session runs.
  HWND focus = GetFocus();
  if (!enable && focus != nullptr && (focus == control || IsChild(control, focus)))
    SendMessageA(Window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Control(IDC_EXIT)), TRUE);
  EnableWindow(control, enable ? TRUE : FALSE);
}

bool Win32DialogView::IsControlEnabled(int id) const {
  return IsWindowEnabled(Control(id)) != 0;
}

void Win32DialogView::SetControlText(int id, const std::string& text) {
  SetDlgItemTextA(Window(), id, text.c_str());
}

void Win32DialogView::ResetContent(int listId) {
  SendMessageA(Control(listId), CB_RESETCONTENT, 0, 0);
}

void Win32DialogView::AddString(int listId, const std::string& text) {
  SendMessageA(Control(listId), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

int Win32DialogView::GetCount(int listId) const {
  return static_cast<int>(SendMessageA(Control(listId), CB_GETCOUNT, 0, 0));
}

std::string Win32DialogView::GetLBText(int listId, int index) const {
  HWND list = Control(listId);
  const LRESULT length = SendMessageA(list, CB_GETLBTEXTLEN, index, 0);
  if (length == CB_ERR) return {};
  std::vector<char> text(static_cast<size_t>(length) + 1, '\0');
  SendMessageA(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  return text.data();
}

void Win32DialogView::SetCurSel(int listId, int index) {
  SendMessageA(Control(listId), CB_SETCURSEL, index, 0);
}

int Win32DialogView::GetCurSel(int listId) const {
  return static_cast<int>(SendMessageA(Control(listId), CB_GETCURSEL, 0, 0));
}

void Win32DialogView::SetProgressRange32(int32_t lower, int32_t upper) {
  SendMessageA(Control(IDC_PROGRESS), PBM_SETRANGE32, lower, upper);
}

void Win32DialogView::SetProgressPos(int32_t position) {
  SendMessageA(Control(IDC_PROGRESS), PBM_SETPOS, position, 0);
}

void Win32DialogView::MessageBox(const std::string& text, const std::string& caption,
                                 MessageIcon icon, const std::string& detail) {
  std::string shown = text;
  if (!detail.empty()) shown.append("\n\n").append(detail);
  MessageBoxA(Window(), shown.c_str(), caption.c_str(), MB_OK | IconStyle(icon));
}

bool Win32DialogView::AskYesNo(const std::string& text, const std::string& caption) {
  return RunQuestionBox(Window(), text, caption);
}

void Win32DialogView::PostToUiThread(std::function<void()> call) {
  auto owned = std::make_unique<PostedCall>(std::move(call));
  std::lock_guard<std::mutex> hold(lock_);
  if (window_ == nullptr) return;
  if (PostMessageA(window_, kRunCallMessage, 0, reinterpret_cast<LPARAM>(owned.get())))
    static_cast<void>(owned.release());  // the message owns it now
}

bool Win32DialogView::OnUiThread() const {
  std::lock_guard<std::mutex> hold(lock_);
  return GetCurrentThreadId() == uiThread_;
}

}  // namespace kv5
