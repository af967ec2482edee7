// What the owner should do after a failure: one line per class of failure, looked up by the
// failure's message. The table is data; a new failure with a message of its own gets a row.
#pragma once

#include <string>

namespace kv5 {

// The front end's own endings, where the window shows no message.
inline constexpr const char* kBootReadFailedText =
    "The update ended: the unit did not answer the BOOT stamp read. Nothing was erased.";
inline constexpr const char* kStampReadFailedText =
    "The version check failed: the unit did not answer a memory read.";

// Conditions the front end finds beside a session's message; their rows replace the message's.
inline constexpr const char* kDeviceBusyText = "the device is held by another program";
inline constexpr const char* kDeviceVanishedText = "the device disappeared during the session";

// The next step for a failure's message (a string table text, one of the front end's, or one of
// the conditions above); empty when the table has no row for it.
std::string NextStepFor(const std::string& message);

}  // namespace kv5
