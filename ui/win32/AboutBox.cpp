#include "ui/win32/AboutBox.h"

#include "ui/InstanceNames.h"
#include "ui/win32/Resource.h"

namespace kv5 {
namespace {

INT_PTR CALLBACK AboutProc(HWND box, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      // The same text for every instance: the product, not the slot.
      SetDlgItemTextA(box, IDC_EDIT_PRODUCT, kProductTitle);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(box, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

void RunAboutBox(HWND owner) {
  DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUTBOX), owner, &AboutProc, 0);
}

}  // namespace kv5
