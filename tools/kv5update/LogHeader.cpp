#include "tools/kv5update/LogHeader.h"

#include <cstdio>
#include <ctime>

#include "firmware/FirmwarePackage.h"
#include "tools/kv5update/SessionLog.h"
#include "tools/kv5update/SystemDescription.h"

namespace kv5 {
namespace {

std::string HexBytes(const std::array<uint8_t, 4>& bytes) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X %02X %02X %02X", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

std::string LinkText(const LinkPacing& pacing) {
  if (!pacing.Enabled()) return "unpaced";
  std::string text = std::to_string(pacing.bytesPerSecond) + " B/s";
  if (pacing.perErase.count() != 0) {
    text += ", " + std::to_string(pacing.perErase.count() / 1000) + " ms an erase";
  }
  if (pacing.perWrite.count() != 0) {
    text += ", " + std::to_string(pacing.perWrite.count() / 1000) + " ms a write";
  }
  return text;
}

void LogVirtualUnit(SessionLog& log, const UnitConfig& unit) {
  log.Note("virtual unit: flash " + std::string(InitialFlashName(unit.initialFlash)) + ", " +
           (unit.updateMode ? "update" : "normal") + " mode, device code " +
           HexBytes(unit.deviceCode) + ", revision " + HexBytes(unit.revision) + ", link " +
           LinkText(unit.pacing));
  for (const Fault& fault : unit.faults.Faults()) {
    log.Note("virtual unit fault: " + DescribeFault(fault));
  }
  if (unit.faults.Empty()) log.Note("virtual unit fault: none");
}

}  // namespace

std::string QuotedCommandLine(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) {
    if (!line.empty()) line += ' ';
    // A backslash stays as typed: it is the separator of a Windows path.
    if (!word.empty() && word.find_first_of(" \t\"'$") == std::string::npos) {
      line += word;
      continue;
    }
    line += '"';
    for (char c : word) {
      if (c == '"' || c == '$') line += '\\';
      line += c;
    }
    line += '"';
  }
  return line;
}

void WriteLogHeader(SessionLog& log, const FrontEndOptions& options, const std::string& system) {
  log.Note("started " + LocalTimeText(std::time(nullptr)));
  log.Note(std::string("kv5update " KV5_VERSION " (") + PackageDescription() + ")");
  std::string stamps = "package stamps:";
  for (const StampLocation& stamp : StampLocations) {
    stamps += std::string(" ") + stamp.component + " " + stamp.packageStamp;
  }
  log.Note(stamps);
  log.Note("operating system: " + OperatingSystemText());
  log.Note("command line: " + QuotedCommandLine(options.commandLine));
  log.Note("MIDI system: " + system);
  if (options.backend == BackendChoice::Virtual) LogVirtualUnit(log, options.unit);
}

}  // namespace kv5
