// The page's threads as the page relies on them: what a browser event wakes runs before that
// event's turn gives the page back (a hidden tab's slowed timers never stand between a reply and
// the next request), and a browser promise hands its value to the thread that waits for it.
#include <emscripten.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/event/web/BrowserPromise.h"
#include "platform/event/web/BrowserTurn.h"

namespace {

using namespace std::chrono_literals;

std::mutex lock;
std::condition_variable woken;
bool signalled = false;
std::atomic<bool> waiterRan{false};
std::atomic<int> turnsSeen{0};
std::atomic<bool> ranWithinTurn{false};

// Sleeps (in this test's own thread) until pred holds, at most limit.
template <typename Pred>
bool SleepUntil(Pred pred, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

}  // namespace

// Settles the ticket with value 30 ms later, in a turn of its own.
EM_JS(void, SettleLater, (int ticket, int value), {
  setTimeout(
      function() { Module._kv5_browser_settled(ticket, value); }, 30);
});

// A browser event (here a plain timer of Node's) whose turn signals the waiter.
extern "C" EMSCRIPTEN_KEEPALIVE void kv5_test_signal_turn() {
  kv5::RunBrowserTurn([] {
    {
      std::lock_guard<std::mutex> hold(lock);
      signalled = true;
    }
    woken.notify_one();
  });
  ranWithinTurn = waiterRan.load();
  ++turnsSeen;
}

TEST(BrowserThreads, AThreadWokenInATurnRunsBeforeTheTurnEnds) {
  std::thread waiter([] {
    std::unique_lock<std::mutex> hold(lock);
    woken.wait(hold, [] { return signalled; });
    waiterRan = true;
  });
  std::this_thread::sleep_for(10ms);  // the waiter is waiting by now
  EM_ASM(setTimeout(
      function() { Module._kv5_test_signal_turn(); }, 20));
  ASSERT_TRUE(SleepUntil([] { return turnsSeen.load() == 1; }, 5000ms));
  EXPECT_TRUE(ranWithinTurn.load());
  waiter.join();
}

TEST(BrowserThreads, APromiseSettledLaterWakesItsWaiterWithTheValue) {
  kv5::BrowserPromise promise;
  SettleLater(promise.Ticket(), 42);
  // The value comes only from the browser's timer, so having it means the wait lasted until then
  // (a bound on the elapsed time would flake: Node's timers count from the loop's cached clock).
  int value = 0;
  ASSERT_TRUE(promise.Wait(5000, &value));
  EXPECT_EQ(value, 42);

  kv5::BrowserPromise unsettled;
  EXPECT_FALSE(unsettled.Wait(50, &value));
}
