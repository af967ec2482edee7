// How a header becomes done and how its owner waits for that: one notice for the process, so a
// send returns within microseconds of its bytes leaving instead of at the next poll.
#include "platform/midi/MidiServices.h"

#include <condition_variable>
#include <mutex>
#include <new>

namespace kv5 {
namespace {

// One notice for the whole process: a header may be gone the moment its done bit is set, so
// nothing that wakes its waiter can live in it. Waiters on other headers wake in vain and wait
// again; a process has a port or two sending at a time.
struct DoneNotice {
  std::mutex lock;
  std::condition_variable changed;
  std::atomic<int> waiting{0};
};

// Never destroyed: a backend that a static object owns may still mark headers done while the
// process exits, after the statics of this file would have gone.
DoneNotice& Notice() {
  alignas(DoneNotice) static unsigned char storage[sizeof(DoneNotice)];
  static DoneNotice* const notice = ::new (storage) DoneNotice;
  return *notice;
}

}  // namespace

void MarkHeaderDone(std::atomic<uint32_t>& flags) {
  DoneNotice& notice = Notice();
  uint32_t old = flags.load();
  while (!flags.compare_exchange_weak(old, (old & ~MHDR_INQUEUE) | MHDR_DONE)) {
  }
  // Sequentially consistent on both sides: a waiter that registered too late to be seen here
  // reads the done bit when it checks the flags.
  if (notice.waiting.load() == 0) return;
  // Taking the lock orders this notification after the check of a waiter that is about to
  // sleep, so the wake-up cannot fall between its check and its wait.
  { std::lock_guard<std::mutex> hold(notice.lock); }
  notice.changed.notify_all();
}

bool WaitHeaderDone(const std::atomic<uint32_t>& flags, std::chrono::milliseconds limit) {
  if (flags.load() & MHDR_DONE) return true;
  DoneNotice& notice = Notice();
  const auto deadline = std::chrono::steady_clock::now() + limit;
  notice.waiting.fetch_add(1);
  bool done;
  {
    std::unique_lock<std::mutex> hold(notice.lock);
    done =
        notice.changed.wait_until(hold, deadline, [&] { return (flags.load() & MHDR_DONE) != 0; });
  }
  notice.waiting.fetch_sub(1);
  return done;
}

}  // namespace kv5
