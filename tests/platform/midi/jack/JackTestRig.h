// What the JACK server tests share: a private server, the echo program as the far side in a
// process of its own, and the updater's ports on the JACK backend.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/midi/MidiBackend.h"
#include "platform/midi/jack/JackMidi.h"
#include "support/ChildProcess.h"
#include "support/DeviceLists.h"
#include "support/HostPorts.h"
#include "support/JackServer.h"

namespace kv5::test {

// A SysEx message of `length` bytes (at least 3) whose body depends on seed.
std::vector<uint8_t> MakeSysex(size_t length, uint32_t seed);

class JackRig : public ::testing::Test {
 protected:
  void SetUp() override;
  // Stops the server, then ends the echo program the gentle way.
  void TearDown() override;
  // Starts the echo program as the client `name`, with its bytes-per-cycle limit.
  void StartEcho(const std::string& name, size_t cycleByteLimit = 0);
  std::unique_ptr<MidiBackend> OpenHost(size_t cycleByteLimit = 0,
                                        const std::string& clientName = "kv5 host");

  // Declared first: it stops last, after the far side has gone.
  JackServer server_;
  ChildProcess echo_;
  std::string error_;
};

}  // namespace kv5::test
