// What the owner should do after a failure: one line per class of failure, looked up by the kind
// of session and the failure's message. The table is data; a new failure with a message of its
// own gets a row.
#pragma once

#include <string>

namespace kv5 {

// An update may leave the unit in its firmware update mode; a check or a verify reads only.
enum class SessionKind { Update, Reading };

// The front end's own endings, where the window shows no message.
inline constexpr const char* kBootReadFailedText =
    "The update ended: the unit did not answer the BOOT stamp read. Nothing was erased.";
inline constexpr const char* kStampReadFailedText =
    "The version check failed: the unit did not answer a memory read.";
inline constexpr const char* kFlashDiffersText = "The flash differs from the package.";

// Conditions the front end finds beside a session's message; their rows replace the message's.
inline constexpr const char* kDeviceBusyText = "the device is held by another program";
inline constexpr const char* kDeviceVanishedText = "the device disappeared during the session";
inline constexpr const char* kInterruptedText = "the session was interrupted";

// The next step after a session of that kind failed with that message (a string table text, one
// of the front end's, or one of the conditions above); empty when the table has no row for it.
std::string NextStepFor(SessionKind kind, const std::string& message);

}  // namespace kv5
