// The text forms of the virtual unit's configuration, as both programs take them on their command
// lines (faults have theirs in FaultPlan): each parser gives nullopt (with a reason where one
// helps) for text it does not take.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "unit/UnitConfig.h"

namespace kv5 {

// Helpers of the text forms: a whole number in the base; hex bytes, blanks, dots and commas
// between them allowed; the pieces of a text between separators.
std::optional<uint32_t> ParseNumber(std::string_view text, int base = 10);
std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view text);
std::vector<std::string_view> SplitText(std::string_view text, char separator);

// Four SysEx data bytes as eight hex digits, each byte below 80: "4D001200" (a device code, the
// identity reply's revision bytes).
std::optional<std::array<uint8_t, 4>> ParseDataBytes(std::string_view text);

// "factory", "older", "package".
std::optional<InitialFlash> ParseInitialFlash(std::string_view text);

// The link presets: "none", "usb" (1,000,000 B/s), "din" (3125 B/s).
std::optional<LinkPacing> ParseLinkPreset(std::string_view text);

// "update" (powered up in its update mode) or "normal": whether it is in update mode.
std::optional<bool> ParsePowerUpMode(std::string_view text);

// KIND:N:REQUEST[:before], e.g. "write:5:01" or "any:3:identity:before": the unit's own request
// REQUEST (identity, or a vendor command in hex) after (or before) its answer to the N-th message
// of KIND.
std::optional<ScheduledRequest> ParseScheduledRequest(std::string_view text, std::string* error);

}  // namespace kv5
