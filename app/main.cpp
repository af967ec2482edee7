// kv5updater: the updater window. It takes no arguments of its own but --help and --version,
// answered without opening a window; the toolkit's own options are left to the toolkit. Asked to
// stop by a signal, it closes as its close box closes it and returns 0.
#include <iostream>

#include "app/CKv5UpdatorApp.h"
#include "app/InformationArguments.h"
#include "app/QtAppShell.h"
#include "ui/qt/QtToolkit.h"

int main(int argc, char** argv) {
  if (const auto status = kv5::AnswerInformationArguments(argc, argv, std::cout)) return *status;
  kv5::QtToolkit toolkit(argc, argv);
  toolkit.CloseOnTerminationSignals();
  kv5::QtAppShell shell(toolkit);
  kv5::CKv5UpdatorApp app;
  app.InitInstance(shell);
  return 0;
}
