#include "session/UpdateWorker.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "firmware/FirmwarePackage.h"
#include "protocol/Exchanges.h"
#include "protocol/ProtocolMessages.h"
#include "session/GuardedHost.h"
#include "session/Identification.h"
#include "session/StringTable.h"

namespace kv5 {
namespace {

constexpr int kPlanStepCount = static_cast<int>(UpdatePlan.size());

std::string StepText(int step) {
  char text[32];
  std::snprintf(text, sizeof text, "%d/%d", step, kPlanStepCount);
  return text;
}

// Sends a request whose send result is not examined: one that did not go out ends as a timeout.
template <int N, typename Build>
void SendRequest(GuardedHost& host, Build build) {
  uint8_t message[N];
  const int length = build(message);
  host.SendSysex(message, static_cast<uint32_t>(length));
}

// Reads the unit's BOOT stamp: 1 when it equals the BOOT image's, 0 when it differs, -1 when the
// session has ended.
int BootStampUnchanged(GuardedHost& host) {
  ExchangeState& state = host.Exchange();
  uint8_t unitStamp[4];
  if (ReadDeviceMemory(state, host, host.Timing(), kBootStamp.deviceAddress, 4, unitStamp) != 0) {
    if (!host.Aborted()) host.Fail(IDS_TRANSFER_ERROR);
    return -1;
  }
  uint8_t imageStamp[4];
  if (ReadImageBytes(kBootStamp.resourceId, kBootStamp.imageOffset, 4, imageStamp) != 0) {
    // The package cannot give the stamp: a fault of the build, reported rather than read past.
    host.Fail(IDS_TRANSFER_ERROR);
    return -1;
  }
  return std::memcmp(unitStamp, imageStamp, 4) == 0 ? 1 : 0;
}

int EraseRegion(GuardedHost& host, uint32_t address, uint32_t size) {
  ExchangeState& state = host.Exchange();
  const SessionTiming& timing = host.Timing();
  host.SetProgressRange(10);
  int failures = 0;
  for (;;) {
    SendRequest<kFlashEraseLength>(host, [&](uint8_t* message) {
      return FlashErase(message, state.ModelByte(), address, size);
    });
    host.SetProgressPos(1);
    host.SetStatusLine(LoadString(IDS_ERASING));
    // An erase is never resent after a timeout.
    if (!state.WaitReply(timing.EraseWaitMs)) {
      host.Fail(IDS_TIMEOUT_ERASE);
      return -1;
    }
    if (state.Aborted()) return -1;
    if (state.Status() == kReplySuccess) {
      host.SetProgressPos(10);
      return 0;
    }
    if (++failures >= timing.EraseAttempts) {
      host.Fail(IDS_TRANSFER_ERROR);
      return -1;
    }
    state.Pause(timing.ResendPauseMs);
  }
}

// Every attempt of a chunk owes one answer. A late answer to an attempt that timed out is taken
// as the answer to the attempt after it; the answers still owed are collected before the next
// chunk goes out, so that none of them is taken for the next chunk's answer (which could let a
// refused chunk pass as written). An owed answer that does not come within the write wait is
// taken as lost. False when the session was aborted meanwhile.
bool CollectOwedAnswers(ExchangeState& state, const SessionTiming& timing, int owed) {
  for (; owed > 0; --owed) {
    if (!state.WaitReply(timing.WriteWaitMs)) return true;
    if (state.Aborted()) return false;
  }
  return true;
}

// After an attempt of a chunk timed out, the unit may have written it and only its answer been
// lost; a unit that will not program a programmed cell then refuses every resend, and the chunk
// would fail although the flash holds it. So a refused resend after a timeout reads the chunk
// back, once per timeout: 1 when the flash holds exactly the chunk, 0 when not (or the read
// failed: the resends go on as before), -1 when the session was aborted.
int ChunkAlreadyWritten(GuardedHost& host, uint32_t address, const uint8_t* chunk, int32_t length,
                        int owed, std::unique_ptr<uint8_t[]>& readBack) {
  ExchangeState& state = host.Exchange();
  const SessionTiming& timing = host.Timing();
  // An answer still owed must not be taken for the read's reply.
  if (!CollectOwedAnswers(state, timing, owed)) return -1;
  if (!readBack) readBack = std::make_unique<uint8_t[]>(kWriteChunk);
  const uint32_t count = static_cast<uint32_t>(length);
  if (ReadDeviceMemory(state, host, timing, address, count, readBack.get()) != 0) {
    return host.Aborted() ? -1 : 0;
  }
  return std::memcmp(readBack.get(), chunk, count) == 0 ? 1 : 0;
}

int WriteImage(GuardedHost& host, uint32_t address, uint32_t size, int resourceId) {
  ExchangeState& state = host.Exchange();
  const SessionTiming& timing = host.Timing();
  const FirmwareImage image = OpenImage(resourceId);
  const int32_t total = static_cast<int32_t>(size != 0 ? size : image.size);
  if (image.bytes == nullptr || size > image.size) {
    // The package cannot give these bytes: a fault of the build, reported rather than read past.
    host.Fail(IDS_TRANSFER_ERROR);
    return -1;
  }
  host.SetProgressRange(total);
  int32_t done = 0;
  int32_t chunk = kWriteChunk;
  int failures = 0;
  int owed = 0;               // answers of this chunk's attempts not yet taken
  bool mayBeWritten = false;  // an attempt of this chunk timed out since the last read-back
  const auto message = std::make_unique<uint8_t[]>(kMaxOutgoingMessage);
  std::unique_ptr<uint8_t[]> readBack;
  for (;;) {
    // Only the last chunk of an image is shortened.
    if (done + chunk > total) chunk = total - done;
    const int length = FlashWrite(message.get(), state.ModelByte(),
                                  address + static_cast<uint32_t>(done), image.bytes + done, chunk);
    host.SendSysex(message.get(), static_cast<uint32_t>(length));
    ++owed;
    host.SetStatusLine(DataTransmitText(done, total));
    // Timeouts and error answers count against one counter; the kind of the last failure picks
    // the message.
    int failedWith = 0;
    bool written = false;
    if (!state.WaitReply(timing.WriteWaitMs)) {
      failedWith = IDS_TIMEOUT_WRITE;
      mayBeWritten = true;
    } else {
      --owed;
      if (state.Aborted()) return -1;
      written = state.Status() == kReplySuccess;
      if (!written && mayBeWritten) {
        mayBeWritten = false;
        const int held = ChunkAlreadyWritten(host, address + static_cast<uint32_t>(done),
                                             image.bytes + done, chunk, owed, readBack);
        if (held < 0) return -1;
        owed = 0;  // collected before the read
        written = held == 1;
      }
      failedWith = IDS_TRANSFER_ERROR;
    }
    if (written) {
      failures = 0;
      mayBeWritten = false;
      done += chunk;
      host.SetProgressPos(done);
      if (!CollectOwedAnswers(state, timing, owed)) return -1;
      owed = 0;
      if (done >= total) return 0;
      continue;
    }
    if (++failures >= timing.WriteAttempts) {
      host.Fail(failedWith);
      return -1;
    }
    state.Pause(timing.ResendPauseMs);
  }
}

int RunPlan(GuardedHost& host) {
  bool bootUnchanged = false;
  // Only the BOOT steps sit at device address 0; its stamp is read once, before any step runs.
  for (const PlanStep& step : UpdatePlan) {
    if (step.address != 0) continue;
    const int unchanged = BootStampUnchanged(host);
    if (unchanged < 0) return -1;
    bootUnchanged = unchanged == 1;
    break;
  }
  for (int j = 0; j < kPlanStepCount; ++j) {
    const PlanStep& step = UpdatePlan[static_cast<size_t>(j)];
    host.SetStepCounter(StepText(j + 1));
    if (step.address == 0 && bootUnchanged) continue;
    const uint32_t address = static_cast<uint32_t>(step.address);
    const uint32_t size = static_cast<uint32_t>(step.size);
    const int result = step.kind == kEraseStep ? EraseRegion(host, address, size)
                                               : WriteImage(host, address, size, step.resourceId);
    if (result != 0) return -1;
  }
  return 0;
}

// Identifies the unit and switches it into update mode: 0 to go on, -1 when the session ended.
int EnterUpdate(GuardedHost& host) {
  ExchangeState& state = host.Exchange();
  const SessionTiming& timing = host.Timing();
  if (IdentifyOrReport(host, /*leaveBusy=*/true) != 0) return -1;
  // From now on the poller's identity reply carries this unit's code.
  state.SetEchoCode(state.DeviceCode());

  SendRequest<kEnterUpdateModeLength>(
      host, [&](uint8_t* message) { return EnterUpdateMode(message, state.ModelByte()); });
  host.SetStatusLine(LoadString(IDS_ERASING));
  if (!state.WaitReply(timing.EnterUpdateModeWaitMs)) {
    host.Fail(IDS_TIMEOUT_IDENTIFY);
    return -1;
  }
  host.SetStatusLine("");
  if (state.Aborted()) return -1;
  const int status = state.Status();
  if (status == kReplyNotInUpdateMode) {
    host.Fail(IDS_USE_UPDATE_MODE);
    return -1;
  }
  if (status != kReplySuccess) {
    host.Fail(IDS_TRANSFER_ERROR);
    return -1;
  }
  state.Pause(timing.EnterUpdatePauseMs);
  return 0;
}

}  // namespace

int UpdateWorker(SessionHost& sessionHost) {
  GuardedHost host(sessionHost);
  ExchangeState& state = host.Exchange();
  host.SetStepCounter(StepText(0));
  if (EnterUpdate(host) != 0) return 0;
  if (RunPlan(host) != 0) return 0;

  SendRequest<kFinishUpdateLength>(
      host, [&](uint8_t* message) { return FinishUpdate(message, state.ModelByte()); });
  if (!state.WaitReply(host.Timing().FinishWaitMs)) {
    host.Fail(IDS_TRANSFER_ERROR);
    return 0;
  }
  // Any answer but an abort completes the update; its code is not examined.
  if (state.Aborted()) return 0;
  host.SetStatusLine(LoadString(IDS_UPDATE_COMPLETED));
  host.LeaveBusy();
  // Execute and Version Check stay disabled until the devices are rescanned.
  host.EnableActions(false);
  return 0;
}

int RunPlan(SessionHost& host) {
  GuardedHost guarded(host);
  return RunPlan(guarded);
}

int EraseRegion(SessionHost& host, uint32_t address, uint32_t size) {
  GuardedHost guarded(host);
  return EraseRegion(guarded, address, size);
}

int WriteImage(SessionHost& host, uint32_t address, uint32_t size, int resourceId) {
  GuardedHost guarded(host);
  return WriteImage(guarded, address, size, resourceId);
}

}  // namespace kv5
