#include "tools/q9unit/Q9UnitOptions.h"

#include <CLI/CLI.hpp>
#include <cstdio>

#include "tools/common/UnitOptions.h"

namespace kv5 {
namespace {

constexpr const char* kDescription =
    "A simulated TELVOR Q9: answers the firmware update protocol from a modelled 2 MiB flash, "
    "published as MIDI ports. Prints \"ready\" once its ports exist; on SIGINT or SIGTERM it "
    "prints what it received and whether its flash holds the package.";

constexpr const char* kFooter =
    "Exit status: 0 (also when the flash does not verify, unless --verify-exit), 1 flash does "
    "not verify (--verify-exit), 2 usage error, 3 the ports could not be published.\n"
    "Result codes the unit refuses with: 16 malformed, 17 length disagrees with data, 18 "
    "checksum mismatch, 19 bad packing, 20 outside the flash, 21 erase not on 4 KiB sectors, "
    "22 write over unerased flash, 23 not powered up in update mode, 24 update mode not "
    "entered (or finished), 25 not addressed to this unit; 1 unknown command, 11 "
    "EnterUpdateMode when powered up normally.";

// The program's own options: its ports, its MIDI system, what it prints and how it ends.
struct ProgramTexts {
  std::string system = "auto";
  std::string verifySource = "files";
};

void AddProgramOptions(CLI::App& app, Q9UnitOptions* options, ProgramTexts* texts) {
  app.add_option("--name", options->name, "client and port name")->capture_default_str();
  app.add_option("--system", texts->system,
                 "MIDI system: jack, alsa, or auto (as the updater picks)")
      ->check(CLI::IsMember({"jack", "alsa", "auto"}))
      ->capture_default_str();
  app.add_option("--verify-source", texts->verifySource,
                 "images to verify against: files (the build's) or embedded")
      ->check(CLI::IsMember({"files", "embedded"}))
      ->capture_default_str();
  app.add_flag("--verify-exit", options->verifyExitCode,
               "exit with status 1 when the flash does not verify (default: always 0)");
  app.add_flag("-v,--verbose", options->verbose, "print each message as it is handled");
  app.add_flag("--transcript", options->transcript, "print the whole transcript at exit");
}

void ApplyProgramTexts(const ProgramTexts& texts, Q9UnitOptions* options) {
  options->system = texts.system == "jack"   ? MidiSystem::Jack
                    : texts.system == "alsa" ? MidiSystem::Alsa
                                             : MidiSystem::Automatic;
  options->verifySource =
      texts.verifySource == "embedded" ? PackageSource::Embedded : PackageSource::BuildFiles;
}

}  // namespace

int ParseQ9UnitOptions(int argc, char** argv, Q9UnitOptions* options) {
  CLI::App app{kDescription, "q9-unit"};
  app.set_version_flag("--version", "q9-unit " KV5_VERSION);
  ProgramTexts texts;
  AddProgramOptions(app, options, &texts);
  const UnitOptions unit(app, "", "The unit");
  app.footer(kFooter);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? kQ9ExitOk : kQ9ExitUsage;
  }
  ApplyProgramTexts(texts, options);
  unit.Apply(&options->unit);
  return -1;
}

}  // namespace kv5
