// The JACK backend's tunables, in one place.
#pragma once

#include <cstddef>
#include <string>

namespace kv5 {

struct JackConfig {
  // The host side's client name; the server appends "-01", "-02", ... when it is taken. Clients
  // of that name (other copies of the updater) are left out of the lists.
  std::string clientName = "TELVOR Q9 Updater";
  // How long an open waits for its connection to be in place in the running graph.
  int connectTimeoutMs = 2000;
  // The most bytes an output port writes into one process cycle; 0 for as many as its buffer
  // holds. A message longer than that travels in pieces over consecutive cycles.
  size_t cycleByteLimit = 0;
  // Towards a sound card behind a bridge (jackd's raw MIDI bridge, a2jmidid), whose buffers drop
  // what does not fit: the most bytes on their way to the card at once (every buffer on the way
  // holds 4096), and how often the kernel's count of what the card took is read meanwhile.
  size_t bridgeInFlightBytes = 2048;
  int bridgeRecheckUs = 500;
  // The most bytes a cycle hands such a bridge: jackd's raw MIDI bridge (1.9.21) was seen to
  // change bytes of events of 64 bytes and more, never of 32 (it takes some 3 bytes a wake-up).
  size_t bridgeCycleBytes = 32;
  // Messages one output port holds queued for the process callback.
  size_t outputQueueLength = 256;
  // Bytes an input port's ring holds between the process callback and its reader thread.
  size_t inputRingBytes = 1u << 20;
  // The longest an endpoint's send waits for its message to be written into the cycles.
  int endpointSendLimitMs = 5000;
  // How often the device observer looks at the open devices when no notice came.
  int observerIntervalMs = 500;
  // A set of per-device locks apart from the updater's own (tests); empty for the updater's.
  std::string lockSpace;
};

}  // namespace kv5
