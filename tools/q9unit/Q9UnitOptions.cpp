#include "tools/q9unit/Q9UnitOptions.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdio>
#include <map>

namespace kv5 {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string::npos ? at : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

bool ParseHexByte(const std::string& text, uint8_t* value) {
  unsigned parsed = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed, 16);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || parsed > 0x7F) {
    return false;
  }
  *value = static_cast<uint8_t>(parsed);
  return true;
}

}  // namespace

bool ParseCode(const std::string& text, std::array<uint8_t, 4>* code) {
  if (text.size() != 8) return false;
  for (size_t i = 0; i < 4; ++i) {
    if (!ParseHexByte(text.substr(2 * i, 2), &(*code)[i])) return false;
  }
  return true;
}

bool ParseScheduledRequest(const std::string& text, ScheduledRequest* scheduled,
                           std::string* error) {
  const auto parts = Split(text, ':');
  if (parts.size() < 3 || parts.size() > 4 || (parts.size() == 4 && parts[3] != "before")) {
    *error = "a request reads KIND:N:REQUEST[:before], got '" + text + "'";
    return false;
  }
  const auto kind = KindFromName(parts[0]);
  if (!kind) {
    *error = "unknown message kind '" + parts[0] + "'";
    return false;
  }
  unsigned n = 0;
  const auto [end, ec] = std::from_chars(parts[1].data(), parts[1].data() + parts[1].size(), n);
  if (ec != std::errc() || end != parts[1].data() + parts[1].size() || n == 0) {
    *error = "bad count '" + parts[1] + "'";
    return false;
  }
  UnitRequest request = UnitRequest::Identity();
  if (parts[2] != "identity") {
    uint8_t command = 0;
    if (!ParseHexByte(parts[2], &command)) {
      *error =
          "REQUEST is 'identity' or a vendor command in hex (01, 04, 05), got '" + parts[2] + "'";
      return false;
    }
    request = UnitRequest::Vendor(command);
  }
  *scheduled = {request, *kind, n, parts.size() == 4};
  return true;
}

int ParseQ9UnitOptions(int argc, char** argv, Q9UnitOptions* options) {
  CLI::App app{
      "A simulated TELVOR Q9: answers the firmware update protocol from a modelled 2 MiB flash, "
      "published as MIDI ports. Prints \"ready\" once its ports exist; on SIGINT or SIGTERM it "
      "prints what it received and whether its flash holds the package."};
  std::string system = "auto";
  std::string flash = "older";
  std::string mode = "update";
  std::string deviceCode = "4D001200";
  std::string revision = "01020000";
  std::string pacing = "none";
  std::string verifySource = "files";
  uint32_t rate = 0;
  uint32_t eraseMs = 0;
  uint32_t writeMs = 0;
  std::vector<std::string> faults;
  std::vector<std::string> requests;

  app.add_option("--name", options->name, "client and port name")->capture_default_str();
  app.add_option("--system", system, "MIDI system: jack, alsa, or auto (as the updater picks)")
      ->check(CLI::IsMember({"jack", "alsa", "auto"}))
      ->capture_default_str();
  app.add_option("--flash", flash,
                 "initial flash: factory (erased), older (package images, stamps 1.10/1.00/1.00 "
                 "and an erased SUBMCU stamp), package")
      ->check(CLI::IsMember({"factory", "older", "package"}))
      ->capture_default_str();
  app.add_option("--mode", mode, "powered up in update mode, or normal (EnterUpdateMode gets 11)")
      ->check(CLI::IsMember({"update", "normal"}))
      ->capture_default_str();
  app.add_option("--device-code", deviceCode, "device code, 8 hex digits")->capture_default_str();
  app.add_option("--revision", revision, "identity reply revision bytes, 8 hex digits")
      ->capture_default_str();
  app.add_option("--fault", faults,
                 "ACTION:KIND:OCCURRENCE[:VALUE], repeatable. ACTION: drop, drop-request, delay "
                 "(ms), code (n), bad-crc, bad-read-code [hex], bad-subcode [hex], foreign, "
                 "truncated, no-f0, inject (hex bytes), inject-after (hex bytes), silent. KIND: "
                 "identity, enter, write, finish, erase, read, unknown, any. OCCURRENCE: N, N-, "
                 "N-M, *");
  app.add_option("--request", requests,
                 "KIND:N:REQUEST[:before], repeatable: send REQUEST (identity, or a vendor "
                 "command in hex: 01, 04, 05) after the answer to the N-th KIND message");
  app.add_flag("--accept-identical-rewrite", options->unit.acceptIdenticalRewrite,
               "let a write over programmed flash pass when it holds exactly that data");
  app.add_option("--pacing", pacing, "link speed preset: none, din (3125 B/s), usb (1000000 B/s)")
      ->check(CLI::IsMember({"none", "din", "usb"}))
      ->capture_default_str();
  app.add_option("--rate", rate,
                 "link speed in bytes per second, both directions (overrides "
                 "--pacing)");
  app.add_option("--erase-ms", eraseMs, "time each FlashErase takes");
  app.add_option("--write-ms", writeMs, "time each FlashWrite takes");
  app.add_option("--verify-source", verifySource,
                 "images to verify against: files (the build's) or embedded")
      ->check(CLI::IsMember({"files", "embedded"}))
      ->capture_default_str();
  app.add_flag("--verify-exit", options->verifyExitCode,
               "exit with status 1 when the flash does not verify (default: always 0)");
  app.add_flag("-v,--verbose", options->verbose, "print each message as it is handled");
  app.add_flag("--transcript", options->transcript, "print the whole transcript at exit");

  app.footer(
      "Exit status: 0 (also when the flash does not verify, unless --verify-exit), 1 flash does "
      "not verify (--verify-exit), 2 usage error, 3 the ports could not be published.\n"
      "Result codes the unit refuses with: 16 malformed, 17 length disagrees with data, 18 "
      "checksum mismatch, 19 bad packing, 20 outside the flash, 21 erase not on 4 KiB sectors, "
      "22 write over unerased flash, 23 not powered up in update mode, 24 update mode not "
      "entered (or finished), 25 not addressed to this unit; 1 unknown command, 11 "
      "EnterUpdateMode when powered up normally.");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? kQ9ExitOk : kQ9ExitUsage;
  }

  auto usage = [](const std::string& message) {
    std::fprintf(stderr, "q9-unit: %s\n", message.c_str());
    return kQ9ExitUsage;
  };
  UnitConfig& unit = options->unit;
  options->system = system == "jack"   ? MidiSystem::Jack
                    : system == "alsa" ? MidiSystem::Alsa
                                       : MidiSystem::Automatic;
  unit.initialFlash = flash == "factory"   ? InitialFlash::Factory
                      : flash == "package" ? InitialFlash::Package
                                           : InitialFlash::OlderFirmware;
  unit.updateMode = mode == "update";
  if (!ParseCode(deviceCode, &unit.deviceCode)) return usage("--device-code takes 8 hex digits");
  if (!ParseCode(revision, &unit.revision)) return usage("--revision takes 8 hex digits");
  for (const std::string& text : faults) {
    std::string error;
    const auto fault = FaultPlan::Parse(text, &error);
    if (!fault) return usage("--fault " + text + ": " + error);
    unit.faults.Add(*fault);
  }
  for (const std::string& text : requests) {
    ScheduledRequest scheduled;
    std::string error;
    if (!ParseScheduledRequest(text, &scheduled, &error)) {
      return usage("--request " + text + ": " + error);
    }
    unit.ownRequests.push_back(scheduled);
  }
  unit.pacing = pacing == "din"   ? LinkPacing::Din()
                : pacing == "usb" ? LinkPacing::Usb()
                                  : LinkPacing::None();
  if (rate != 0) unit.pacing.bytesPerSecond = rate;
  unit.pacing.perErase = std::chrono::milliseconds(eraseMs);
  unit.pacing.perWrite = std::chrono::milliseconds(writeMs);
  options->verifySource =
      verifySource == "embedded" ? PackageSource::Embedded : PackageSource::BuildFiles;
  return -1;
}

}  // namespace kv5
