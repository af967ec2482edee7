#include "session/Identification.h"

#include "protocol/Exchanges.h"
#include "session/StringTable.h"

namespace kv5 {

int IdentifyOrReport(GuardedHost& host, bool leaveBusy) {
  int message = 0;
  switch (IdentifyUnit(host.Exchange(), host, host.Timing())) {
    case IdentifyOutcome::Identified:
      return 0;
    case IdentifyOutcome::Aborted:
      return -1;
    case IdentifyOutcome::SendFailed:
      message = IDS_CANT_OPEN_OUT;
      break;
    case IdentifyOutcome::TimedOut:
      message = IDS_TIMEOUT_IDENTIFY;
      break;
    case IdentifyOutcome::Refused:
    case IdentifyOutcome::NotAccepted:
      message = IDS_ILLEGAL_DEVICE;
      break;
  }
  host.ShowError(message);
  if (leaveBusy) host.LeaveBusy();
  return -1;
}

}  // namespace kv5
