#include "ui/win32/QuestionBox.h"

#include "ui/win32/Resource.h"

namespace kv5 {
namespace {

struct Question {
  const std::string* text;
  const std::string* caption;
};

INT_PTR CALLBACK QuestionProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const auto* question = reinterpret_cast<const Question*>(lParam);
      SetWindowTextA(box, question->caption->c_str());
      SetDlgItemTextA(box, IDC_QUESTION_TEXT, question->text->c_str());
      SendDlgItemMessageA(box, IDC_QUESTION_ICON, STM_SETICON,
                          reinterpret_cast<WPARAM>(LoadIconA(nullptr, IDI_WARNING)), 0);
      SetFocus(GetDlgItem(box, IDNO));
      return FALSE;  // the focus is set
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDYES:
          EndDialog(box, IDYES);
          return TRUE;
        case IDNO:
        case IDCANCEL:  // Escape and the close box
          EndDialog(box, IDNO);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

}  // namespace

bool RunQuestionBox(HWND owner, const std::string& text, const std::string& caption) {
  Question question{&text, &caption};
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_QUESTION), owner,
                         &QuestionProc, reinterpret_cast<LPARAM>(&question)) == IDYES;
}

}  // namespace kv5
