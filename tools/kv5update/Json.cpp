#include "tools/kv5update/Json.h"

#include <cstdio>

namespace kv5::json {

std::string String(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\t':
        quoted += "\\t";
        break;
      case '\r':
        quoted += "\\r";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
          quoted += escaped;
        } else {
          quoted += c;
        }
    }
  }
  return quoted + "\"";
}

std::string Number(int64_t value) {
  return std::to_string(value);
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string Bool(bool value) {
  return value ? "true" : "false";
}

std::string StringOrNull(const std::optional<std::string>& text) {
  return text ? String(*text) : Null();
}

std::string Array(const std::vector<std::string>& values) {
  std::string text = "[";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text += ",";
    text += values[i];
  }
  return text + "]";
}

Object& Object::Add(const std::string& key, std::string value) {
  members_.emplace_back(key, std::move(value));
  return *this;
}

std::string Object::Text() const {
  std::string text = "{";
  for (size_t i = 0; i < members_.size(); ++i) {
    if (i > 0) text += ",";
    text += String(members_[i].first) + ":" + members_[i].second;
  }
  return text + "}";
}

}  // namespace kv5::json
