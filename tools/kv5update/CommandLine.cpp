#include "tools/kv5update/CommandLine.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "firmware/FirmwarePackage.h"
#include "tools/common/UnitOptions.h"
#include "tools/kv5update/CommandWords.h"
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
    "  2    nothing was sent: usage error, no device chosen, a port that cannot be\n"
    "       opened, or the test package refused for a real device\n"
    "  3    no MIDI system: neither the ALSA sequencer nor a JACK server was found, or\n"
    "       the one named with --backend cannot be opened; nothing was sent\n"
    "  100  check --exit-code: a stamp of the unit differs from the package's\n"
    "  130  Ctrl-C (143 SIGTERM, 129 SIGHUP): the session was aborted as closing the\n"
    "       updater window aborts it\n";

constexpr const char* kVirtualUnitText =
    "\nThe virtual unit (--backend virtual) runs inside kv5update on loopback MIDI, so the\n"
    "product can be tried without a unit. --unit-fault takes ACTION:KIND:OCCURRENCE[:VALUE]\n"
    "as q9-unit does: ACTION drop, drop-request, delay (VALUE ms), code (VALUE), bad-crc,\n"
    "silent, ...; KIND identity, enter, write, finish, erase, read or any; OCCURRENCE N,\n"
    "N- (from N on), N-M or *. Example: code:erase:1-7:5 answers the first seven erases\n"
    "with error code 5.\n";

constexpr const char* kCommandsText =
    "\n'kv5update help COMMAND' (or 'kv5update COMMAND --help') shows the options of a command;\n"
    "the MIDI system and output options go with every command, before or after its word.\n";

std::string PackageText() {
  if (!IsTestPackage()) return {};
  return "\nThis build carries the synthetic test package, not firmware for a real unit. 'update'\n"
         "writes it to the virtual unit freely, to any other device only with\n"
         "--yes-write-test-package.\n";
}

// The MIDI systems --backend names, and what each becomes.
const std::vector<std::pair<std::string, BackendChoice>>& Backends() {
#ifdef _WIN32
  // Windows has one MIDI system, the multimedia API, which is also the default.
  static const std::vector<std::pair<std::string, BackendChoice>> kBackends = {
      {"winmm", BackendChoice::Default}, {"virtual", BackendChoice::Virtual}};
#else
  static const std::vector<std::pair<std::string, BackendChoice>> kBackends = {
      {"alsa", BackendChoice::Alsa},
      {"jack", BackendChoice::Jack},
      {"virtual", BackendChoice::Virtual}};
#endif
  return kBackends;
}

std::string BackendWords(const char* separator, const char* last) {
  std::string words;
  const auto& backends = Backends();
  for (size_t i = 0; i < backends.size(); ++i) {
    if (i > 0) words += i + 1 == backends.size() ? last : separator;
    words += backends[i].first;
  }
  return words;
}

// What the options of every command fill in; each command has its own virtual unit options.
struct Given {
  std::string backend;
  std::string log;
  bool verbose = false;
  bool quiet = false;
  std::string in;
  std::string out;
  std::vector<std::string> pairs;
  std::map<std::string, std::unique_ptr<UnitOptions>> units;
};

// The options of every command: the MIDI system, the log, how much is said, the virtual unit.
void AddCommonOptions(CLI::App& command, FrontEndOptions& options, Given& given) {
  const std::string group = "MIDI system and output";
#ifdef _WIN32
  const std::string systems = "MIDI system (default: winmm)";
#else
  const std::string systems = "MIDI system (default: ALSA, else a running JACK server)";
#endif
  command.add_option("--backend", given.backend, systems)
      ->check(CLI::Validator(
          [](std::string& text) {
            for (const auto& [name, choice] : Backends()) {
              if (text == name) return std::string();
            }
            return "\"" + text + "\" is not " + BackendWords(", ", " or ");
          },
          "SYSTEM"))
      ->option_text(BackendWords("|", "|"))
      ->group(group);
  command
      .add_option("--log", given.log,
                  "Write a transcript of the run to FILE (header, messages, steps, retries, "
                  "outcome); an existing FILE is appended to")
      ->option_text("FILE")
      ->group(group);
  command
      .add_flag("--json", options.json,
                "Print the result as one JSON document on stdout; progress and messages go "
                "to stderr")
      ->group(group);
  command.add_flag("-v,--verbose", given.verbose, "Also print every line of the log on stderr")
      ->group(group);
  command.add_flag("-q,--quiet", given.quiet, "Print results and errors only")->group(group);
  given.units[command.get_name()] =
      std::make_unique<UnitOptions>(command, "unit-", "Virtual unit (with --backend virtual)");
}

// The options of the commands that talk to one unit.
void AddDeviceOptions(CLI::App& command, FrontEndOptions& options, Given& given) {
  command.add_option("--in", given.in, "MIDI IN device: list index or exact name")
      ->option_text("DEV");
  command.add_option("--out", given.out, "MIDI OUT device: list index or exact name")
      ->option_text("DEV");
  command.add_flag("--probe", options.probe,
                   "Use the one unit that probing finds; stop when there is none or several");
  command.footer(std::string(kDevicesText) + kExitCodesText);
}

// The commands, each with the options that go with it.
void AddCommands(CLI::App& app, FrontEndOptions& options, Given& given) {
  CLI::App& list =
      *app.add_subcommand("list", "Show the MIDI IN and OUT devices (* = preselected)");
  CLI::App& probe = *app.add_subcommand(
      "probe",
      "Find the units: send the identity request on each MIDI OUT device and show the pairs "
      "that answer");
  CLI::App& check =
      *app.add_subcommand("check", "Show the unit's version stamps beside the package's");
  CLI::App& update = *app.add_subcommand("update", "Write the embedded firmware to the unit");
  CLI::App& verify = *app.add_subcommand(
      "verify", "Read back everything the update writes and compare it with the package");
  // Listed among the commands; its words are read before the parser sees them (PrintHelp).
  CLI::App& help = *app.add_subcommand("help", "Show the help of kv5update or of a command");
  help.add_option("COMMAND", "The command whose options are shown");

  for (CLI::App* command : {&list, &probe}) command->footer(kExitCodesText);
  for (CLI::App* command : {&check, &update, &verify}) AddDeviceOptions(*command, options, given);
  check.add_flag("--exit-code", options.updateExitCode,
                 "Exit with 100 when a stamp of the unit differs from the package's");
  update.add_flag("--all", options.all,
                  "Update several units side by side: those probing finds, or the --pair given");
  update
      .add_option("--pair", given.pairs, "A unit's MIDI IN and OUT device for --all (repeatable)")
      ->option_text("IN,OUT");
  update.add_flag("--child-report", options.childReport)->group("");
  update.add_flag("--verify", options.verify,
                  "After a completed update, read the flash back as 'verify' does");
  update.add_flag("--yes-write-test-package", options.writeTestPackage,
                  "Allow writing the synthetic test package to a MIDI device");
  update.footer(std::string(kDevicesText) + kExitCodesText + PackageText());
  for (CLI::App* command : {&list, &probe, &check, &update, &verify}) {
    AddCommonOptions(*command, options, given);
    command->footer(command->get_footer() + kVirtualUnitText);
  }
  for (CLI::App* command : {&list, &probe, &check, &update, &verify, &help}) {
    command->allow_extras();
  }
}

Command CommandOf(const std::string& word) {
  for (const auto& [command, named] : kCommandWords) {
    if (word == named) return command;
  }
  return Command::List;
}

std::string ParsedCommandWord(const CLI::App& app) {
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    if (command->parsed()) return command->get_name();
  }
  return {};
}

// `kv5update help [COMMAND]`; false after a usage error was printed.
bool PrintHelp(const CLI::App& app, const std::string& topic, std::ostream& out,
               std::ostream& err) {
  if (topic.empty()) {
    out << app.help();
    return true;
  }
  const CLI::App* command = nullptr;
  for (const CLI::App* each : app.get_subcommands([](const CLI::App*) { return true; })) {
    if (each->get_name() == topic) command = each;
  }
  if (command == nullptr) {
    err << "'" << topic << "' is not a command of kv5update. The commands are " << CommandNames(app)
        << ".\n";
    return false;
  }
  out << command->help("kv5update");
  return true;
}

// The command given and the options it names; false after a usage error was printed.
bool ReadGiven(const CLI::App& app, const std::string& word, const Given& given,
               FrontEndOptions& options, std::ostream& err) {
  options.command = CommandOf(word);
  const CLI::App* command =
      app.get_subcommands([&](const CLI::App* each) { return each->get_name() == word; }).front();
  const CLI::Option* in = command->get_option_no_throw("--in");
  const CLI::Option* out = command->get_option_no_throw("--out");
  if (in != nullptr && in->count() > 0) options.inDevice = given.in;
  if (out != nullptr && out->count() > 0) options.outDevice = given.out;
  if (!given.log.empty()) options.logPath = given.log;
  for (const auto& [name, choice] : Backends()) {
    if (given.backend == name) options.backend = choice;
  }
  for (const std::string& text : given.pairs) {
    const size_t comma = text.find(',');
    if (comma == std::string::npos || comma == 0 || comma + 1 == text.size()) {
      err << "--pair takes IN,OUT (two devices as --in and --out take them), not \"" << text
          << "\".\n";
      return false;
    }
    options.pairs.emplace_back(text.substr(0, comma), text.substr(comma + 1));
  }
  if (given.verbose && given.quiet) {
    err << "--verbose and --quiet do not go together.\n";
    return false;
  }
  options.talk = given.verbose ? Talk::Verbose : given.quiet ? Talk::Quiet : Talk::Normal;
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
  app.fallthrough();
  app.set_version_flag("-V,--version",
                       std::string("kv5update " KV5_VERSION " (") + PackageDescription() + ")");
  Given given;
  AddCommands(app, options, given);
  app.footer(std::string(kCommandsText) + kDevicesText + kExitCodesText + kVirtualUnitText +
             PackageText());
  app.allow_extras();  // what nothing takes is named after parsing, in plain words
  options.commandLine.assign(argv, argv + argc);

  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args.front() == "help") {
    if (args.size() > 2) {
      err << "help takes one command, not \"" << args[2] << "\".\n";
      return {false, kExitUsage};
    }
    const bool shown = PrintHelp(app, args.size() == 2 ? args[1] : "", out, err);
    return {false, shown ? kExitOk : kExitUsage};
  }
  const std::vector<std::string> beforeCommand = TokensBeforeCommandWord(app, args);
  try {
    args = CommandOptionsAfterCommandWord(app, std::move(args));
    std::reverse(args.begin(), args.end());  // the parser takes the tokens last first
    app.parse(args);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return {false, kExitOk};
  } catch (const CLI::CallForVersion& version) {
    out << version.what() << '\n';
    return {false, kExitOk};
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) {
      // A command's --help.
      app.exit(error, out, err);
      return {false, kExitOk};
    }
    err << PlainParseError(app, error) << '\n';
    return {false, kExitUsage};
  }
  const std::string word = ParsedCommandWord(app);
  if (const std::string leftover = LeftoverTokensError(app, word, beforeCommand);
      !leftover.empty()) {
    err << leftover << '\n';
    return {false, kExitUsage};
  }
  if (word.empty()) {
    err << "A command is needed: " << CommandNames(app)
        << ". 'kv5update --help' says what each does.\n";
    return {false, kExitUsage};
  }
  if (word == "help") {
    err << "help comes first: 'kv5update help [COMMAND]'.\n";
    return {false, kExitUsage};
  }
  if (!ReadGiven(app, word, given, options, err)) return {false, kExitUsage};
  const UnitOptions& unit = *given.units.at(word);
  if (!CheckCombinations(options, unit, err)) return {false, kExitUsage};
  unit.Apply(&options.unit);
  return {true, kExitOk};
}

}  // namespace kv5
