// What the command line needs of the process's console: whether stdout is a terminal, how wide
// it is, and a note of the signal (Ctrl-C, SIGTERM) that asks the running session to end.
#pragma once

#include <atomic>

namespace kv5 {

bool StdoutIsTerminal();
// Columns of the terminal on stdout; 80 when it cannot be told.
int TerminalWidth();

// From now on SIGINT, SIGTERM and SIGHUP store their number in `received` instead of ending the
// process; a second one of them ends it at once. A closed stdout no longer ends the process.
void CatchInterrupts(std::atomic<int>& received);

}  // namespace kv5
