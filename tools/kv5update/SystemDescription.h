// What the support log says of the machine a run is on, and when it began.
#pragma once

#include <ctime>
#include <string>

namespace kv5 {

// "Linux 6.1.0-18-amd64 x86_64 (Debian GNU/Linux 12 (bookworm))", "Windows 10.0.19045 (Wine 8.0)".
std::string OperatingSystemText();

// The local time in ISO 8601 with the offset from UTC: "2026-12-10T14:02:11+01:00".
std::string LocalTimeText(std::time_t when);

}  // namespace kv5
