// The About box (template 100): the icon, the maker's notice, the product name and OK.
#pragma once

#include "ui/win32/Win32.h"

namespace kv5 {

// Runs the box modally over its owner; returns when it was closed.
void RunAboutBox(HWND owner);

}  // namespace kv5
