// kv5update: the updater's sessions on the command line.
#include <atomic>
#include <iostream>

#include "tools/kv5update/FrontEnd.h"
#include "tools/kv5update/Terminal.h"

#ifdef _WIN32
#include "platform/midi/winmm/ProcessEnd.h"
#endif

int main(int argc, char** argv) {
  static std::atomic<int> interrupt{0};
  kv5::CatchInterrupts(interrupt);
  const bool terminal = kv5::StdoutIsTerminal();
  kv5::ConsoleStreams streams{std::cout, std::cerr, terminal, terminal ? kv5::TerminalWidth() : 80};
  const int status = kv5::Kv5UpdateMain(argc, argv, streams, interrupt);
#ifdef _WIN32
  // Every MIDI handle is closed by now; the status must not be lost to a crash of the MIDI
  // driver while the process unloads it (see ProcessEnd.h).
  kv5::EndProcessKeepingStatus(status);
#endif
  return status;
}
