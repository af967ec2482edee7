// Helpers of the tests that run against the kernel's sequencer inside the test machine.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/MidiInPort.h"
#include "platform/midi/MidiEndpoint.h"
#include "platform/midi/MidiServices.h"
#include "support/DeviceLists.h"

namespace kv5::guest {

using Bytes = std::vector<uint8_t>;

// Every wait of these tests ends after this long: a lost message fails its test, not the run.
constexpr int kWaitLimitMs = 10000;

// F0, size - 2 data bytes in a pattern that differs per seed, F7.
Bytes MakeSysex(size_t size, uint8_t seed);

using test::DeviceNames;
using test::IndexOf;
// The first entry that starts with prefix, or "".
std::string FirstStartingWith(const std::vector<std::string>& names, const std::string& prefix);

// Drives an input device through the services as the input port does: one buffer of the given
// size, handed back to the device after each message (unless told otherwise); records every
// buffer the device hands back.
class InputCollector {
 public:
  InputCollector(MidiInServices& services, uint32_t bufferSize);
  ~InputCollector();

  MidiResult Open(uint32_t device);
  MidiResult Close();
  void SetRequeue(bool requeue);
  // Waits until the recorded buffers hold at least total bytes.
  bool WaitForBytes(size_t total);
  // The non-empty buffers handed back, in order.
  std::vector<Bytes> Entries();
  Bytes Joined();
  int EmptyHandBacks();

  MidiInHandle Handle() const { return handle_; }
  MidiHeader& Header() { return header_; }

 private:
  static void Callback(MidiInHandle device, uint32_t message, uintptr_t instance, uintptr_t param1,
                       uintptr_t param2);
  void OnInput(uint32_t message, MidiHeader* header);

  MidiInServices& services_;
  std::unique_ptr<uint8_t[]> buffer_;
  MidiHeader header_;
  MidiInHandle handle_ = 0;
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<Bytes> entries_;
  size_t total_ = 0;
  int emptyHandBacks_ = 0;
  bool requeue_ = true;
};

// Collects what an endpoint receives.
class EndpointInbox {
 public:
  explicit EndpointInbox(MidiEndpoint& endpoint);
  // Takes the receiver back: no call into the inbox follows.
  ~EndpointInbox();
  // Waits for the next message; empty when none came in time.
  Bytes Next();

 private:
  MidiEndpoint& endpoint_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<Bytes> messages_;
  size_t taken_ = 0;
};

// Pops entries of an input port until they hold total bytes or the wait limit passes.
std::vector<Bytes> DrainPort(MidiInPort& port, size_t total);
Bytes Join(const std::vector<Bytes>& entries);

}  // namespace kv5::guest
