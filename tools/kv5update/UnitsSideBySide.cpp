#include "tools/kv5update/UnitsSideBySide.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>

#include "midi/MidiInPort.h"
#include "midi/MidiOutPort.h"
#include "session/StringTable.h"
#include "tools/kv5update/ChildSession.h"
#include "tools/kv5update/DeviceChoice.h"
#include "tools/kv5update/ExitCodes.h"
#include "tools/kv5update/PlanStepText.h"
#include "tools/kv5update/Probe.h"
#include "tools/kv5update/TestPackageGuard.h"

namespace kv5 {
namespace {

constexpr std::chrono::milliseconds kLoopPeriod{50};
constexpr std::chrono::milliseconds kRedrawPeriod{200};

bool StartsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

std::string Seconds(ProgressClock::duration span) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(span).count());
  return text;
}

std::vector<std::string> DeviceNames(bool input, MidiBackend& midi) {
  std::vector<std::string> names;
  char name[MidiInPort::kDeviceNameCapacity];
  if (input) {
    MidiInPort port(midi.In());
    for (int i = 0; i < port.GetDeviceCount(); ++i) {
      port.GetDeviceName(i, name);
      names.emplace_back(name);
    }
  } else {
    MidiOutPort port(midi.Out());
    for (int i = 0; i < port.GetDeviceCount(); ++i) {
      port.GetDeviceName(i, name);
      names.emplace_back(name);
    }
  }
  return names;
}

// A device as the child is to find it: by name, which stays the device's while the lists of the
// other sessions' processes grow by their own ports; by index only when the name is not unique.
bool ResolveDevice(const std::vector<std::string>& names, const std::string& wanted,
                   const char* listName, std::string* device, std::string* name,
                   std::string* error) {
  const DeviceLookup lookup = FindDevice(names, wanted, listName);
  if (lookup.index < 0) {
    *error = lookup.error;
    return false;
  }
  *name = names[static_cast<size_t>(lookup.index)];
  int same = 0;
  for (const std::string& each : names) same += each == *name ? 1 : 0;
  *device = same == 1 ? *name : std::to_string(lookup.index);
  return true;
}

struct Planned {
  std::string in, out;  // as --in and --out take them
  UnitProgress progress;
};

std::string BackendWord(const FrontEndOptions& options, const MidiBackend& midi) {
  switch (options.backend) {
    case BackendChoice::Alsa:
      return "alsa";
    case BackendChoice::Jack:
      return "jack";
    case BackendChoice::Virtual:
      return "virtual";
    case BackendChoice::Default:
      break;
  }
  return midi.Name() == "alsa" || midi.Name() == "jack" ? midi.Name() : std::string();
}

void Draw(const std::vector<Planned>& units, int width, size_t* drawn, std::ostream& out) {
  // Back to the first unit's line, then every line anew; a line never wraps, or going back
  // would miss.
  if (*drawn > 0) out << "\x1b[" << *drawn << "A";
  for (size_t i = 0; i < units.size(); ++i) {
    std::string line = units[i].progress.Line(i + 1);
    if (line.size() >= static_cast<size_t>(width)) line.resize(static_cast<size_t>(width - 1));
    out << '\r' << line << "\x1b[K\n";
  }
  *drawn = units.size();
  out.flush();
}

// What update --all needs before anything is sent: child processes, a MIDI system they can
// open themselves, and leave to write the test package. False after saying why.
bool CanRun(const FrontEndOptions& options, MidiBackend& midi, bool inProcessUnit, bool quiet,
            std::ostream& err, std::string* backend) {
  if (!ChildSession::Supported()) {
    std::string reason;
    ChildSession::Start({}, &reason);
    err << reason << '\n';
    return false;
  }
  *backend = BackendWord(options, midi);
  if (backend->empty()) {
    err << "update --all needs a MIDI system (--backend alsa or jack).\n";
    return false;
  }
  return AllowTestPackageWrite(options.writeTestPackage, inProcessUnit, quiet, err);
}

// The units: those probing finds, or the pairs given, each with its devices as its child is to
// find them. False after saying why.
bool PlanUnits(const FrontEndOptions& options, MidiBackend& midi, ConsoleStreams& streams,
               std::vector<Planned>* units) {
  const bool textResults = !options.json;
  if (options.pairs.empty()) {
    const ProbeResult probed = ProbeUnits(midi);
    for (const ProbeAnswer& unit : probed.Units()) {
      Planned planned;
      planned.progress.inName = unit.inName;
      planned.progress.outName = unit.outName;
      units->push_back(planned);
    }
    if (units->empty()) {
      if (textResults) PrintProbeResult(probed, streams.out);
      streams.err << "update --all: probing found no unit; nothing was sent.\n";
      return false;
    }
  }
  const std::vector<std::string> inNames = DeviceNames(true, midi);
  const std::vector<std::string> outNames = DeviceNames(false, midi);
  for (const auto& [in, out] : options.pairs) {
    Planned planned;
    std::string error;
    if (!ResolveDevice(inNames, in, "MIDI IN", &planned.in, &planned.progress.inName, &error) ||
        !ResolveDevice(outNames, out, "MIDI OUT", &planned.out, &planned.progress.outName,
                       &error)) {
      streams.err << error << '\n';
      return false;
    }
    units->push_back(planned);
  }
  for (Planned& unit : *units) {
    if (!unit.in.empty()) continue;
    std::string ignored;
    ResolveDevice(inNames, unit.progress.inName, "MIDI IN", &unit.in, &unit.progress.inName,
                  &ignored);
    ResolveDevice(outNames, unit.progress.outName, "MIDI OUT", &unit.out, &unit.progress.outName,
                  &ignored);
  }
  return true;
}

// One child process per unit, each an update of its own that reports as lines. False after
// saying why one could not start.
bool StartChildren(const FrontEndOptions& options, const std::string& backend,
                   std::vector<Planned>& units, std::ostream& err,
                   std::vector<std::unique_ptr<ChildSession>>* children) {
  for (size_t i = 0; i < units.size(); ++i) {
    std::vector<std::string> args = {"--backend", backend, "update",     "--in",
                                     units[i].in, "--out", units[i].out, "--child-report"};
    if (options.writeTestPackage) args.push_back("--yes-write-test-package");
    if (options.logPath) {
      units[i].progress.logPath = *options.logPath + "." + std::to_string(i + 1);
      args.push_back("--log");
      args.push_back(units[i].progress.logPath);
    }
    std::string error;
    std::unique_ptr<ChildSession> child = ChildSession::Start(args, &error);
    if (!child) {
      err << error << '\n';
      return false;
    }
    units[i].progress.started = ProgressClock::now();
    children->push_back(std::move(child));
  }
  return true;
}

// Takes what a child reported since the last look; notes its end.
void TakeChildLines(ChildSession& child, UnitProgress& unit, ProgressClock::time_point now) {
  std::vector<std::string> out, err;
  child.TakeLines(&out, &err);
  for (const std::string& line : out) unit.TakeReport(line, now);
  for (const std::string& line : err) unit.TakeError(line);
  if (unit.ended || !child.Ended()) return;
  unit.ended = true;
  unit.exitCode = child.ExitCode();
  unit.endedAt = now;
  if (unit.exitCode == kExitOk) unit.message = LoadString(IDS_UPDATE_COMPLETED);
  if (unit.exitCode > kExitSignalBase && unit.message.empty()) {
    unit.message = "Interrupted: the session was aborted.";
  }
}

// Plain lines (no terminal): one when a unit's step or phase changes, and its ending.
void PrintPlainLine(const UnitProgress& unit, size_t number, std::string& lastShown,
                    std::ostream& out) {
  const std::string shown = unit.ended ? unit.Result() : unit.step + " " + unit.status;
  const bool transfer = StartsWith(unit.status, "Data transmit") &&
                        StartsWith(lastShown, unit.step + " Data transmit");
  const bool worded = unit.ended || (!unit.step.empty() && !unit.status.empty());
  if (shown == lastShown || transfer || !worded) return;
  out << unit.Line(number) << '\n';
  out.flush();
  lastShown = shown;
}

// Shows the units' progress until every child has ended (a line each, redrawn on a terminal;
// plain lines otherwise, on stderr when stdout carries the JSON document; none when quiet); an
// interrupt is passed on to every child. True when one came.
bool FollowChildren(std::vector<std::unique_ptr<ChildSession>>& children,
                    std::vector<Planned>& units, ConsoleStreams& streams,
                    const std::atomic<int>& interrupt, ProgressOutput progress) {
  const bool live = streams.outIsTerminal && !progress.toErr && !progress.quiet;
  std::ostream& lines = progress.toErr ? streams.err : streams.out;
  size_t drawn = 0;
  auto lastDraw = ProgressClock::now();
  std::vector<std::string> lastShown(units.size());
  bool interrupted = false;
  for (;;) {
    if (interrupt.load() != 0 && !interrupted) {
      interrupted = true;
      for (auto& child : children) child->Interrupt();
    }
    bool allEnded = true;
    const auto now = ProgressClock::now();
    for (size_t i = 0; i < units.size(); ++i) {
      TakeChildLines(*children[i], units[i].progress, now);
      allEnded = allEnded && units[i].progress.ended;
      if (!live && !progress.quiet) PrintPlainLine(units[i].progress, i + 1, lastShown[i], lines);
    }
    if (live && (allEnded || now - lastDraw >= kRedrawPeriod)) {
      Draw(units, std::max(streams.width, 20), &drawn, streams.out);
      lastDraw = now;
    }
    if (allEnded) break;
    std::this_thread::sleep_for(kLoopPeriod);
  }
  streams.out.flush();
  return interrupted;
}

// The summary table (unless stdout carries the JSON document), and the exit code of the whole.
int Summarize(const std::vector<Planned>& units, bool interrupted,
              const std::atomic<int>& interrupt, const FrontEndOptions& options,
              ConsoleStreams& streams, std::vector<UnitProgress>* ended) {
  std::string failed;
  for (size_t i = 0; i < units.size(); ++i) {
    ended->push_back(units[i].progress);
    if (units[i].progress.exitCode != kExitOk) {
      failed += (failed.empty() ? "" : ", ") + std::to_string(i + 1);
    }
  }
  if (!options.json) {
    streams.out << (options.talk == Talk::Quiet ? "" : "\n") << SummaryTable(*ended);
    streams.out.flush();
  }
  if (interrupted) {
    streams.err << "Interrupted: every session was aborted.\n";
    return kExitSignalBase + interrupt.load();
  }
  if (!failed.empty()) {
    streams.err << "Not updated: unit " << failed << ".\n";
    return kExitSessionFailed;
  }
  return kExitOk;
}

}  // namespace

void UnitProgress::TakeReport(const std::string& line, ProgressClock::time_point now) {
  if (StartsWith(line, "@step ")) {
    step = line.substr(6);
  } else if (StartsWith(line, "@status ")) {
    status = line.substr(8);
  } else if (StartsWith(line, "@range ")) {
    std::sscanf(line.c_str() + 7, "%d %d", &lower, &upper);
    position = lower;
    rate.Reset();
    rate.Sample(lower, now);
  } else if (StartsWith(line, "@pos ")) {
    std::sscanf(line.c_str() + 5, "%d", &position);
    if (StartsWith(status, "Data transmit")) rate.Sample(position, now);
  }
}

void UnitProgress::TakeError(const std::string& line) {
  if (line.empty() || StartsWith(line, "Warning: ") || StartsWith(line, "What to do: ")) return;
  message = line;
}

std::string UnitProgress::Line(size_t number) const {
  std::string text = "unit " + std::to_string(number) + "  IN " + Quoted(inName) + " OUT " +
                     Quoted(outName) + "  ";
  if (ended) return text + Result() + (message.empty() ? "" : ": " + message);
  text += StepLabel(step.empty() ? std::string("0/10") : step, status);
  if (StartsWith(status, "Data transmit")) {
    if (const auto bytesPerSecond = rate.BytesPerSecond())
      text += "  " + FormatRate(*bytesPerSecond);
  }
  return text;
}

std::string UnitProgress::Result() const {
  if (!ended) return "running";
  if (exitCode == kExitOk) return "updated";
  if (exitCode == kExitSessionFailed) return "failed";
  if (exitCode > kExitSignalBase) return "aborted";
  return "not started";
}

std::string SummaryTable(const std::vector<UnitProgress>& units) {
  std::vector<std::vector<std::string>> rows = {{"unit", "result", "message", "time"}};
  for (size_t i = 0; i < units.size(); ++i) {
    const UnitProgress& unit = units[i];
    rows.push_back(
        {std::to_string(i + 1) + " IN " + Quoted(unit.inName) + " OUT " + Quoted(unit.outName),
         unit.Result(), unit.message, Seconds(unit.endedAt - unit.started)});
  }
  std::vector<size_t> widths(4, 0);
  for (const auto& row : rows) {
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  std::string table;
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(widths[c] - row[c].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    table += line + "\n";
  }
  return table;
}

int UpdateSideBySide(const FrontEndOptions& options, MidiBackend& midi, bool inProcessUnit,
                     ConsoleStreams& streams, const std::atomic<int>& interrupt,
                     ProgressOutput progress, std::vector<UnitProgress>* ended) {
  std::string backend;
  if (!CanRun(options, midi, inProcessUnit, progress.quiet, streams.err, &backend)) {
    return kExitUsage;
  }
  std::vector<Planned> units;
  if (!PlanUnits(options, midi, streams, &units)) return kExitUsage;
  std::vector<std::unique_ptr<ChildSession>> children;
  // The sessions already started when one cannot end as an interrupt ends them.
  if (!StartChildren(options, backend, units, streams.err, &children)) return kExitUsage;
  const bool interrupted = FollowChildren(children, units, streams, interrupt, progress);
  return Summarize(units, interrupted, interrupt, options, streams, ended);
}

}  // namespace kv5
