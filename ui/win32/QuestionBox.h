// A question box from the question template: warning icon, text, Yes and No. No is the default
// button and has the focus, so Enter answers No; Escape and the close box answer No as well
// (which a message box with Yes and No alone would not allow).
#pragma once

#include <string>

#include "ui/win32/Win32.h"

namespace kv5 {

// Modal, owned by owner; true when the user chose Yes.
bool RunQuestionBox(HWND owner, const std::string& text, const std::string& caption);

}  // namespace kv5
