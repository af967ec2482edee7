#include "tools/kv5update/CommandLine.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "firmware/FirmwarePackage.h"
#include "tools/common/UnitOptions.h"
#include "tools/kv5update/ExitCodes.h"

namespace kv5 {
namespace {

constexpr const char* kDevicesText =
    "\nDevices: without --in/--out the entries named \"USB Audio Device\" or \"TELVOR Q9\" are\n"
    "chosen, as the updater window chooses them. DEV is a list index or an exact name as\n"
    "'kv5update list' shows them.\n";

constexpr const char* kExitCodesText =
    "\nExit codes:\n"
    "  0    success\n"
    "  1    the session failed; the updater's error message is on stderr, and a line on\n"
    "       what to do next; probe: no unit answered; update --all: a unit failed;\n"
    "       verify (and update --verify): the flash differs from the package\n"
    "  2    nothing was sent: usage error, no device chosen, a MIDI system or port that\n"
    "       cannot be opened, or the test package refused for a real device\n"
    "  130  Ctrl-C (143 SIGTERM, 129 SIGHUP): the session was aborted as closing the\n"
    "       updater window aborts it\n";

constexpr const char* kVirtualUnitText =
    "\nThe virtual unit (--backend virtual) runs inside kv5update on loopback MIDI, so the\n"
    "product can be tried without a unit. --unit-fault takes ACTION:KIND:OCCURRENCE[:VALUE]\n"
    "as q9-unit does: ACTION drop, drop-request, delay (VALUE ms), code (VALUE), bad-crc,\n"
    "silent, ...; KIND identity, enter, write, finish, erase, read or any; OCCURRENCE N,\n"
    "N- (from N on), N-M or *. Example: code:erase:1-7:5 answers the first seven erases\n"
    "with error code 5.\n";

std::string PackageText() {
  if (!IsTestPackage()) return {};
  return "\nThis build carries the synthetic test package, not firmware for a real unit. 'update'\n"
         "writes it to the virtual unit freely, to any other device only with\n"
         "--yes-write-test-package.\n";
}

// The option a token names, in app or (when inCommands) in one of its commands; null if none.
const CLI::Option* FindOption(const CLI::App& app, const std::string& token, bool inCommands) {
  if (token.size() < 2 || token[0] != '-') return nullptr;
  const std::string name = token.substr(0, token.find('='));
  if (const CLI::Option* option = app.get_option_no_throw(name)) return option;
  if (!inCommands) return nullptr;
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    if (const CLI::Option* option = command->get_option_no_throw(name)) return option;
  }
  return nullptr;
}

bool IsCommandWord(const CLI::App& app, const std::string& token) {
  return !app.get_subcommands([&](const CLI::App* command) { return command->check_name(token); })
              .empty();
}

// How many of the tokens from `at` on are the values of the option token args[at - 1].
size_t ValueCount(const CLI::App& app, const std::vector<std::string>& args, size_t at,
                  const CLI::Option& option, const std::string& token) {
  if (token.find('=') != std::string::npos) return 0;
  const size_t wanted = static_cast<size_t>(std::max(0, option.get_items_expected_max()));
  size_t count = 0;
  while (count < wanted && at + count < args.size() &&
         FindOption(app, args[at + count], true) == nullptr &&
         !IsCommandWord(app, args[at + count])) {
    ++count;
  }
  return std::max(count, std::min<size_t>(wanted, 1));
}

// CLI11 takes a command's options only after the command word; a user may also give them before
// it ("kv5update --in 0 --out 0 check"). Those are moved behind the command word; the program's
// own options stay where they are, and a token no command knows is left for CLI11 to refuse.
std::vector<std::string> CommandOptionsAfterCommandWord(const CLI::App& app,
                                                        std::vector<std::string> args) {
  std::vector<std::string> moved;
  size_t i = 0;
  while (i < args.size() && args[i] != "--" && !IsCommandWord(app, args[i])) {
    const std::string token = args[i];
    const CLI::Option* own = FindOption(app, token, false);
    const CLI::Option* option = own != nullptr ? own : FindOption(app, token, true);
    const size_t span = option != nullptr ? 1 + ValueCount(app, args, i + 1, *option, token) : 1;
    if (own != nullptr || option == nullptr) {
      i += span;
      continue;
    }
    const auto first = args.begin() + static_cast<std::ptrdiff_t>(i);
    const auto last = first + static_cast<std::ptrdiff_t>(std::min(span, args.size() - i));
    moved.insert(moved.end(), first, last);
    args.erase(first, last);
  }
  if (i < args.size() && args[i] != "--") {
    args.insert(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, moved.begin(), moved.end());
  } else {
    args.insert(args.begin() + static_cast<std::ptrdiff_t>(i), moved.begin(), moved.end());
  }
  return args;
}

template <typename T>
CLI::CheckedTransformer Choices(const std::map<std::string, T>& names) {
  return CLI::CheckedTransformer(names, CLI::ignore_case);
}

// The options of the program itself: its MIDI system and its log.
void AddProgramOptions(CLI::App& app, FrontEndOptions& options, std::string* logPath) {
  app.set_version_flag("--version",
                       std::string("kv5update " KV5_VERSION " (") + PackageDescription() + ")");
#ifdef _WIN32
  // Windows has one MIDI system, the multimedia API, which is also the default.
  const std::map<std::string, BackendChoice> backends = {{"winmm", BackendChoice::Default},
                                                         {"virtual", BackendChoice::Virtual}};
  app.add_option("--backend", options.backend, "MIDI system (default: winmm)")
      ->transform(Choices(backends))
      ->option_text("winmm|virtual");
#else
  const std::map<std::string, BackendChoice> backends = {{"alsa", BackendChoice::Alsa},
                                                         {"jack", BackendChoice::Jack},
                                                         {"virtual", BackendChoice::Virtual}};
  app.add_option("--backend", options.backend,
                 "MIDI system (default: ALSA, else a running JACK server)")
      ->transform(Choices(backends))
      ->option_text("alsa|jack|virtual");
#endif
  app.add_option("--log", *logPath,
                 "Write a transcript of the run to FILE (messages, steps, retries, outcome)")
      ->option_text("FILE");
}

// The texts of the options that name devices and units, read once the command line is parsed.
struct DeviceTexts {
  std::string in;
  std::string out;
  std::vector<std::string> pairs;
};

// The commands, each with the options that go with it; the sessions by name.
std::map<std::string, CLI::App*> AddCommands(CLI::App& app, FrontEndOptions& options,
                                             DeviceTexts& devices) {
  app.add_subcommand("list", "Show the MIDI IN and OUT devices (* = preselected)");
  app.add_subcommand("probe",
                     "Find the units: send the identity request on each MIDI OUT device and show "
                     "the pairs that answer");
  std::map<std::string, CLI::App*> sessions;
  sessions["check"] =
      app.add_subcommand("check", "Show the unit's version stamps beside the package's");
  sessions["update"] = app.add_subcommand("update", "Write the embedded firmware to the unit");
  sessions["verify"] = app.add_subcommand(
      "verify", "Read back everything the update writes and compare it with the package");
  for (auto& [name, command] : sessions) {
    command->add_option("--in", devices.in, "MIDI IN device: list index or exact name")
        ->option_text("DEV");
    command->add_option("--out", devices.out, "MIDI OUT device: list index or exact name")
        ->option_text("DEV");
    command->add_flag("--probe", options.probe,
                      "Use the one unit that probing finds; stop when there is none or several");
    command->footer(std::string(kDevicesText) + kExitCodesText);
  }
  CLI::App& update = *sessions["update"];
  update.add_flag("--all", options.all,
                  "Update several units side by side: those probing finds, or the --pair given");
  update
      .add_option("--pair", devices.pairs, "A unit's MIDI IN and OUT device for --all (repeatable)")
      ->option_text("IN,OUT");
  update.add_flag("--child-report", options.childReport)->group("");
  update.add_flag("--verify", options.verify,
                  "After a completed update, read the flash back as 'verify' does");
  update.add_flag("--yes-write-test-package", options.writeTestPackage,
                  "Allow writing the synthetic test package to a MIDI device");
  update.footer(std::string(kDevicesText) + kExitCodesText + PackageText());
  return sessions;
}

// Parses the tokens as given; false with the exit code once help, the version or a usage error
// has been printed.
bool ParseTokens(CLI::App& app, int argc, const char* const* argv, std::ostream& out,
                 std::ostream& err, int* exitCode) {
  try {
    std::vector<std::string> args(argv + 1, argv + argc);
    args = CommandOptionsAfterCommandWord(app, std::move(args));
    std::reverse(args.begin(), args.end());  // CLI11 takes the tokens last first
    app.parse(args);
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error, out, err);
    *exitCode = code == 0 ? kExitOk : kExitUsage;
    return false;
  }
  return true;
}

// The command given and the devices it names; false after a usage error was printed.
bool ReadCommand(const CLI::App& app, const std::map<std::string, CLI::App*>& sessions,
                 const DeviceTexts& devices, FrontEndOptions& options, std::ostream& err) {
  options.command = app.got_subcommand("update")   ? Command::Update
                    : app.got_subcommand("check")  ? Command::Check
                    : app.got_subcommand("verify") ? Command::Verify
                    : app.got_subcommand("probe")  ? Command::Probe
                                                   : Command::List;
  for (const auto& [name, command] : sessions) {
    if (command->parsed() && command->count("--in") > 0) options.inDevice = devices.in;
    if (command->parsed() && command->count("--out") > 0) options.outDevice = devices.out;
  }
  for (const std::string& text : devices.pairs) {
    const size_t comma = text.find(',');
    if (comma == std::string::npos || comma == 0 || comma + 1 == text.size()) {
      err << "--pair takes IN,OUT (two devices as --in and --out take them), not \"" << text
          << "\".\n";
      return false;
    }
    options.pairs.emplace_back(text.substr(0, comma), text.substr(comma + 1));
  }
  return true;
}

// Options that do not go together, or not with the command; false after saying why.
bool CheckCombinations(const FrontEndOptions& options, const UnitOptions& unit, std::ostream& err) {
  auto refuse = [&](const std::string& reason) {
    err << reason << '\n';
    return false;
  };
  if (!options.pairs.empty() && !options.all) return refuse("--pair names the units of --all.");
  if (options.all && options.verify) {
    return refuse("--verify goes with the update of one unit, not with --all.");
  }
  if (options.all && (options.inDevice || options.outDevice || options.probe)) {
    return refuse(
        "--all picks its units itself (probing, or --pair): --in, --out and --probe do not go "
        "with it.");
  }
  if (options.probe && (options.inDevice || options.outDevice)) {
    return refuse("--probe picks the devices itself: --in and --out do not go with it.");
  }
  if (options.backend != BackendChoice::Virtual) {
    if (const CLI::Option* given = unit.FirstGiven()) {
      return refuse(given->get_name() + " describes the virtual unit: it needs --backend virtual.");
    }
  }
  return true;
}

}  // namespace

ParseOutcome ParseCommandLine(int argc, const char* const* argv, FrontEndOptions& options,
                              std::ostream& out, std::ostream& err) {
  CLI::App app{
      "Updates the firmware of a TELVOR Q9 over MIDI, or reads its version stamps, with the\n"
      "same sessions as the TELVOR Q9 System v1.20 Updater window.",
      "kv5update"};
  app.get_formatter()->column_width(30);
  app.require_subcommand(1);
  app.fallthrough();
  std::string logPath;
  AddProgramOptions(app, options, &logPath);
  const UnitOptions unit(app, "unit-", "Virtual unit (with --backend virtual)");
  DeviceTexts devices;
  const std::map<std::string, CLI::App*> sessions = AddCommands(app, options, devices);
  app.footer(std::string(kDevicesText) + kExitCodesText + kVirtualUnitText + PackageText());

  int exitCode = kExitOk;
  if (!ParseTokens(app, argc, argv, out, err, &exitCode)) return {false, exitCode};
  if (!ReadCommand(app, sessions, devices, options, err)) return {false, kExitUsage};
  if (!logPath.empty()) options.logPath = logPath;
  if (!CheckCombinations(options, unit, err)) return {false, kExitUsage};
  unit.Apply(&options.unit);
  return {true, kExitOk};
}

}  // namespace kv5
