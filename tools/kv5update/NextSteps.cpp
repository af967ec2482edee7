#include "tools/kv5update/NextSteps.h"

#include "session/StringTable.h"

namespace kv5 {
namespace {

// Once the unit has entered its update mode, a failed update leaves it there, without its old
// firmware, until an update completes: the owner must hear that running it again is the way out.
constexpr const char* kStaysInUpdateMode =
    "the unit stays in its firmware update mode until an update completes; running the update "
    "again starts over and recovers it. ";

enum Sessions { kUpdate = 1, kReading = 2, kEither = kUpdate | kReading };

struct NextStep {
  int sessions;         // the kinds of session the row is for
  int stringId;         // the failure's message from the string table, or 0 ...
  const char* message;  // ... the front end's own message or condition
  const char* advice;
  bool staysInUpdateMode = false;  // the advice follows kStaysInUpdateMode
  const char* lead = "What to do: ";
};

constexpr NextStep kNextSteps[] = {
    {kEither, IDS_TIMEOUT_IDENTIFY, nullptr,
     "check that the unit is switched on and connected and that these are its ports "
     "('kv5update probe' finds them), then run the command again."},
    {kUpdate, IDS_TIMEOUT_WRITE, nullptr, "Check the cable, then run the update again.", true},
    {kUpdate, IDS_TIMEOUT_ERASE, nullptr,
     "If an erase times out again, power the unit up in its firmware update mode anew first.",
     true},
    {kEither, IDS_ILLEGAL_DEVICE, nullptr,
     "the device on these ports is not a unit this firmware is for: pick another port "
     "('kv5update probe' lists the units it finds)."},
    {kUpdate, IDS_USE_UPDATE_MODE, nullptr,
     "power the unit up in its firmware update mode, then run the update again."},
    {kUpdate, IDS_TRANSFER_ERROR, nullptr,
     "Should it fail again, try another cable or MIDI interface.", true},
    {kReading, IDS_TRANSFER_ERROR, nullptr,
     "a read went unanswered; nothing on the unit was changed. Run the command again; if the "
     "unit stays silent, power it off and on and check the cable and the ports."},
    // A port that does not open has no row of its own: when another program holds the device,
    // the row of that condition below says so.
    {kUpdate, 0, kBootReadFailedText,
     "the unit is in its update mode and unchanged: run the update again."},
    {kReading, 0, kStampReadFailedText,
     "run the check again; if the unit stays silent, power it off and on and check the ports."},
    {kReading, 0, kFlashDiffersText,
     "the unit does not hold this package: run the update to write it."},
    // Said as sentences of their own, as the window's companions say them.
    {kEither, 0, kDeviceBusyText,
     "Another program may be using the device: close it, or disconnect it from the unit's port, "
     "and try again.",
     false, ""},
    {kReading, 0, kDeviceVanishedText,
     "The MIDI device disappeared during the session: its cable was pulled, or the unit's "
     "program or the MIDI system stopped.",
     false, ""},
    {kUpdate, 0, kDeviceVanishedText,
     "The MIDI device disappeared during the session: its cable was pulled, or the unit's "
     "program or the MIDI system stopped. The unit stays in its firmware update mode until an "
     "update completes: connect it again and run the update again, which recovers it.",
     false, ""},
    {kUpdate, 0, kInterruptedText,
     "If the unit had entered its firmware update mode, it stays there until an update "
     "completes: run the update again, which starts over and recovers it.",
     false, ""},
};

}  // namespace

std::string NextStepFor(SessionKind kind, const std::string& message) {
  const int session = kind == SessionKind::Update ? kUpdate : kReading;
  for (const NextStep& row : kNextSteps) {
    if ((row.sessions & session) == 0) continue;
    const std::string text = row.stringId != 0 ? LoadString(row.stringId) : row.message;
    if (text != message) continue;
    return std::string(row.lead) + (row.staysInUpdateMode ? kStaysInUpdateMode : "") + row.advice;
  }
  return {};
}

}  // namespace kv5
