#include "session/VerifyWorker.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "protocol/Exchanges.h"
#include "protocol/ProtocolMessages.h"
#include "session/GuardedHost.h"
#include "session/Identification.h"
#include "session/StringTable.h"

namespace kv5 {

bool FlashVerification::AllVerified() const {
  return std::all_of(regions.begin(), regions.end(), [](const RegionVerdict& verdict) {
    return verdict.result == RegionVerdict::Result::Verified;
  });
}

std::string VerifyingText(const FlashRegion& region) {
  return std::string("Verifying ") + region.component;
}

namespace {

// Reads one region back against its image: 0 with the verdict set, -1 when the session ended.
int VerifyRegion(GuardedHost& host, const FlashRegion& region, uint8_t* readBack,
                 RegionVerdict& verdict) {
  const FirmwareImage image = OpenImage(region.resourceId);
  if (image.bytes == nullptr || image.size < region.imageSize) {
    // The package cannot give the bytes: a fault of the build, reported rather than read past.
    host.Fail(IDS_TRANSFER_ERROR);
    return -1;
  }
  const int32_t total = static_cast<int32_t>(region.imageSize);
  host.SetProgressRange(total);
  host.SetProgressPos(0);
  host.SetStatusLine(VerifyingText(region));
  for (int32_t done = 0; done < total;) {
    const int32_t count = std::min(kWriteChunk, total - done);
    const uint32_t address = region.address + static_cast<uint32_t>(done);
    if (ReadDeviceMemory(host.Exchange(), host, host.Timing(), address,
                         static_cast<uint32_t>(count), readBack) != 0) {
      if (!host.Aborted()) host.Fail(IDS_TRANSFER_ERROR);
      return -1;
    }
    const uint8_t* expected = image.bytes + done;
    const auto [read, _] = std::mismatch(readBack, readBack + count, expected);
    if (read != readBack + count) {
      verdict.result = RegionVerdict::Result::Differs;
      verdict.firstDifference = address + static_cast<uint32_t>(read - readBack);
      return 0;
    }
    done += count;
    host.SetProgressPos(done);
  }
  verdict.result = RegionVerdict::Result::Verified;
  return 0;
}

int Verify(GuardedHost& host, FlashVerification& verification) {
  if (IdentifyOrReport(host, /*leaveBusy=*/true) != 0) return -1;
  const auto readBack = std::make_unique<uint8_t[]>(kWriteChunk);
  for (size_t i = 0; i < kFlashRegions.size(); ++i) {
    host.SetStepCounter(std::to_string(i + 1) + "/" + std::to_string(kFlashRegions.size()));
    if (VerifyRegion(host, kFlashRegions[i], readBack.get(), verification.regions[i]) != 0)
      return -1;
  }
  return 0;
}

}  // namespace

int VerifyWorker(SessionHost& sessionHost) {
  GuardedHost host(sessionHost);
  FlashVerification& verification = sessionHost.Verification();
  verification = FlashVerification{};
  if (Verify(host, verification) == 0) host.LeaveBusy();
  return 0;
}

}  // namespace kv5
