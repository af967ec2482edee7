#include "tools/kv5update/Terminal.h"

#include <csignal>

#ifdef _WIN32
#include <io.h>
#include <stdio.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace kv5 {
namespace {

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free int");
std::atomic<int>* g_received = nullptr;

extern "C" void NoteSignal(int number) {
  if (g_received) g_received->store(number);
#ifdef _WIN32
  // The first signal asks for an orderly end; should that hang, the next one ends the process.
  std::signal(number, SIG_DFL);
#endif
}

}  // namespace

#ifdef _WIN32

bool StdoutIsTerminal() {
  return _isatty(_fileno(stdout)) != 0;
}

int TerminalWidth() {
  return 80;
}

void CatchInterrupts(std::atomic<int>& received) {
  g_received = &received;
  for (int number : {SIGINT, SIGTERM}) std::signal(number, NoteSignal);
}

#else

bool StdoutIsTerminal() {
  return isatty(STDOUT_FILENO) == 1;
}

int TerminalWidth() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

void CatchInterrupts(std::atomic<int>& received) {
  g_received = &received;
  struct sigaction action {};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  // The first signal asks for an orderly end; should that hang, the next one ends the process.
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaction(number, &action, nullptr);
  // An update is not cut short because whoever read its output went away.
  signal(SIGPIPE, SIG_IGN);
}

#endif

}  // namespace kv5
