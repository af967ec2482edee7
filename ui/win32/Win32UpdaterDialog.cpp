#include "ui/win32/Win32UpdaterDialog.h"

#include "ui/win32/Resource.h"

namespace kv5 {

static_assert(IDC_COMBO_MIDI_IN == IDC_IN_DEVICE_LIST &&
                  IDC_COMBO_MIDI_OUT == IDC_OUT_DEVICE_LIST && IDC_PROGRESS_BAR == IDC_PROGRESS &&
                  IDC_EDIT_STATUS == IDC_STATUS_LINE && IDC_BUTTON_RESCAN == IDC_RESCAN &&
                  IDC_PICTURE_STATIC == IDC_PICTURE && IDC_EDIT_STEP == IDC_STEP_COUNTER &&
                  IDC_BUTTON_VERSION_CHECK == IDC_VERSION_CHECK && IDOK == IDC_EXECUTE &&
                  IDCANCEL == IDC_EXIT,
              "the resource script and the dialog logic name the same controls");

Win32UpdaterDialog::Win32UpdaterDialog(MidiBackend& midi, TimerServices& timer, int instanceIndex,
                                       const SessionTiming& timing, uint32_t completionLimitMs)
    : appIcon_(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME))),
      logic_(view_, midi, timer, instanceIndex, timing, completionLimitMs) {}

Win32UpdaterDialog::~Win32UpdaterDialog() = default;

INT_PTR Win32UpdaterDialog::DoModal() {
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_KV5UPDATOR_DIALOG),
                         nullptr, &Win32UpdaterDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK Win32UpdaterDialog::DialogProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrA(window, DWLP_USER, lParam);
  auto* dialog = reinterpret_cast<Win32UpdaterDialog*>(GetWindowLongPtrA(window, DWLP_USER));
  if (dialog == nullptr) return FALSE;
  return dialog->OnMessage(window, message, wParam, lParam);
}

INT_PTR Win32UpdaterDialog::OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      view_.Attach(window);
      SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon_));
      SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(appIcon_));
      logic_.OnInitDialog();
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) != IDM_ABOUTBOX) return FALSE;
      logic_.OnSysCommand(static_cast<uint32_t>(wParam));
      return TRUE;
    case WM_PAINT:
      return OnPaint(window) ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(appIcon_);
    case WM_COMMAND:
      OnCommand(window, LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_DESTROY:
      // Ports closed, the session aborted and its worker joined while the controls still exist.
      logic_.OnDestroy();
      return FALSE;
    case WM_NCDESTROY:
      view_.Detach();
      SetWindowLongPtrA(window, DWLP_USER, 0);
      return FALSE;
    case kRunCallMessage:
      Win32DialogView::RunPostedCall(lParam);
      return TRUE;
    default:
      return FALSE;
  }
}

void Win32UpdaterDialog::OnCommand(HWND window, int id, int notification) {
  if (notification != BN_CLICKED) return;
  switch (id) {
    case IDOK:  // the Execute button, and the dialog's OK command (Enter)
      logic_.OnExecute();
      break;
    case IDC_BUTTON_RESCAN:
      logic_.OnRescanDevice();
      break;
    case IDC_BUTTON_VERSION_CHECK:
      logic_.OnVersionCheck();
      break;
    case IDCANCEL:  // Exit, Escape and the close box
      EndDialog(window, IDCANCEL);
      break;
    default:
      break;
  }
}

bool Win32UpdaterDialog::OnPaint(HWND window) {
  if (!IsIconic(window)) return false;
  // Minimised: the icon centred in the client area.
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  const int width = GetSystemMetrics(SM_CXICON);
  const int height = GetSystemMetrics(SM_CYICON);
  RECT client;
  GetClientRect(window, &client);
  const int x = (client.right - client.left - width + 1) / 2;
  const int y = (client.bottom - client.top - height + 1) / 2;
  DrawIcon(dc, x, y, appIcon_);
  EndPaint(window, &paint);
  return true;
}

}  // namespace kv5
