#include "tools/common/UnitOptions.h"

#include <functional>
#include <optional>

#include "unit/UnitConfigText.h"

namespace kv5 {
namespace {

// A CLI11 check from a parser of the text forms: "" when it takes the text, else the text and
// what is wanted instead ("\"fast\" is not none, usb or din").
template <typename Parse>
CLI::Validator TextForm(const std::string& description, const std::string& wanted, Parse parse) {
  return CLI::Validator(
      [wanted, parse](std::string& text) {
        return parse(text) ? std::string() : "\"" + text + "\" is not " + wanted;
      },
      description);
}

CLI::Validator WholeNumber() {
  return TextForm("NUMBER", "a whole number",
                  [](const std::string& text) { return ParseNumber(text).has_value(); });
}

}  // namespace

UnitOptions::UnitOptions(CLI::App& app, const std::string& prefix, const std::string& group) {
  auto name = [&](const std::string& base, const std::string& alias = {}) {
    std::string names = "--" + prefix + base;
    if (!alias.empty()) names += ",--" + prefix + alias;
    return names;
  };
  auto add = [&](CLI::Option* option) {
    option->group(group);
    options_.push_back(option);
  };
  add(app.add_option(name("flash", prefix.empty() ? "" : "firmware"), flash_,
                     "Flash at power-up: factory (erased), older (the package's images, stamps "
                     "SYSTEM 1.10, PRESET and BOOT 1.00, SUBMCU erased; the default), package")
          ->check(TextForm("factory|older|package", "factory, older or package",
                           [](const std::string& text) { return ParseInitialFlash(text); }))
          ->option_text("factory|older|package"));
  add(app.add_option(name("device-code", prefix.empty() ? "" : "code"), deviceCode_,
                     "Device code it reports (default 4D001200)")
          ->check(TextForm("HEX8", "8 hex digits, each byte below 80",
                           [](const std::string& text) { return ParseDataBytes(text); }))
          ->option_text("HEX8"));
  add(app.add_option(name("revision"), revision_,
                     "Revision bytes of its identity reply (default 01020000)")
          ->check(TextForm("HEX8", "8 hex digits, each byte below 80",
                           [](const std::string& text) { return ParseDataBytes(text); }))
          ->option_text("HEX8"));
  add(app.add_option(name("mode"), mode_,
                     "Powered up in its update mode (the default), or normal: EnterUpdateMode "
                     "is then answered with 11")
          ->check(TextForm("update|normal", "update or normal",
                           [](const std::string& text) { return ParsePowerUpMode(text); }))
          ->option_text("update|normal"));
  if (!prefix.empty()) {
    add(app.add_flag(name("normal-mode"), normalMode_, "As " + name("mode") + " normal"));
  }
  add(app.add_option(name("fault"), faults_,
                     "A fault it injects (repeatable): ACTION:KIND:OCCURRENCE[:VALUE]. ACTION: "
                     "drop (acts, the answer is lost), drop-request (the message is lost), delay "
                     "(VALUE ms), code (answers VALUE), bad-crc, bad-read-code [hex], bad-subcode "
                     "[hex], foreign, truncated, no-f0, inject (hex bytes), inject-after (hex "
                     "bytes), silent. KIND: identity, enter, write, finish, erase, read, unknown, "
                     "any. OCCURRENCE: N, N-, N-M, *")
          ->check(CLI::Validator(
              [](std::string& text) {
                std::string reason;
                return FaultPlan::Parse(text, &reason) ? std::string() : reason;
              },
              "FAULT"))
          ->option_text("ACTION:KIND:OCC[:VALUE]"));
  add(app.add_option(name("request"), requests_,
                     "A request of its own (repeatable): KIND:N:REQUEST[:before] sends REQUEST "
                     "(identity, or a vendor command in hex: 01, 04, 05) after its answer to the "
                     "N-th KIND message")
          ->check(CLI::Validator(
              [](std::string& text) {
                std::string reason;
                return ParseScheduledRequest(text, &reason) ? std::string() : reason;
              },
              "REQUEST"))
          ->option_text("KIND:N:REQUEST[:before]"));
  add(app.add_flag(name("accept-identical-rewrite"), acceptIdenticalRewrite_,
                   "Take a write over programmed flash when it holds exactly that data"));
  add(app.add_option(name("link", prefix.empty() ? "pacing" : ""), link_,
                     "Its link's speed: none (unpaced, the default), usb (1000000 B/s), din "
                     "(3125 B/s)")
          ->check(TextForm("none|usb|din", "none, usb or din",
                           [](const std::string& text) { return ParseLinkPreset(text); }))
          ->option_text("none|usb|din"));
  add(app.add_option(
             name("rate"), rate_,
             "Its link's speed in bytes per second, both directions (over --" + prefix + "link)")
          ->check(WholeNumber())
          ->option_text("B/S"));
  add(app.add_option(name("erase-ms"), eraseMs_, "Time each FlashErase takes")
          ->check(WholeNumber())
          ->option_text("MS"));
  add(app.add_option(name("write-ms"), writeMs_, "Time each FlashWrite takes")
          ->check(WholeNumber())
          ->option_text("MS"));
}

const CLI::Option* UnitOptions::FirstGiven() const {
  for (const CLI::Option* option : options_) {
    if (option->count() > 0) return option;
  }
  return nullptr;
}

void UnitOptions::Apply(UnitConfig* config) const {
  if (const auto flash = ParseInitialFlash(flash_)) config->initialFlash = *flash;
  if (const auto code = ParseDataBytes(deviceCode_)) config->deviceCode = *code;
  if (const auto revision = ParseDataBytes(revision_)) config->revision = *revision;
  if (const auto update = ParsePowerUpMode(mode_)) config->updateMode = *update;
  if (normalMode_) config->updateMode = false;
  for (const std::string& text : faults_) {
    if (const auto fault = FaultPlan::Parse(text, nullptr)) config->faults.Add(*fault);
  }
  for (const std::string& text : requests_) {
    if (const auto request = ParseScheduledRequest(text, nullptr))
      config->ownRequests.push_back(*request);
  }
  if (acceptIdenticalRewrite_) config->acceptIdenticalRewrite = true;
  if (const auto link = ParseLinkPreset(link_)) config->pacing = *link;
  if (rate_ != 0) config->pacing.bytesPerSecond = rate_;
  if (eraseMs_ != 0) config->pacing.perErase = std::chrono::milliseconds(eraseMs_);
  if (writeMs_ != 0) config->pacing.perWrite = std::chrono::milliseconds(writeMs_);
}

}  // namespace kv5
