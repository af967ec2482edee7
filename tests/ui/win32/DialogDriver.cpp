#include "DialogDriver.h"

#include <utility>

namespace kv5 {
namespace {

std::string WindowText(HWND window) {
  char text[1024] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string ClassOf(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// The text of a message box sits in a static of id 0xFFFF; its picture in an icon static.
constexpr int kBoxTextId = 0xFFFF;

HICON BoxIcon(HWND box) {
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (ClassOf(child) == "Static" &&
        (GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
      return reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
  }
  return nullptr;
}

}  // namespace

DialogDriver::DialogDriver(HWND dialog)
    : dialog_(dialog), thread_(GetWindowThreadProcessId(dialog, nullptr)) {}

std::string DialogDriver::Text(int id) const {
  return WindowText(Control(id));
}

std::string DialogDriver::Title() const {
  return WindowText(dialog_);
}

bool DialogDriver::Enabled(int id) const {
  return IsWindowEnabled(Control(id)) != 0;
}

std::string DialogDriver::ControlState() const {
  auto on = [&](int id) { return Enabled(id) ? '1' : '0'; };
  std::string state;
  state += on(1000);
  state += on(1001);
  state += ' ';
  state += on(1);
  state += on(1007);
  state += ' ';
  state += on(1004);
  state += ' ';
  state += on(2);
  return state;
}

std::vector<std::string> DialogDriver::ListEntries(int id) const {
  std::vector<std::string> entries;
  const int count = static_cast<int>(SendMessageA(Control(id), CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    char text[256] = {};
    SendMessageA(Control(id), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    entries.push_back(text);
  }
  return entries;
}

int DialogDriver::Selection(int id) const {
  return static_cast<int>(SendMessageA(Control(id), CB_GETCURSEL, 0, 0));
}

HWND DialogDriver::Focus() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(thread_, &info) ? info.hwndFocus : nullptr;
}

void DialogDriver::Click(int id) const {
  PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(Control(id)));
}

void DialogDriver::Post(UINT message, WPARAM wParam, LPARAM lParam) const {
  PostMessageA(dialog_, message, wParam, lParam);
}

bool DialogDriver::WaitUntil(const std::function<bool()>& condition,
                             std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::vector<HWND> DialogDriver::OtherWindows(const char* className) const {
  struct Search {
    HWND dialog;
    std::string className;
    std::vector<HWND> found;
  } search{dialog_, className, {}};
  EnumThreadWindows(
      thread_,
      [](HWND window, LPARAM context) -> BOOL {
        auto* search = reinterpret_cast<Search*>(context);
        if (window != search->dialog && IsWindowVisible(window) &&
            ClassOf(window) == search->className)
          search->found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool DialogDriver::WaitForBox(const std::string& caption, std::chrono::milliseconds limit,
                              FoundBox* box) const {
  return WaitUntil(
      [&] {
        for (HWND window : OtherWindows("#32770")) {
          if (WindowText(window) != caption) continue;
          box->window = window;
          box->caption = caption;
          HWND text = GetDlgItem(window, kBoxTextId);
          box->text = text != nullptr ? WindowText(text) : std::string();
          // A box of the program's own template: its first static text that is no icon.
          for (HWND child = GetWindow(window, GW_CHILD); box->text.empty() && child != nullptr;
               child = GetWindow(child, GW_HWNDNEXT)) {
            if (ClassOf(child) == "Static" &&
                (GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
              box->text = WindowText(child);
          }
          box->icon = BoxIcon(window);
          box->buttons.clear();
          for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
               child = GetWindow(child, GW_HWNDNEXT)) {
            if (ClassOf(child) == "Button" && IsWindowVisible(child))
              box->buttons.push_back(WindowText(child));
          }
          return true;
        }
        return false;
      },
      limit);
}

void DialogDriver::Dismiss(const FoundBox& box) {
  Answer(box, IDOK);
}

void DialogDriver::Answer(const FoundBox& box, int buttonId) {
  PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box.window, buttonId)));
}

void DialogDriver::PressKey(const FoundBox& box, UINT virtualKey) const {
  HWND target = Focus();
  if (target == nullptr || (target != box.window && !IsChild(box.window, target)))
    target = box.window;
  PostMessageA(target, WM_KEYDOWN, virtualKey, 1);
  PostMessageA(target, WM_KEYUP, virtualKey, 1 | (1u << 30) | (1u << 31));
}

DriverThread::DriverThread(std::function<HWND()> window, std::function<void(DialogDriver&)> body)
    : thread_([window = std::move(window), body = std::move(body)] {
        HWND dialog = nullptr;
        DialogDriver::WaitUntil(
            [&] {
              dialog = window();
              return dialog != nullptr && IsWindowVisible(dialog);
            },
            std::chrono::seconds(30));
        if (dialog == nullptr) return;
        DialogDriver driver(dialog);
        body(driver);
      }) {}

DriverThread::~DriverThread() {
  thread_.join();
}

}  // namespace kv5
