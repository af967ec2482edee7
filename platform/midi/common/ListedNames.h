// The names the device lists show, the same on every backend that makes its own: cut to what a
// capability record holds, and told apart where two devices would show the same name.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kv5 {

// The longest name a list entry carries (the record's 32 bytes less the zero).
constexpr size_t kMaxListedName = 31;

// Cuts a name to at most limit bytes without splitting a UTF-8 character.
std::string FitListedName(const std::string& name, size_t limit = kMaxListedName);

// Each name fitted; a fitted name that an earlier entry already shows becomes "name (2)",
// "name (3)", ... in list order (the name cut further to leave room), so that two identical
// units are "TELVOR Q9" and "TELVOR Q9 (2)", as the window of the second copy expects.
std::vector<std::string> DistinctListedNames(const std::vector<std::string>& names);

}  // namespace kv5
