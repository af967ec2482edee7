// A blocking call that a signal may end, run so that it ends soon. Closing a sound card's raw
// MIDI output whose card has gone (a USB cable pulled) waits in the kernel for up to ten seconds
// for the driver to take the bytes still buffered, which it never will; that wait ends early when
// a signal comes to the closing thread.
#pragma once

#include <chrono>
#include <functional>

namespace kv5 {

// Runs call on a thread of its own and sends that thread a signal (with a handler that does
// nothing) every interval until call returns; returns after it. The signal is SIGURG, whose
// handler this installs once when the program has none of its own.
void RunInterruptibly(const std::function<void()>& call,
                      std::chrono::milliseconds interval = std::chrono::milliseconds(20));

}  // namespace kv5
