// kv5update: the updater's sessions on the command line.
#include <atomic>
#include <iostream>

#include "tools/kv5update/FrontEnd.h"
#include "tools/kv5update/Terminal.h"

int main(int argc, char** argv) {
  static std::atomic<int> interrupt{0};
  kv5::CatchInterrupts(interrupt);
  const bool terminal = kv5::StdoutIsTerminal();
  kv5::ConsoleStreams streams{std::cout, std::cerr, terminal, terminal ? kv5::TerminalWidth() : 80};
  return kv5::Kv5UpdateMain(argc, argv, streams, interrupt);
}
