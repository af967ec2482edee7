#include "ui/qt/SignalClose.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <iterator>

namespace kv5 {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler may only do async-signal-safe things: it writes one byte into the pipe, and the
// event loop does the rest.
volatile sig_atomic_t signalWriteFd = -1;

extern "C" void WriteSignalByte(int number) {
  const int saved = errno;
  const char byte = static_cast<char>(number);
  if (signalWriteFd >= 0) {
    const ssize_t written = ::write(signalWriteFd, &byte, 1);
    (void)written;  // a full pipe already holds a byte that closes the program
  }
  errno = saved;
}

}  // namespace

SignalClose::SignalClose() {
  if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
  signalWriteFd = pipe_[1];
  notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                   [this] { OnSignalled(); });
  struct sigaction action = {};
  action.sa_handler = WriteSignalByte;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    sigaction(kSignals[i], nullptr, &previous_[i]);
    if (previous_[i].sa_handler != SIG_IGN) sigaction(kSignals[i], &action, nullptr);
  }
}

SignalClose::~SignalClose() {
  if (notifier_) {
    for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &previous_[i], nullptr);
  }
  signalWriteFd = -1;
  notifier_.reset();
  for (int fd : pipe_)
    if (fd >= 0) ::close(fd);
}

void SignalClose::OnSignalled() {
  char bytes[16];
  while (::read(pipe_[0], bytes, sizeof bytes) > 0) {
  }
  // Every running event loop ends, the modal window's and any message box's above it, and no new
  // one starts: the window is then torn down as its close box tears it down (ports closed, a
  // running session aborted, its slot freed).
  QCoreApplication::exit(0);
}

}  // namespace kv5
