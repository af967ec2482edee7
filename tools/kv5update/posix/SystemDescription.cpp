#include "tools/kv5update/SystemDescription.h"

#include <sys/utsname.h>

#include <cstdio>
#include <fstream>

namespace kv5 {
namespace {

// The distribution's own name for itself, from os-release; "" where there is none.
std::string DistributionName() {
  std::ifstream release("/etc/os-release");
  std::string line;
  while (std::getline(release, line)) {
    if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
    std::string name = line.substr(12);
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
      name = name.substr(1, name.size() - 2);
    }
    return name;
  }
  return {};
}

}  // namespace

std::string OperatingSystemText() {
  utsname names{};
  if (uname(&names) != 0) return "unknown";
  std::string text = std::string(names.sysname) + " " + names.release + " " + names.machine;
  const std::string distribution = DistributionName();
  if (!distribution.empty()) text += " (" + distribution + ")";
  return text;
}

std::string LocalTimeText(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  const long offset = local.tm_gmtoff / 60;
  char zone[48];
  std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+',
                (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
  return std::string(text) + zone;
}

}  // namespace kv5
