#include "tools/kv5update/NextSteps.h"

#include "session/StringTable.h"

namespace kv5 {
namespace {

struct NextStep {
  int stringId;         // the failure's message from the string table, or 0 ...
  const char* message;  // ... the front end's own message or condition
  const char* advice;
  const char* lead = "What to do: ";
};

constexpr NextStep kNextSteps[] = {
    {IDS_TIMEOUT_IDENTIFY, nullptr,
     "check that the unit is switched on and connected and that these are its ports "
     "('kv5update probe' finds them), then run the command again."},
    {IDS_TIMEOUT_WRITE, nullptr,
     "the unit stays in its update mode: check the cable, then run the update again."},
    {IDS_TIMEOUT_ERASE, nullptr,
     "the unit stays in its update mode: run the update again; if an erase times out again, "
     "power the unit up in its firmware update mode anew first."},
    {IDS_ILLEGAL_DEVICE, nullptr,
     "the device on these ports is not a unit this firmware is for: pick another port "
     "('kv5update probe' lists the units it finds)."},
    {IDS_USE_UPDATE_MODE, nullptr,
     "power the unit up in its firmware update mode, then run the update again."},
    {IDS_TRANSFER_ERROR, nullptr,
     "the unit stays in its update mode: run the update again; should it fail again, try "
     "another cable or MIDI interface."},
    // A port that does not open has no row of its own: when another program holds the device,
    // the row of that condition below says so.
    {0, kBootReadFailedText, "the unit is in its update mode and unchanged: run the update again."},
    {0, kStampReadFailedText,
     "run the check again; if the unit stays silent, power it off and on and check the ports."},
    // Said as sentences of their own, as the window's companions say them.
    {0, kDeviceBusyText,
     "Another program may be using the device: close it, or disconnect it from the unit's port, "
     "and try again.",
     ""},
    {0, kDeviceVanishedText,
     "The MIDI device disappeared during the session: its cable was pulled, or the unit's "
     "program or the MIDI system stopped.",
     ""},
};

}  // namespace

std::string NextStepFor(const std::string& message) {
  for (const NextStep& row : kNextSteps) {
    const std::string text = row.stringId != 0 ? LoadString(row.stringId) : row.message;
    if (text == message) return std::string(row.lead) + row.advice;
  }
  return {};
}

}  // namespace kv5
