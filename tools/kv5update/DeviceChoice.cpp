#include "tools/kv5update/DeviceChoice.h"

#include <algorithm>
#include <cctype>

namespace kv5 {
namespace {

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= 9 &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

}  // namespace

DeviceLookup FindDevice(const std::vector<std::string>& entries, const std::string& wanted,
                        const std::string& listName) {
  DeviceLookup lookup;
  if (AllDigits(wanted)) {
    const int index = std::stoi(wanted);
    if (index < static_cast<int>(entries.size())) {
      lookup.index = index;
      return lookup;
    }
  }
  std::vector<int> matches;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i] == wanted) matches.push_back(static_cast<int>(i));
  }
  if (matches.size() == 1) {
    lookup.index = matches.front();
  } else if (matches.empty()) {
    lookup.error = "No " + listName + " device has the index or the name \"" + wanted + "\" (" +
                   std::to_string(entries.size()) + " listed; see 'kv5update list').";
  } else {
    std::string indexes;
    for (int index : matches) indexes += (indexes.empty() ? "" : ", ") + std::to_string(index);
    lookup.error = "Several " + listName + " devices are named \"" + wanted + "\" (indexes " +
                   indexes + "); give the index instead.";
  }
  return lookup;
}

}  // namespace kv5
