// windows.h for the Win32 view, without the generic-name macros that would rename the system's
// own functions of the same names (DialogView::MessageBox, kv5::LoadString).
#pragma once

#include <windows.h>

#include <commctrl.h>

#undef MessageBox
#undef LoadString
