// Finds the units on a MIDI system: the identity request of the sessions goes out on each MIDI
// OUT device in turn while every MIDI IN device listens, and each identity reply names a pair.
// Nothing else is sent. A device that cannot be opened (another program holds it) is skipped.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "platform/midi/MidiBackend.h"
#include "protocol/ProtocolMessages.h"

namespace kv5 {

struct ProbeAnswer {
  int inIndex = -1;
  int outIndex = -1;
  std::string inName;
  std::string outName;
  DeviceCodeBytes code{};
  bool accepted = false;  // the code is one of the package's accepted device codes
};

struct ProbeResult {
  std::vector<ProbeAnswer> answers;    // in the order of the OUT devices, then the IN devices
  std::vector<std::string> skippedIn;  // devices that could not be opened
  std::vector<std::string> skippedOut;
  int inCount = 0;
  int outCount = 0;

  // The answers whose device code the package accepts.
  std::vector<ProbeAnswer> Units() const;
};

constexpr std::chrono::milliseconds kProbeListenTime{300};

ProbeResult ProbeUnits(MidiBackend& midi, std::chrono::milliseconds listen = kProbeListenTime);

// "4D 00 12 00".
std::string FormatDeviceCode(const DeviceCodeBytes& code);
// The answers, one line each, accepted units first, and the skipped devices; says when nobody
// answered.
void PrintProbeResult(const ProbeResult& result, std::ostream& out);

}  // namespace kv5
