// kv5updater: the updater window. It takes no arguments; the toolkit's own options are left to
// the toolkit. The help key has nothing to show: every text the program has is in its window.
// Asked to stop by a signal, it closes as its close box closes it and returns 0.
#include "app/CKv5UpdatorApp.h"
#include "app/QtAppShell.h"
#include "ui/qt/QtToolkit.h"

int main(int argc, char** argv) {
  kv5::QtToolkit toolkit(argc, argv);
  toolkit.CloseOnTerminationSignals();
  kv5::QtAppShell shell(toolkit);
  kv5::CKv5UpdatorApp app;
  app.InitInstance(shell);
  return 0;
}
