// A browser operation that settles later (a promise: a port opening, a lock being granted), waited
// for by one of the page's threads as a blocking call waits. The thread starts the operation with
// the promise's ticket; the browser's side settles the ticket with a number, in a turn of its own
// (kv5Settle in browser-turn.js), and the waiting thread goes on.
#pragma once

#include <cstdint>

namespace kv5 {

class BrowserPromise {
 public:
  BrowserPromise();
  ~BrowserPromise();
  BrowserPromise(const BrowserPromise&) = delete;
  BrowserPromise& operator=(const BrowserPromise&) = delete;

  // What the browser's side settles; a settlement for a promise already gone is dropped.
  int Ticket() const { return ticket_; }
  // Waits until settled, at most limitMs: true with the value, false when the limit passed.
  // Only a thread may wait; the browser's own context cannot wait for the browser.
  bool Wait(uint32_t limitMs, int* value);

 private:
  const int ticket_;
};

}  // namespace kv5
