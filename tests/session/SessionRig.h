// Everything a session test needs around a worker: the exchange state, the received queue, the
// recording host, the scripted unit and the poller thread, wired together and torn down in
// order. Sessions run on the test's thread with a fast timing table.
#pragma once

#include <memory>

#include "PollerThread.h"
#include "RecordingHost.h"
#include "ScriptedUnit.h"
#include "protocol/SessionTiming.h"
#include "support/FastTiming.h"

namespace kv5::test {

// Every answer the unit gives at once is recorded before the worker waits (see TickNow), so the
// waits need not be long, and scripted silences pass quickly.
inline SessionTiming ScriptedTiming() {
  return FastTiming(100);
}

class SessionRig {
 public:
  explicit SessionRig(const SessionTiming& timing = ScriptedTiming())
      : host(state, timing), unit(queue, state, [this] { poller->Wake(); }) {
    host.Connect(
        [this](const uint8_t* bytes, uint32_t length) { return unit.Receive(bytes, length); },
        [this] { poller->TickNow(); });
    poller = std::make_unique<PollerThread>(queue, state, host);
  }
  ~SessionRig() { poller.reset(); }

  ExchangeState state;
  ReceivedSysexQueue queue;
  RecordingHost host;
  ScriptedUnit unit;
  std::unique_ptr<PollerThread> poller;
};

}  // namespace kv5::test
