// A small writer of JSON text for the command line's --json documents: values are built as text
// and put together into arrays and objects, members in the order they are added.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kv5::json {

// A JSON string: quotes, backslashes and control characters escaped; other bytes as they are
// (device names come as UTF-8).
std::string String(const std::string& text);
std::string Number(int64_t value);
std::string Number(double value);  // with one decimal: 7.1
std::string Bool(bool value);
inline std::string Null() {
  return "null";
}
// A string, or null when there is none.
std::string StringOrNull(const std::optional<std::string>& text);

std::string Array(const std::vector<std::string>& values);

class Object {
 public:
  Object& Add(const std::string& key, std::string value);
  std::string Text() const;

 private:
  std::vector<std::pair<std::string, std::string>> members_;
};

}  // namespace kv5::json
