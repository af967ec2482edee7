// How the lists name JACK ports. Free of JACK headers, so the rule can be tested on its own.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kv5 {

struct JackDevice {
  std::string port;  // full port name, "client:port"
  std::string name;  // as the list shows it, at most kMaxDeviceName characters
};

constexpr size_t kMaxDeviceName = 31;

// Full port names in the server's order, our own already left out, as the list shows them:
// grouped by client in the order of client names, each client's ports in the server's order. A
// port is named after its client when the client has no other port here, otherwise
// "client:port"; names are cut to kMaxDeviceName bytes, and repeated names numbered in list
// order ("name (2)").
std::vector<JackDevice> NameJackDevices(std::vector<std::string> ports);

// A client of another copy of the updater: named updaterName, or as the server renames a taken
// name ("TELVOR Q9 Updater-01").
bool IsUpdaterClient(const std::string& client, const std::string& updaterName);

// The client part of a full port name.
std::string ClientOfPort(const std::string& port);

// Cuts text to at most limit bytes without splitting a UTF-8 sequence.
std::string TruncateUtf8(const std::string& text, size_t limit);

}  // namespace kv5
