// The page has one thread: the browser's. The program's own threads (a session's worker, the
// input's delivery, the timer) run on it as fibers that take turns: one runs until it waits, and
// its wait hands the page to the next. Every entry from the browser (a MIDI message, a click, a
// timer that ran out) is one turn: its call runs on the browser's own context, then every thread
// it made ready, until all of them wait again; only then does the page go back to the browser.
#pragma once

#include <functional>

namespace kv5 {

// Runs call as one turn. Entries from the browser come here; a turn never starts inside another.
void RunBrowserTurn(const std::function<void()>& call);

// Ends the page's program with the exit code (a test program under Node), once its output is out.
[[noreturn]] void EndBrowserProgram(int code);

}  // namespace kv5
