// The command line's parsing and the choice of devices from what the user typed.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tools/kv5update/CommandLine.h"
#include "tools/kv5update/DeviceChoice.h"
#include "tools/kv5update/ExitCodes.h"

namespace kv5 {
namespace {

struct Parsed {
  ParseOutcome outcome;
  FrontEndOptions options;
  std::string out;
  std::string err;
};

// The MIDI systems the program offers here, and one it does not.
#ifdef _WIN32
const std::string kBackendList = "winmm|virtual";
const std::string kBackendWords = "winmm or virtual";
const std::string kNative = "winmm";
constexpr BackendChoice kNativeChoice = BackendChoice::Default;
const std::string kOtherNative = "winmm";
constexpr BackendChoice kOtherNativeChoice = BackendChoice::Default;
const std::string kForeign = "jack";
#else
const std::string kBackendList = "alsa|jack|virtual";
const std::string kBackendWords = "alsa, jack or virtual";
const std::string kNative = "jack";
constexpr BackendChoice kNativeChoice = BackendChoice::Jack;
const std::string kOtherNative = "alsa";
constexpr BackendChoice kOtherNativeChoice = BackendChoice::Alsa;
const std::string kForeign = "winmm";
#endif

Parsed Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "kv5update");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  Parsed parsed;
  std::ostringstream out, err;
  parsed.outcome =
      ParseCommandLine(static_cast<int>(argv.size()), argv.data(), parsed.options, out, err);
  parsed.out = out.str();
  parsed.err = err.str();
  return parsed;
}

TEST(DeviceChoice, IndexOrExactName) {
  const std::vector<std::string> entries = {"Midi Through Port-0", "TELVOR Q9", "7", "Synth",
                                            "Synth"};
  EXPECT_EQ(FindDevice(entries, "1", "MIDI IN").index, 1);
  EXPECT_EQ(FindDevice(entries, "TELVOR Q9", "MIDI IN").index, 1);
  // Digits that are a valid index are the index, even if an entry has that name...
  EXPECT_EQ(FindDevice(entries, "2", "MIDI IN").index, 2);
  // ...and a name when they are beyond the list.
  EXPECT_EQ(FindDevice(entries, "7", "MIDI IN").index, 2);

  // Names compare exactly: case and blanks count.
  DeviceLookup lookup = FindDevice(entries, "telvor q9", "MIDI IN");
  EXPECT_EQ(lookup.index, -1);
  EXPECT_EQ(lookup.error,
            "No MIDI IN device has the index or the name \"telvor q9\" (5 listed; see "
            "'kv5update list').");
  lookup = FindDevice(entries, "5", "MIDI OUT");
  EXPECT_EQ(lookup.index, -1);
  EXPECT_NE(lookup.error.find("No MIDI OUT device"), std::string::npos);
  EXPECT_EQ(FindDevice(entries, "-1", "MIDI IN").index, -1);
  EXPECT_EQ(FindDevice({}, "0", "MIDI IN").index, -1);

  lookup = FindDevice(entries, "Synth", "MIDI OUT");
  EXPECT_EQ(lookup.index, -1);
  EXPECT_EQ(lookup.error,
            "Several MIDI OUT devices are named \"Synth\" (indexes 3, 4); give the index "
            "instead.");
}

TEST(CommandLine, SubcommandsDevicesAndBackends) {
  Parsed parsed = Parse({"list"});
  ASSERT_TRUE(parsed.outcome.run) << parsed.err;
  EXPECT_EQ(parsed.options.command, Command::List);
  EXPECT_EQ(parsed.options.backend, BackendChoice::Default);
  EXPECT_FALSE(parsed.options.inDevice);
  EXPECT_FALSE(parsed.options.outDevice);

  parsed = Parse({"check", "--in", "2", "--out", "TELVOR Q9", "--backend", kNative});
  ASSERT_TRUE(parsed.outcome.run) << parsed.err;
  EXPECT_EQ(parsed.options.command, Command::Check);
  EXPECT_EQ(parsed.options.backend, kNativeChoice);
  EXPECT_EQ(parsed.options.inDevice, "2");
  EXPECT_EQ(parsed.options.outDevice, "TELVOR Q9");

  // The backend may stand before the subcommand too.
  parsed = Parse({"--backend", kOtherNative, "update", "--yes-write-test-package"});
  ASSERT_TRUE(parsed.outcome.run) << parsed.err;
  EXPECT_EQ(parsed.options.command, Command::Update);
  EXPECT_EQ(parsed.options.backend, kOtherNativeChoice);
  EXPECT_TRUE(parsed.options.writeTestPackage);

  // A command's options may stand before its word, beside the program's own, in any order.
  parsed = Parse({"--in", "0", "--backend", kNative, "--out=TELVOR Q9", "check"});
  ASSERT_TRUE(parsed.outcome.run) << parsed.err;
  EXPECT_EQ(parsed.options.command, Command::Check);
  EXPECT_EQ(parsed.options.backend, kNativeChoice);
  EXPECT_EQ(parsed.options.inDevice, "0");
  EXPECT_EQ(parsed.options.outDevice, "TELVOR Q9");
  // A device named like a command is still the option's value.
  parsed = Parse({"--yes-write-test-package", "--in", "list", "update", "--out", "1"});
  ASSERT_TRUE(parsed.outcome.run) << parsed.err;
  EXPECT_EQ(parsed.options.command, Command::Update);
  EXPECT_EQ(parsed.options.inDevice, "list");
  EXPECT_EQ(parsed.options.outDevice, "1");
  EXPECT_TRUE(parsed.options.writeTestPackage);
}

TEST(CommandLine, VirtualUnitOptions) {
  Parsed parsed = Parse({"update", "--backend", "virtual"});
  ASSERT_TRUE(parsed.outcome.run) << parsed.err;
  EXPECT_EQ(parsed.options.backend, BackendChoice::Virtual);
  EXPECT_EQ(parsed.options.unit.initialFlash, InitialFlash::OlderFirmware);
  EXPECT_TRUE(parsed.options.unit.updateMode);
  EXPECT_EQ(parsed.options.unit.deviceCode, (std::array<uint8_t, 4>{0x4D, 0x00, 0x12, 0x00}));
  EXPECT_TRUE(parsed.options.unit.faults.Empty());
  EXPECT_FALSE(parsed.options.unit.pacing.Enabled());

  // The names of earlier releases, and the names q9-unit has, with the prefix.
  for (const std::vector<std::string>& names :
       {std::vector<std::string>{"--unit-firmware", "--unit-code", "--unit-normal-mode"},
        std::vector<std::string>{"--unit-flash", "--unit-device-code", "--unit-mode=normal"}}) {
    parsed = Parse({"update", "--backend", "virtual", names[0], "factory", names[1], "4d000200",
                    names[2], "--unit-fault", "code:erase:1-7:5", "--unit-fault", "drop:write:3",
                    "--unit-link", "din"});
    ASSERT_TRUE(parsed.outcome.run) << parsed.err;
    EXPECT_EQ(parsed.options.unit.initialFlash, InitialFlash::Factory);
    EXPECT_FALSE(parsed.options.unit.updateMode);
    EXPECT_EQ(parsed.options.unit.deviceCode, (std::array<uint8_t, 4>{0x4D, 0x00, 0x02, 0x00}));
    const std::vector<Fault>& faults = parsed.options.unit.faults.Faults();
    ASSERT_EQ(faults.size(), 2u);
    EXPECT_EQ(faults[0].action, FaultAction::AnswerCode);
    EXPECT_EQ(faults[0].code, 5);
    EXPECT_EQ(faults[0].when.last, 7u);
    EXPECT_EQ(faults[1].kind, MessageKind::FlashWrite);
    EXPECT_EQ(parsed.options.unit.pacing.bytesPerSecond, LinkPacing::kDinBytesPerSecond);
  }
}

TEST(CommandLine, UsageErrorsExitTwo) {
  const std::vector<std::vector<std::string>> wrong = {
      {},                                     // no subcommand
      {"flash"},                              // unknown subcommand
      {"check", "--backend", kForeign},       // a backend this system has not
      {"check", "--in"},                      // option without its value
      {"list", "--in", "0"},                  // list takes no device
      {"--in", "0", "list"},                  // nor before its word
      {"--yes-write-test-package", "check"},  // only update writes
      {"check", "--yes-write-test-package"},  // only update writes
      {"update", "--unit-normal-mode"},       // unit options need the virtual backend
      {"update", "--backend", kNative, "--unit-firmware", "factory"},
      {"update", "--backend", "virtual", "--unit-code", "4D0012"},    // too short
      {"update", "--backend", "virtual", "--unit-code", "8D001200"},  // not a data byte
      {"update", "--backend", "virtual", "--unit-fault", "explode:erase:1"},
      {"update", "--backend", "virtual", "--unit-link", "fast"},
      {"update", "--write-wait-ms", "10"},  // no option changes the timing
      {"check", "--probe", "--in", "0"},    // probing picks the devices itself
      {"update", "--all", "--out", "0"},
      {"update", "--pair", "A,A"},         // pairs belong to --all
      {"update", "--all", "--pair", "A"},  // a pair has both devices
      {"check", "--all"},                  // only update takes several units
  };
  for (const auto& args : wrong) {
    const Parsed parsed = Parse(args);
    std::string joined;
    for (const std::string& arg : args) joined += arg + " ";
    EXPECT_FALSE(parsed.outcome.run) << joined;
    EXPECT_EQ(parsed.outcome.exitCode, kExitUsage) << joined;
    EXPECT_FALSE(parsed.err.empty()) << joined;
  }
  EXPECT_NE(Parse({"update"}).outcome.exitCode, kExitUsage);  // the baseline parses
}

TEST(CommandLine, ProbeLogAndSeveralUnits) {
  Parsed parsed = Parse({"probe", "--log", "run.log"});
  ASSERT_TRUE(parsed.outcome.run) << parsed.err;
  EXPECT_EQ(parsed.options.command, Command::Probe);
  EXPECT_EQ(parsed.options.logPath, "run.log");

  parsed = Parse({"check", "--probe"});
  ASSERT_TRUE(parsed.outcome.run) << parsed.err;
  EXPECT_TRUE(parsed.options.probe);
  EXPECT_FALSE(parsed.options.logPath);  // nothing is logged without the option

  parsed = Parse({"update", "--all", "--pair", "Q9 A,Q9 A", "--pair", "1,2"});
  ASSERT_TRUE(parsed.outcome.run) << parsed.err;
  EXPECT_TRUE(parsed.options.all);
  const std::vector<std::pair<std::string, std::string>> pairs = {{"Q9 A", "Q9 A"}, {"1", "2"}};
  EXPECT_EQ(parsed.options.pairs, pairs);
}

TEST(CommandLine, HelpAndVersion) {
  Parsed parsed = Parse({"--help"});
  EXPECT_FALSE(parsed.outcome.run);
  EXPECT_EQ(parsed.outcome.exitCode, kExitOk);
  for (const char* needle :
       {"list", "check", "update", "help", "Exit codes:", "  0    success",
        "  1    the session failed", "  2    nothing was sent", "  3    no MIDI system",
        "  100  check --exit-code", "  130  Ctrl-C", "--unit-fault"}) {
    EXPECT_NE(parsed.out.find(needle), std::string::npos) << needle << "\n" << parsed.out;
  }
  // A command's help shows every option that applies to it, the program-wide ones too.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"update", "--help"}, std::vector<std::string>{"help", "update"}}) {
    parsed = Parse(args);
    EXPECT_FALSE(parsed.outcome.run);
    EXPECT_EQ(parsed.outcome.exitCode, kExitOk);
    EXPECT_NE(parsed.out.find("Usage: kv5update update"), std::string::npos) << parsed.out;
    for (const std::string& needle : std::vector<std::string>{
             "--yes-write-test-package", "--in", "--backend " + kBackendList, "--log FILE",
             "--json", "-v,--verbose", "-q,--quiet", "--unit-fault"}) {
      EXPECT_NE(parsed.out.find(needle), std::string::npos) << needle << "\n" << parsed.out;
    }
  }
  parsed = Parse({"help", "list"});
  EXPECT_EQ(parsed.outcome.exitCode, kExitOk);
  EXPECT_NE(parsed.out.find("--json"), std::string::npos) << parsed.out;
  EXPECT_EQ(parsed.out.find("--in DEV"), std::string::npos) << parsed.out;
  EXPECT_EQ(Parse({"help"}).out, Parse({"--help"}).out);

  for (const char* flag : {"--version", "-V"}) {
    parsed = Parse({flag});
    EXPECT_FALSE(parsed.outcome.run);
    EXPECT_EQ(parsed.outcome.exitCode, kExitOk);
    EXPECT_EQ(parsed.out.rfind("kv5update 1.20", 0), 0u) << parsed.out;
  }
}

// What the parser refuses is said in plain words, in the order typed, and never in the parser's
// own terms.
TEST(CommandLine, UsageErrorsInPlainWords) {
  const std::string commands = "The commands are list, probe, check, update, verify and help.\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"list", "one", "two", "three"},
       "unexpected arguments: one two three ('kv5update help list' shows what list takes).\n"},
      {{"frobnicate"}, "'frobnicate' is not a command of kv5update. " + commands},
      {{"frobnicate", "list"}, "'frobnicate' is not a command of kv5update. " + commands},
      {{"help", "frobnicate"}, "'frobnicate' is not a command of kv5update. " + commands},
      {{"list", "--backend"}, "--backend needs a value: " + kBackendList + ".\n"},
      {{"list", "--backend", "3"}, "--backend: \"3\" is not " + kBackendWords + ".\n"},
      {{"update", "--backend", "virtual", "--unit-firmware", "0"},
       "--unit-flash: \"0\" is not factory, older or package.\n"},
      {{"update", "--backend", "virtual", "--unit-rate", "fast"},
       "--unit-rate: \"fast\" is not a whole number.\n"},
      {{"list", "--in", "0"},
       "list does not take --in ('kv5update help list' shows what list takes).\n"},
      {{"list", "-v", "-q"}, "--verbose and --quiet do not go together.\n"},
  };
  for (const auto& [args, message] : cases) {
    const Parsed parsed = Parse(args);
    EXPECT_EQ(parsed.outcome.exitCode, kExitUsage) << args[0];
    EXPECT_EQ(parsed.err, message);
    EXPECT_EQ(parsed.err.find("->"), std::string::npos) << parsed.err;
  }
  // --backend 3 was once taken as the enum's value.
  EXPECT_FALSE(Parse({"list", "--backend", "3"}).outcome.run);
}

TEST(CommandLine, HowMuchIsSaidAndInWhatForm) {
  Parsed parsed = Parse({"check", "--json", "-q"});
  ASSERT_TRUE(parsed.outcome.run) << parsed.err;
  EXPECT_TRUE(parsed.options.json);
  EXPECT_EQ(parsed.options.talk, Talk::Quiet);
  EXPECT_FALSE(parsed.options.updateExitCode);
  parsed = Parse({"--verbose", "check", "--exit-code"});
  ASSERT_TRUE(parsed.outcome.run) << parsed.err;
  EXPECT_EQ(parsed.options.talk, Talk::Verbose);
  EXPECT_TRUE(parsed.options.updateExitCode);
  EXPECT_EQ(Parse({"list"}).options.talk, Talk::Normal);
  // The log's header shows the command line as typed.
  parsed = Parse({"list", "--log", "a b.log"});
  EXPECT_EQ(parsed.options.commandLine,
            (std::vector<std::string>{"kv5update", "list", "--log", "a b.log"}));
}

}  // namespace
}  // namespace kv5
