#include "session/StringTable.h"

#include <cstdio>

namespace kv5 {

std::string LoadString(int id) {
  switch (id) {
    case IDS_ABOUTBOX:
      return "About TELVOR Q5 Updater(&A)...";
    case IDS_TIMEOUT_IDENTIFY:
      return "Time out error(1)";
    case IDS_TIMEOUT_WRITE:
      return "Time out error(2)";
    case IDS_TIMEOUT_ERASE:
      return "Time out error(3)";
    case IDS_ILLEGAL_DEVICE:
      return "Illegal device connected.";
    case IDS_USE_UPDATE_MODE:
      return "Please use the firmware update mode.";
    case IDS_TRANSFER_ERROR:
      return "Transfer error occurred.";
    case IDS_UPDATE_COMPLETED:
      return "Version update completed.";
    case IDS_IN_PROGRESS:
      return "In Progress.";
    case IDS_CANT_OPEN_IN:
      return "Can't open MIDI In device.";
    case IDS_ERROR_CAPTION:
      return "Error";
    case IDS_CANT_OPEN_OUT:
      return "Can't open MIDI Out device.";
    case IDS_ERASING:
      return "Erasing Flash memory.";
    case IDS_DATA_TRANSMIT:
      return "Data transmit  %d / %d ";
    default:
      return "";
  }
}

std::string DataTransmitText(int done, int total) {
  char text[64];
  std::snprintf(text, sizeof text, "Data transmit  %d / %d ", done, total);
  return text;
}

}  // namespace kv5
