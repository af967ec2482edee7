#include "app/InformationArguments.h"

#include <string_view>

#include "firmware/FirmwarePackage.h"
#include "ui/InstanceNames.h"

namespace kv5 {

std::optional<int> AnswerInformationArguments(int argc, const char* const* argv,
                                              std::ostream& out) {
  if (argc < 2) return std::nullopt;
  const std::string_view argument = argv[1];
  if (argument == "--version") {
    out << "kv5updater " KV5_VERSION " (" << PackageDescription() << ")\n";
    return 0;
  }
  if (argument != "-h" && argument != "--help") return std::nullopt;
  out << "Usage: kv5updater\n\n"
      << "The " << kProductTitle
      << " window: updates the firmware of a TELVOR Q9 over MIDI, or\n"
         "shows its version stamps. It takes no arguments of its own.\n\n"
         "  -h, --help   show this help and exit\n"
         "  --version    show the version and the firmware package, and exit\n";
  if (IsTestPackage()) {
    out << "\nThis build carries the synthetic test package, not firmware for a real unit: the\n"
           "window asks before Execute writes it.\n";
  }
  out << "\nThe same sessions on the command line: kv5update --help.\n";
  return 0;
}

}  // namespace kv5
