#include "tools/kv5update/Probe.h"

#include <cstdio>
#include <memory>
#include <thread>

#include "firmware/FirmwarePackage.h"
#include "midi/MidiInPort.h"
#include "midi/MidiOutPort.h"
#include "protocol/ReplyReaders.h"

namespace kv5 {
namespace {

// A reply comes within milliseconds; the queues are looked at this often meanwhile.
constexpr std::chrono::milliseconds kPollPeriod{2};
// A probe's request is six bytes: a device that has not taken them by then is not worth waiting.
constexpr uint32_t kProbeSendLimitMs = 1000;

bool Accepted(const DeviceCodeBytes& code) {
  for (const auto& entry : AcceptedDeviceCodes) {
    if (entry == code) return true;
  }
  return false;
}

struct Listener {
  std::unique_ptr<MidiInPort> port;
  std::string name;
  int index;
};

void Drain(MidiInPort& port) {
  while (port.PeekSysex() != nullptr) port.PopSysex();
}

}  // namespace

std::vector<ProbeAnswer> ProbeResult::Units() const {
  std::vector<ProbeAnswer> units;
  for (const ProbeAnswer& answer : answers) {
    if (answer.accepted) units.push_back(answer);
  }
  return units;
}

ProbeResult ProbeUnits(MidiBackend& midi, std::chrono::milliseconds listen) {
  ProbeResult result;
  char name[MidiInPort::kDeviceNameCapacity];

  std::vector<Listener> listeners;
  MidiInPort lister(midi.In());
  result.inCount = lister.GetDeviceCount();
  for (int i = 0; i < result.inCount; ++i) {
    lister.GetDeviceName(i, name);
    auto port = std::make_unique<MidiInPort>(midi.In());
    port->DeviceIndex = i;
    if (port->Open() != 1) {
      result.skippedIn.emplace_back(name);
      continue;
    }
    listeners.push_back({std::move(port), name, i});
  }

  MidiOutPort out(midi.Out(), kProbeSendLimitMs);
  result.outCount = out.GetDeviceCount();
  for (int o = 0; o < result.outCount && !listeners.empty(); ++o) {
    out.GetDeviceName(o, name);
    const std::string outName = name;
    if (out.Open(o) != 1) {
      result.skippedOut.push_back(outName);
      continue;
    }
    // Whatever arrived before this request is not an answer to it.
    for (Listener& each : listeners) Drain(*each.port);
    uint8_t request[kIdentityRequestLength];
    MidiHeader header;
    header.lpData = request;
    header.dwBufferLength = static_cast<uint32_t>(IdentityRequest(request));
    header.dwFlags = 0;
    if (out.SendLong(&header) == 1) {
      const auto end = std::chrono::steady_clock::now() + listen;
      while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(kPollPeriod);
        for (Listener& each : listeners) {
          while (const SysexEntry* entry = each.port->PeekSysex()) {
            DeviceCodeBytes code{};
            if (ReadIdentityReplyCode(entry->bytes.get(), entry->length, &code)) {
              result.answers.push_back({each.index, o, each.name, outName, code, Accepted(code)});
            }
            each.port->PopSysex();
          }
        }
      }
    }
    out.Close();
  }
  for (Listener& each : listeners) each.port->CloseIfOpen();
  return result;
}

std::string FormatDeviceCode(const DeviceCodeBytes& code) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X %02X %02X %02X", code[0], code[1], code[2], code[3]);
  return text;
}

void PrintProbeResult(const ProbeResult& result, std::ostream& out) {
  const std::vector<ProbeAnswer> units = result.Units();
  if (units.empty()) {
    out << "No unit answered (" << result.outCount << " MIDI OUT, " << result.inCount
        << " MIDI IN devices probed).\n";
  }
  for (const ProbeAnswer& unit : units) {
    out << "unit " << FormatDeviceCode(unit.code) << "  IN " << unit.inIndex << " \"" << unit.inName
        << "\"  OUT " << unit.outIndex << " \"" << unit.outName << "\"\n";
  }
  for (const ProbeAnswer& answer : result.answers) {
    if (answer.accepted) continue;
    out << "not a unit this package fits: device code " << FormatDeviceCode(answer.code) << "  IN "
        << answer.inIndex << " \"" << answer.inName << "\"  OUT " << answer.outIndex << " \""
        << answer.outName << "\"\n";
  }
  for (const std::string& name : result.skippedIn) {
    out << "skipped MIDI IN \"" << name << "\": it cannot be opened (in use?)\n";
  }
  for (const std::string& name : result.skippedOut) {
    out << "skipped MIDI OUT \"" << name << "\": it cannot be opened (in use?)\n";
  }
  out.flush();
}

}  // namespace kv5
