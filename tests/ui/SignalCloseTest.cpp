// A stop signal ends the window and any box above it, as the close box would, on the offscreen
// platform; the program's earlier signal dispositions come back afterwards.
#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>

#include "ui/qt/SignalClose.h"

namespace kv5 {
namespace {

void (*Disposition(int number))(int) {
  struct sigaction now = {};
  sigaction(number, nullptr, &now);
  return now.sa_handler;
}

TEST(SignalClose, SigtermEndsEveryModalLoopAndIgnoredSignalsStayIgnored) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int argc = 1;
  char name[] = "ui_signal_close_tests";
  char* argv[] = {name, nullptr};
  QApplication application(argc, argv);
  signal(SIGINT, SIG_IGN);  // as a shell starts a background job

  bool boxEnded = false;
  bool windowEnded = false;
  {
    SignalClose close;
    EXPECT_EQ(Disposition(SIGINT), SIG_IGN);
    EXPECT_NE(Disposition(SIGTERM), SIG_DFL);

    QDialog window;
    QTimer::singleShot(0, &window, [&] {
      QMessageBox box(QMessageBox::Warning, "Error", "a box above the window", QMessageBox::Ok,
                      &window);
      QTimer::singleShot(0, &box, [] { raise(SIGTERM); });
      box.exec();
      boxEnded = true;
    });
    // A test that fails would hang here: the watchdog ends the window and reports it.
    bool watchdog = false;
    QTimer::singleShot(20000, &window, [&] {
      watchdog = true;
      QCoreApplication::exit(1);
    });
    window.exec();
    windowEnded = !watchdog;
  }
  EXPECT_TRUE(boxEnded);
  EXPECT_TRUE(windowEnded);
  EXPECT_EQ(Disposition(SIGTERM), SIG_DFL);
  EXPECT_EQ(Disposition(SIGINT), SIG_IGN);
  signal(SIGINT, SIG_DFL);
}

}  // namespace
}  // namespace kv5
