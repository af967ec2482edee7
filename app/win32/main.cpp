// kv5updater.exe: the updater window on Windows. It takes no arguments.
#include "app/CKv5UpdatorApp.h"
#include "app/win32/Win32Shell.h"

int main() {
  kv5::Win32Shell shell;
  kv5::CKv5UpdatorApp app;
  app.InitInstance(shell);
  return 0;
}
