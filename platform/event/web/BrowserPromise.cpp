#include "platform/event/web/BrowserPromise.h"

#include <emscripten.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>

#include "platform/event/web/BrowserTurn.h"

namespace kv5 {
namespace {

struct Settlements {
  std::mutex lock;
  std::condition_variable settled;
  std::map<int, std::optional<int>> values;  // by ticket; empty until settled
  int nextTicket = 1;
};

Settlements& Table() {
  static auto* const table = new Settlements;
  return *table;
}

int NewTicket() {
  Settlements& table = Table();
  std::lock_guard<std::mutex> hold(table.lock);
  const int ticket = table.nextTicket++;
  table.values[ticket];
  return ticket;
}

}  // namespace

BrowserPromise::BrowserPromise() : ticket_(NewTicket()) {}

BrowserPromise::~BrowserPromise() {
  Settlements& table = Table();
  std::lock_guard<std::mutex> hold(table.lock);
  table.values.erase(ticket_);
}

bool BrowserPromise::Wait(uint32_t limitMs, int* value) {
  Settlements& table = Table();
  std::unique_lock<std::mutex> hold(table.lock);
  std::optional<int>& slot = table.values[ticket_];
  if (!table.settled.wait_for(hold, std::chrono::milliseconds(limitMs),
                              [&] { return slot.has_value(); }))
    return false;
  *value = *slot;
  return true;
}

}  // namespace kv5

extern "C" EMSCRIPTEN_KEEPALIVE void kv5_browser_settled(int ticket, int value) {
  kv5::RunBrowserTurn([ticket, value] {
    kv5::Settlements& table = kv5::Table();
    {
      std::lock_guard<std::mutex> hold(table.lock);
      auto found = table.values.find(ticket);
      if (found == table.values.end()) return;
      found->second = value;
    }
    table.settled.notify_all();
  });
}
