#include "tools/kv5update/RunResults.h"

#include <cstdio>

#include "firmware/FirmwarePackage.h"
#include "tools/kv5update/Json.h"

namespace kv5 {
namespace {

const char* CommandWord(Command command) {
  for (const auto& [listed, word] : kCommandWords) {
    if (listed == command) return word;
  }
  return "";
}

std::string OrNull(const std::string& text) {
  return text.empty() ? json::Null() : json::String(text);
}

std::string DeviceArray(const ListedDevices& devices) {
  std::vector<std::string> entries;
  for (size_t i = 0; i < devices.entries.size(); ++i) {
    entries.push_back(json::Object()
                          .Add("index", json::Number(static_cast<int64_t>(i)))
                          .Add("name", json::String(devices.entries[i]))
                          .Add("preselected", json::Bool(devices.selected == static_cast<int>(i)))
                          .Text());
  }
  return json::Array(entries);
}

std::string Device(int index, const std::string& name) {
  return json::Object()
      .Add("index", json::Number(int64_t{index}))
      .Add("name", json::String(name))
      .Text();
}

std::string ChosenDevice(const std::optional<ListedDevices>& devices) {
  if (!devices || devices->selected < 0) return json::Null();
  return Device(devices->selected, devices->entries[static_cast<size_t>(devices->selected)]);
}

std::string ProbeDocument(const ProbeResult& probe) {
  std::vector<std::string> answers, skippedIn, skippedOut;
  for (const ProbeAnswer& answer : probe.answers) {
    answers.push_back(json::Object()
                          .Add("device_code", json::String(FormatDeviceCode(answer.code)))
                          .Add("fits_package", json::Bool(answer.accepted))
                          .Add("in", Device(answer.inIndex, answer.inName))
                          .Add("out", Device(answer.outIndex, answer.outName))
                          .Text());
  }
  for (const std::string& name : probe.skippedIn) skippedIn.push_back(json::String(name));
  for (const std::string& name : probe.skippedOut) skippedOut.push_back(json::String(name));
  return json::Object()
      .Add("answers", json::Array(answers))
      .Add("skipped_in", json::Array(skippedIn))
      .Add("skipped_out", json::Array(skippedOut))
      .Text();
}

std::string ComponentsDocument(const VersionTable& table) {
  std::vector<std::string> components;
  for (const VersionComponent& each : kVersionComponents) {
    const std::string& unit = table.slots[each.unit];
    const std::string& package = table.slots[each.image];
    components.push_back(json::Object()
                             .Add("name", json::String(each.name))
                             .Add("unit", OrNull(unit))
                             .Add("package", json::String(package))
                             .Add("differs", json::Bool(unit != package))
                             .Text());
  }
  return json::Array(components);
}

std::string VerificationDocument(const FlashVerification& verification) {
  std::vector<std::string> regions;
  for (size_t i = 0; i < kFlashRegions.size(); ++i) {
    const RegionVerdict& verdict = verification.regions[i];
    const bool differs = verdict.result == RegionVerdict::Result::Differs;
    regions.push_back(
        json::Object()
            .Add("component", json::String(kFlashRegions[i].component))
            .Add("result",
                 json::String(verdict.result == RegionVerdict::Result::Verified ? "verified"
                              : differs                                         ? "differs"
                                                                                : "not read"))
            .Add("first_difference",
                 differs ? json::Number(int64_t{verdict.firstDifference}) : json::Null())
            .Text());
  }
  return json::Array(regions);
}

std::string UnitsDocument(const std::vector<UnitProgress>& units) {
  std::vector<std::string> rows;
  for (size_t i = 0; i < units.size(); ++i) {
    const UnitProgress& unit = units[i];
    rows.push_back(
        json::Object()
            .Add("number", json::Number(static_cast<int64_t>(i + 1)))
            .Add("in", json::String(unit.inName))
            .Add("out", json::String(unit.outName))
            .Add("result", json::String(unit.Result()))
            .Add("message", OrNull(unit.message))
            .Add("seconds",
                 json::Number(std::chrono::duration<double>(unit.endedAt - unit.started).count()))
            .Add("log", OrNull(unit.logPath))
            .Text());
  }
  return json::Array(rows);
}

}  // namespace

std::string VersionTableText(const VersionTable& table) {
  std::string text = "component\tunit -> package\n";
  for (const VersionComponent& each : kVersionComponents) {
    const std::string& unit = table.slots[each.unit];
    const std::string& package = table.slots[each.image];
    text += std::string(each.name) + ":\t\t" + (unit.empty() ? "(not read)" : unit);
    if (unit != package) text += " -> " + package;
    text += '\n';
  }
  return text;
}

bool UpdateAvailable(const VersionTable& table) {
  for (const VersionComponent& each : kVersionComponents) {
    if (table.slots[each.unit] != table.slots[each.image]) return true;
  }
  return false;
}

void PrintDeviceLists(const ListedDevices& in, const ListedDevices& out, std::ostream& stream) {
  for (const auto& [name, list] : {std::pair{"MIDI IN", &in}, std::pair{"MIDI OUT", &out}}) {
    stream << name << " devices:\n";
    if (list->entries.empty()) stream << "  (none)\n";
    for (size_t i = 0; i < list->entries.size(); ++i) {
      stream << (list->selected == static_cast<int>(i) ? "* " : "  ") << i << "  "
             << list->entries[i] << '\n';
    }
  }
  stream.flush();
}

std::vector<std::string> VerificationLines(const FlashVerification& verification) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < kFlashRegions.size(); ++i) {
    const RegionVerdict& verdict = verification.regions[i];
    std::string line = std::string(kFlashRegions[i].component) + ": ";
    switch (verdict.result) {
      case RegionVerdict::Result::Verified:
        line += "verified";
        break;
      case RegionVerdict::Result::Differs: {
        char address[16];
        std::snprintf(address, sizeof address, "0x%06X", verdict.firstDifference);
        line += std::string("differs from the package at ") + address;
        break;
      }
      case RegionVerdict::Result::NotRead:
        line += "not read";
        break;
    }
    lines.push_back(line);
  }
  return lines;
}

std::string RunDocument(const FrontEndOptions& options, const RunRecord& record) {
  json::Object document;
  document.Add("program", json::String("kv5update"))
      .Add("version", json::String(KV5_VERSION))
      .Add("package", json::String(PackageDescription()))
      .Add("command", json::String(CommandWord(options.command)))
      .Add("midi_system", OrNull(record.midiSystem))
      .Add("exit_code", json::Number(int64_t{record.exitCode}))
      .Add("result", json::String(record.result))
      .Add("message", OrNull(record.message))
      .Add("what_to_do", OrNull(record.nextStep))
      .Add("log", record.logPath ? json::String(*record.logPath) : json::Null());
  switch (options.command) {
    case Command::List:
      document.Add("in_devices", record.in ? DeviceArray(*record.in) : json::Array({}))
          .Add("out_devices", record.out ? DeviceArray(*record.out) : json::Array({}));
      break;
    case Command::Probe:
      document.Add("probe", record.probe ? ProbeDocument(*record.probe) : json::Null());
      break;
    case Command::Check:
    case Command::Update:
    case Command::Verify:
      if (options.all) {
        document.Add("units", UnitsDocument(record.units));
        break;
      }
      document.Add("in", ChosenDevice(record.in)).Add("out", ChosenDevice(record.out));
      if (options.probe) {
        document.Add("probe", record.probe ? ProbeDocument(*record.probe) : json::Null());
      }
      if (options.command == Command::Check) {
        document
            .Add("components",
                 record.versions ? ComponentsDocument(*record.versions) : json::Null())
            .Add("update_available",
                 record.versions ? json::Bool(UpdateAvailable(*record.versions)) : json::Null());
      }
      if (options.command == Command::Verify || options.verify) {
        document.Add("verification", record.verification
                                         ? VerificationDocument(*record.verification)
                                         : json::Null());
      }
      break;
  }
  return document.Text();
}

}  // namespace kv5
