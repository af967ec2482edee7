// What the JACK server tests share: a private server, the echo program as the far side in a
// process of its own, and the updater's ports on the JACK backend.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "midi/MidiInPort.h"
#include "midi/MidiOutPort.h"
#include "platform/midi/MidiBackend.h"
#include "platform/midi/jack/JackMidi.h"
#include "support/ChildProcess.h"
#include "support/JackServer.h"

namespace kv5::test {

// A SysEx message of `length` bytes (at least 3) whose body depends on seed.
std::vector<uint8_t> MakeSysex(size_t length, uint32_t seed);

// Index of the device named `name` in a list, or -1.
int FindInDevice(MidiInServices& services, const std::string& name);
int FindOutDevice(MidiOutServices& services, const std::string& name);
std::vector<std::string> InDeviceNames(MidiInServices& services);
std::vector<std::string> OutDeviceNames(MidiOutServices& services);

// The updater's two ports on one backend, opened on the devices of one name.
class HostLink {
 public:
  explicit HostLink(MidiBackend& backend, uint32_t completionLimitMs = 5000)
      : in_(backend.In()), out_(backend.Out(), completionLimitMs), backend_(backend) {}
  bool Open(const std::string& device);
  void Close();
  MidiInPort& In() { return in_; }
  MidiOutPort& Out() { return out_; }

  bool Send(std::vector<uint8_t>& message);
  // Entries are joined until one ends with F7; empty on timeout.
  std::vector<uint8_t> Receive(std::chrono::milliseconds limit);

 private:
  MidiInPort in_;
  MidiOutPort out_;
  MidiBackend& backend_;
};

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
