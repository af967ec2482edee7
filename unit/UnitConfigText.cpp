#include "unit/UnitConfigText.h"

#include <charconv>

namespace kv5 {

std::optional<uint32_t> ParseNumber(std::string_view text, int base) {
  uint32_t value = 0;
  if (text.empty()) return std::nullopt;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (c == '.' || c == ' ' || c == ',') continue;
    digits.push_back(c);
  }
  if (digits.empty() || digits.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < digits.size(); i += 2) {
    const auto byte = ParseNumber(std::string_view(digits).substr(i, 2), 16);
    if (!byte) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(*byte));
  }
  return bytes;
}

std::vector<std::string_view> SplitText(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    const size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

std::optional<std::array<uint8_t, 4>> ParseDataBytes(std::string_view text) {
  if (text.size() != 8) return std::nullopt;
  const auto bytes = ParseHexBytes(text);
  if (!bytes || bytes->size() != 4) return std::nullopt;
  std::array<uint8_t, 4> code{};
  for (size_t i = 0; i < 4; ++i) {
    if ((*bytes)[i] >= 0x80) return std::nullopt;  // they travel as SysEx data bytes
    code[i] = (*bytes)[i];
  }
  return code;
}

std::optional<InitialFlash> ParseInitialFlash(std::string_view text) {
  for (InitialFlash flash :
       {InitialFlash::Factory, InitialFlash::OlderFirmware, InitialFlash::Package}) {
    if (text == InitialFlashName(flash)) return flash;
  }
  return std::nullopt;
}

std::optional<LinkPacing> ParseLinkPreset(std::string_view text) {
  if (text == "none") return LinkPacing::None();
  if (text == "usb") return LinkPacing::Usb();
  if (text == "din") return LinkPacing::Din();
  return std::nullopt;
}

std::optional<bool> ParsePowerUpMode(std::string_view text) {
  if (text == "update") return true;
  if (text == "normal") return false;
  return std::nullopt;
}

std::optional<ScheduledRequest> ParseScheduledRequest(std::string_view text, std::string* error) {
  auto fail = [&](std::string reason) {
    if (error != nullptr) *error = std::move(reason);
    return std::nullopt;
  };
  const auto parts = SplitText(text, ':');
  if (parts.size() < 3 || parts.size() > 4 || (parts.size() == 4 && parts[3] != "before")) {
    return fail("a request reads KIND:N:REQUEST[:before], got '" + std::string(text) + "'");
  }
  const auto kind = KindFromName(parts[0]);
  if (!kind) return fail("unknown message kind '" + std::string(parts[0]) + "'");
  const auto n = ParseNumber(parts[1]);
  if (!n || *n == 0) return fail("bad count '" + std::string(parts[1]) + "'");
  UnitRequest request = UnitRequest::Identity();
  if (parts[2] != "identity") {
    const auto command = ParseNumber(parts[2], 16);
    if (parts[2].size() > 2 || !command || *command > 0x7F) {
      return fail("REQUEST is 'identity' or a vendor command in hex (01, 04, 05), got '" +
                  std::string(parts[2]) + "'");
    }
    request = UnitRequest::Vendor(static_cast<uint8_t>(*command));
  }
  return ScheduledRequest{request, *kind, *n, parts.size() == 4};
}

}  // namespace kv5
