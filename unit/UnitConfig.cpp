#include "unit/UnitConfig.h"

namespace kv5 {

std::string_view InitialFlashName(InitialFlash state) {
  switch (state) {
    case InitialFlash::Factory:
      return "factory";
    case InitialFlash::OlderFirmware:
      return "older";
    case InitialFlash::Package:
      return "package";
  }
  return "?";
}

}  // namespace kv5
