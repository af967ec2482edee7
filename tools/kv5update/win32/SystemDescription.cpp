#include "tools/kv5update/SystemDescription.h"

#include <windows.h>

#include <cstdio>

namespace kv5 {

std::string OperatingSystemText() {
  // GetVersionEx answers what the program's manifest allows; ntdll tells the real version.
  std::string text = "Windows";
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (ntdll == nullptr) return text;
  using GetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  const auto getVersion = reinterpret_cast<GetVersionFunction>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (getVersion != nullptr && getVersion(&version) == 0) {
    char number[48];
    std::snprintf(number, sizeof number, " %lu.%lu.%lu", version.dwMajorVersion,
                  version.dwMinorVersion, version.dwBuildNumber);
    text += number;
  }
  // Under Wine, which behaves as Windows does in most but not all things, support needs to know.
  using WineVersionFunction = const char*(CDECL*)();
  const auto wineVersion = reinterpret_cast<WineVersionFunction>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
  if (wineVersion != nullptr) text += std::string(" (Wine ") + wineVersion() + ")";
  return text;
}

std::string LocalTimeText(std::time_t when) {
  std::tm local{};
  std::tm utc{};
  localtime_s(&local, &when);
  gmtime_s(&utc, &when);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  // The offset from the two broken-down times: days apart at most one, either way.
  int day = local.tm_yday - utc.tm_yday;
  if (day > 1) day = -1;
  if (day < -1) day = 1;
  const long offset =
      day * 1440L + (local.tm_hour - utc.tm_hour) * 60L + (local.tm_min - utc.tm_min);
  char zone[48];
  std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+',
                (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
  return std::string(text) + zone;
}

}  // namespace kv5
