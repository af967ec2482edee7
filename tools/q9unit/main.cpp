// q9-unit: the virtual unit as a program. It publishes MIDI ports named "TELVOR Q9" on JACK or
// the ALSA sequencer, answers the update protocol until SIGINT or SIGTERM, and then reports what
// it received and whether its flash now holds the firmware package.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "platform/midi/SystemEndpoint.h"
#include "tools/q9unit/Q9UnitOptions.h"
#include "unit/VirtualUnit.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void RequestStop(int) {
  stopRequested = 1;
}

const char* SystemName(kv5::MidiSystem system) {
  switch (system) {
    case kv5::MidiSystem::Jack:
      return "jack";
    case kv5::MidiSystem::Alsa:
      return "alsa";
    default:
      return "auto";
  }
}

void PrintNewEntries(const kv5::VirtualUnit& unit, size_t* printed) {
  const auto transcript = unit.Transcript();
  for (; *printed < transcript.size(); ++*printed) {
    std::printf("%s\n", kv5::DescribeEntry(transcript[*printed]).c_str());
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  kv5::Q9UnitOptions options;
  if (const int status = kv5::ParseQ9UnitOptions(argc, argv, &options); status >= 0) {
    return status;
  }

  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);

  std::string error;
  auto endpoint = kv5::OpenSystemEndpoint(options.system, options.name, &error);
  if (!endpoint) {
    std::fprintf(stderr, "q9-unit: cannot publish \"%s\" (%s): %s\n", options.name.c_str(),
                 SystemName(options.system), error.c_str());
    return kv5::kQ9ExitNoMidi;
  }
  kv5::VirtualUnit unit(*endpoint, options.unit);
  unit.Start();

  std::printf("ready: \"%s\" on %s, flash %s, %s mode, device code %02X %02X %02X %02X\n",
              endpoint->Name().c_str(), SystemName(options.system),
              std::string(kv5::InitialFlashName(options.unit.initialFlash)).c_str(),
              options.unit.updateMode ? "update" : "normal", options.unit.deviceCode[0],
              options.unit.deviceCode[1], options.unit.deviceCode[2], options.unit.deviceCode[3]);
  for (const kv5::Fault& fault : options.unit.faults.Faults()) {
    std::printf("fault: %s\n", kv5::DescribeFault(fault).c_str());
  }
  std::fflush(stdout);

  size_t printed = 0;
  while (!stopRequested) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (options.verbose) PrintNewEntries(unit, &printed);
  }

  unit.Stop();
  if (options.verbose) PrintNewEntries(unit, &printed);
  if (options.transcript) {
    for (const auto& entry : unit.Transcript()) {
      std::printf("%s\n", kv5::DescribeEntry(entry).c_str());
    }
  }
  std::printf("%s", unit.Summary().c_str());
  const kv5::PackageVerification verification = unit.VerifyPackage(options.verifySource);
  std::printf("flash verification: %s: %s\n", verification.ok ? "OK" : "FAILED",
              verification.message.c_str());
  std::fflush(stdout);
  if (options.verifyExitCode && !verification.ok) return kv5::kQ9ExitNotVerified;
  return kv5::kQ9ExitOk;
}
