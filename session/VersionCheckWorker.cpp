#include "session/VersionCheckWorker.h"

#include <string>

#include "firmware/FirmwarePackage.h"
#include "protocol/Exchanges.h"
#include "session/GuardedHost.h"
#include "session/Identification.h"
#include "session/StringTable.h"

namespace kv5 {
namespace {

// Where one component's two stamps go in the version table.
struct StampSlots {
  const StampLocation& location;
  int unitSlot;
  int imageSlot;
};

// The text of a 5-byte stamp buffer up to its first NUL.
std::string StampText(const VersionStamp& stamp) {
  return std::string(stamp.data());
}

// Reads one component's stamp from the unit and puts it, sanitised, beside the image's stamp.
// 0 on success, -1 when the read failed.
int ReadComponent(GuardedHost& host, const StampSlots& slots, VersionStamp& unitStamp,
                  VersionStamp& imageStamp) {
  uint8_t bytes[4];
  if (ReadDeviceMemory(host.Exchange(), host, host.Timing(), slots.location.deviceAddress, 4,
                       bytes) != 0) {
    return -1;
  }
  for (int i = 0; i < 4; ++i) unitStamp[i] = static_cast<char>(bytes[i]);
  SanitizeStamp(unitStamp);
  host.SetVersionSlot(slots.unitSlot, StampText(unitStamp));
  imageStamp = VersionStamp{};
  ReadImageBytes(slots.location.resourceId, slots.location.imageOffset, 4,
                 reinterpret_cast<uint8_t*>(imageStamp.data()));
  host.SetVersionSlot(slots.imageSlot, StampText(imageStamp));
  return 0;
}

// The four reads, in order: 0 when SYSTEM, BOOT and SUBMCU were read, -1 otherwise. A failed
// PRESET read only empties the PRESET line.
int ReadStamps(GuardedHost& host) {
  VersionStamp unitStamp{};
  VersionStamp imageStamp{};
  const StampSlots system{kSystemStamp, VersionTable::UnitSystem, VersionTable::ImageSystem};
  const StampSlots preset{kPresetStamp, VersionTable::UnitPreset, VersionTable::ImagePreset};
  const StampSlots boot{kBootStamp, VersionTable::UnitBoot, VersionTable::ImageBoot};
  const StampSlots submcu{kSubmcuStamp, VersionTable::UnitSubmcu, VersionTable::ImageSubmcu};

  if (ReadComponent(host, system, unitStamp, imageStamp) != 0) return -1;
  if (ReadComponent(host, preset, unitStamp, imageStamp) != 0) {
    if (host.Aborted()) return -1;
    // Stamps of an earlier check must not be shown as this unit's.
    host.SetVersionSlot(preset.unitSlot, "");
    host.SetVersionSlot(preset.imageSlot, "");
  }
  if (ReadComponent(host, boot, unitStamp, imageStamp) != 0) return -1;
  if (ReadComponent(host, submcu, unitStamp, imageStamp) != 0) return -1;
  return 0;
}

int CheckVersions(GuardedHost& host) {
  // The busy state is left when the result is posted.
  if (IdentifyOrReport(host, /*leaveBusy=*/false) != 0) return -1;
  if (ReadStamps(host) != 0) {
    // A failed read is reported, but an abort stays silent.
    host.ShowError(IDS_TRANSFER_ERROR);
    return -1;
  }
  return 0;
}

}  // namespace

int VersionCheckWorker(SessionHost& sessionHost) {
  GuardedHost host(sessionHost);
  const int result = CheckVersions(host);
  // After an abort the window is gone: the guard drops these calls.
  host.CloseOutPort();
  host.CloseInPortIfOpen();
  host.PostVersionCheckDone(result);
  return 0;
}

}  // namespace kv5
