#include "platform/midi/common/ListedNames.h"

#include <map>
#include <set>

namespace kv5 {

std::string FitListedName(const std::string& name, size_t limit) {
  if (name.size() <= limit) return name;
  size_t length = limit;
  // Step back over continuation bytes (10xxxxxx) so the cut falls before a character.
  while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
  return name.substr(0, length);
}

std::vector<std::string> DistinctListedNames(const std::vector<std::string>& names) {
  std::vector<std::string> listed;
  listed.reserve(names.size());
  std::map<std::string, int> seen;  // fitted name -> how many entries carry it so far
  std::set<std::string> shown;
  for (const std::string& name : names) {
    const std::string fitted = FitListedName(name);
    const int count = ++seen[fitted];
    std::string entry = fitted;
    // A repeated name takes its number in list order; a number that another device's own name
    // already shows is skipped.
    if (count > 1 || shown.count(entry) > 0) {
      for (int n = count > 1 ? count : 2;; ++n) {
        const std::string suffix = " (" + std::to_string(n) + ")";
        entry = FitListedName(fitted, kMaxListedName - suffix.size()) + suffix;
        if (shown.count(entry) == 0) break;
      }
    }
    shown.insert(entry);
    listed.push_back(entry);
  }
  return listed;
}

}  // namespace kv5
