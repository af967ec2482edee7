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
// "client:port"; names are cut to kMaxDeviceName bytes.
std::vector<JackDevice> NameJackDevices(std::vector<std::string> ports);

// Cuts text to at most limit bytes without splitting a UTF-8 sequence.
std::string TruncateUtf8(const std::string& text, size_t limit);

}  // namespace kv5
