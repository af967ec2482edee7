#include "protocol/Exchanges.h"

#include <algorithm>

#include "firmware/FirmwarePackage.h"
#include "protocol/ProtocolMessages.h"

namespace kv5 {

IdentifyOutcome IdentifyUnit(ExchangeState& state, SysexSender& sender,
                             const SessionTiming& timing) {
  // Once the window is going away nothing more is sent.
  if (state.Aborted()) return IdentifyOutcome::Aborted;
  {
    // A stray reply must not identify this unit by the code an earlier unit reported.
    std::lock_guard<std::mutex> hold(state.RecordLock);
    state.ReportedDeviceCode = DeviceCodeBytes{};
  }
  uint8_t request[kIdentityRequestLength];
  const int length = IdentityRequest(request);
  if (sender.SendSysex(request, static_cast<uint32_t>(length)) != 0) {
    return IdentifyOutcome::SendFailed;
  }
  if (!state.WaitReply(timing.IdentifyWaitMs)) return IdentifyOutcome::TimedOut;
  if (state.Aborted()) return IdentifyOutcome::Aborted;

  DeviceCodeBytes reported;
  {
    std::lock_guard<std::mutex> hold(state.RecordLock);
    if (state.ReplyStatus != kReplySuccess) return IdentifyOutcome::Refused;
    reported = state.ReportedDeviceCode;
  }
  // Every vendor message from here on carries this code's first byte, accepted or not.
  state.SetDeviceCode(reported);
  const bool accepted = std::find(AcceptedDeviceCodes.begin(), AcceptedDeviceCodes.end(),
                                  reported) != AcceptedDeviceCodes.end();
  return accepted ? IdentifyOutcome::Identified : IdentifyOutcome::NotAccepted;
}

int ReadDeviceMemory(ExchangeState& state, SysexSender& sender, const SessionTiming& timing,
                     uint32_t address, uint32_t length, uint8_t* destination) {
  if (state.Aborted()) return -1;
  uint8_t request[kMemoryReadRequestLength];
  const int requestLength = MemoryReadRequest(request, state.ModelByte(), address, length);
  {
    std::lock_guard<std::mutex> hold(state.RecordLock);
    state.ReadTotal = 0;
  }
  // A request that could not be sent ends as a timeout.
  sender.SendSysex(request, static_cast<uint32_t>(requestLength));
  // A unit may answer a long read in several replies, which the poller appends: while accepted
  // replies have brought part of the bytes, the next one is waited for. A wake that brought none
  // fails, as a reply with fewer bytes than asked for would leave older bytes in their place.
  for (;;) {
    if (!state.WaitReply(timing.MemoryReadWaitMs)) return -1;
    std::lock_guard<std::mutex> hold(state.RecordLock);
    if (state.ReplyStatus != kReplySuccess || state.ReadTotal <= 0) return -1;
    if (static_cast<uint32_t>(state.ReadTotal) >= length) {
      std::copy_n(state.ReadBackBuffer.get(), length, destination);
      return 0;
    }
  }
}

}  // namespace kv5
