// Every text the user sees in a message box or the status line, by string id.
#pragma once

#include <string>

namespace kv5 {

constexpr int IDS_ABOUTBOX = 101;
constexpr int IDS_TIMEOUT_IDENTIFY = 102;  // "Time out error(1)"
constexpr int IDS_TIMEOUT_WRITE = 103;     // "Time out error(2)"
constexpr int IDS_TIMEOUT_ERASE = 104;     // "Time out error(3)"
constexpr int IDS_ILLEGAL_DEVICE = 105;
constexpr int IDS_USE_UPDATE_MODE = 106;
constexpr int IDS_TRANSFER_ERROR = 107;
constexpr int IDS_UPDATE_COMPLETED = 108;
constexpr int IDS_IN_PROGRESS = 109;
constexpr int IDS_CANT_OPEN_IN = 110;
constexpr int IDS_ERROR_CAPTION = 111;
constexpr int IDS_CANT_OPEN_OUT = 113;
constexpr int IDS_ERASING = 114;
constexpr int IDS_DATA_TRANSMIT = 115;  // a format: done, total

// The text of a string id; empty for an id the table does not hold.
std::string LoadString(int id);

// "Data transmit  %d / %d " with the bytes acknowledged so far and the image's total.
std::string DataTransmitText(int done, int total);

}  // namespace kv5
